// Connections kept in memory instead of TCP, for the harnesses of the SDK
// client and of camsim's SDK server: each connection is a script holding the
// bytes the peer sends and recording the bytes the code under test sends.
// Nothing blocks: at the end of its bytes the peer has closed the connection
// or stays silent (a time-out at once).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fuzz::memnet {

struct Script {
    std::string inbound;   // bytes from the peer
    bool silent = false;   // after them: silence rather than a close
    std::string outbound;  // bytes the code under test sent
    size_t read = 0;
    bool shutdown = false;    // the code under test shut the connection down
    bool readerGone = false;  // a thread (not the harness's) that read it has ended
};

enum class Io { kOk, kClosed, kSilent };

// Starts an input: forgets queued scripts; the calling thread is the harness's.
void Begin();

// Client side: the next connection the code opens takes the next queued
// script; with none queued it is refused.
void Queue(std::shared_ptr<Script> script);
// Server side: a listener, and a connection waiting on it for Accept.
int Listen();
// The listeners open now, in the order they were made.
std::vector<int> Listeners();
void Offer(int listener, std::shared_ptr<Script> script);
// True when a connection waits on the listener.
bool Pending(int listener);
// Waits until something is offered or Wake is called; false after timeoutMs.
bool WaitOffer(int timeoutMs);
void Wake();

// The code's side of a connection: a descriptor, or -1.
int Connect();
int Accept(int listener);
Io Recv(int fd, void* data, size_t length);
bool Send(int fd, const void* data, size_t length);
// True when nothing is left to read and the peer has closed (silence is not a close).
bool PeerClosed(int fd);
void Shutdown(int fd);
void Close(int fd);

// Waits until the code has shut the script's connection down, or until a
// thread that read it has ended. False after timeoutMs.
bool WaitShutdown(const std::shared_ptr<Script>& script, int timeoutMs);
bool WaitReaderGone(const std::shared_ptr<Script>& script, int timeoutMs);

}  // namespace fuzz::memnet
