#include "MemNet.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace fuzz::memnet {
namespace {

struct Net {
    std::mutex mu;
    std::condition_variable changed;
    std::deque<std::shared_ptr<Script>> queued;
    std::map<int, std::deque<std::shared_ptr<Script>>> listeners;
    std::map<int, std::shared_ptr<Script>> open;
    int next = 1000;
    bool woken = false;
    std::thread::id harness;
};

// Never destroyed: threads of the code under test may outlive static destruction.
Net& TheNet() {
    static Net* net = new Net;
    return *net;
}

// Marks the script when the thread that read it ends.
struct ReaderExit {
    std::shared_ptr<Script> script;
    ~ReaderExit() {
        if (!script)
            return;
        Net& n = TheNet();
        std::lock_guard<std::mutex> lock(n.mu);
        script->readerGone = true;
        n.changed.notify_all();
    }
};
thread_local ReaderExit t_reader;

int OpenLocked(Net& n, std::shared_ptr<Script> s) {
    int fd = n.next++;
    n.open[fd] = std::move(s);
    return fd;
}

std::shared_ptr<Script> FindLocked(Net& n, int fd) {
    auto it = n.open.find(fd);
    return it == n.open.end() ? nullptr : it->second;
}

}  // namespace

void Begin() {
    Net& n = TheNet();
    std::lock_guard<std::mutex> lock(n.mu);
    n.queued.clear();
    for (auto& [fd, pending] : n.listeners) pending.clear();
    n.harness = std::this_thread::get_id();
}

void Queue(std::shared_ptr<Script> script) {
    Net& n = TheNet();
    std::lock_guard<std::mutex> lock(n.mu);
    n.queued.push_back(std::move(script));
}

int Listen() {
    Net& n = TheNet();
    std::lock_guard<std::mutex> lock(n.mu);
    int fd = n.next++;
    n.listeners[fd];
    return fd;
}

std::vector<int> Listeners() {
    Net& n = TheNet();
    std::lock_guard<std::mutex> lock(n.mu);
    std::vector<int> out;
    for (auto& [fd, pending] : n.listeners) out.push_back(fd);
    return out;
}

void Offer(int listener, std::shared_ptr<Script> script) {
    Net& n = TheNet();
    std::lock_guard<std::mutex> lock(n.mu);
    n.listeners[listener].push_back(std::move(script));
    n.changed.notify_all();
}

bool Pending(int listener) {
    Net& n = TheNet();
    std::lock_guard<std::mutex> lock(n.mu);
    auto it = n.listeners.find(listener);
    return it != n.listeners.end() && !it->second.empty();
}

bool WaitOffer(int timeoutMs) {
    Net& n = TheNet();
    std::unique_lock<std::mutex> lock(n.mu);
    auto any = [&] {
        if (n.woken)
            return true;
        for (auto& [fd, pending] : n.listeners)
            if (!pending.empty())
                return true;
        return false;
    };
    bool ready = timeoutMs < 0
                     ? (n.changed.wait(lock, any), true)
                     : n.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), any);
    n.woken = false;
    return ready;
}

void Wake() {
    Net& n = TheNet();
    std::lock_guard<std::mutex> lock(n.mu);
    n.woken = true;
    n.changed.notify_all();
}

int Connect() {
    Net& n = TheNet();
    std::lock_guard<std::mutex> lock(n.mu);
    if (n.queued.empty())
        return -1;
    auto s = n.queued.front();
    n.queued.pop_front();
    return OpenLocked(n, std::move(s));
}

int Accept(int listener) {
    Net& n = TheNet();
    std::lock_guard<std::mutex> lock(n.mu);
    auto it = n.listeners.find(listener);
    if (it == n.listeners.end() || it->second.empty())
        return -1;
    auto s = it->second.front();
    it->second.pop_front();
    return OpenLocked(n, std::move(s));
}

Io Recv(int fd, void* data, size_t length) {
    Net& n = TheNet();
    std::lock_guard<std::mutex> lock(n.mu);
    auto s = FindLocked(n, fd);
    if (!s)
        return Io::kClosed;
    if (std::this_thread::get_id() != n.harness && !t_reader.script)
        t_reader.script = s;
    if (s->shutdown)
        return Io::kClosed;
    size_t take = std::min(s->inbound.size() - s->read, length);
    std::memcpy(data, s->inbound.data() + s->read, take);
    s->read += take;
    if (take == length)
        return Io::kOk;
    // What arrived is consumed; then the peer is gone or says nothing more.
    return s->silent ? Io::kSilent : Io::kClosed;
}

bool Send(int fd, const void* data, size_t length) {
    Net& n = TheNet();
    std::lock_guard<std::mutex> lock(n.mu);
    auto s = FindLocked(n, fd);
    if (!s || s->shutdown)
        return false;
    s->outbound.append(static_cast<const char*>(data), length);
    return true;
}

bool PeerClosed(int fd) {
    Net& n = TheNet();
    std::lock_guard<std::mutex> lock(n.mu);
    auto s = FindLocked(n, fd);
    if (!s || s->shutdown)
        return true;
    s->read = s->inbound.size();  // reads and drops what is there
    return !s->silent;
}

void Shutdown(int fd) {
    Net& n = TheNet();
    std::lock_guard<std::mutex> lock(n.mu);
    if (auto s = FindLocked(n, fd)) {
        s->shutdown = true;
        n.changed.notify_all();
    }
}

void Close(int fd) {
    Net& n = TheNet();
    std::lock_guard<std::mutex> lock(n.mu);
    n.open.erase(fd);
    n.listeners.erase(fd);
}

bool WaitShutdown(const std::shared_ptr<Script>& script, int timeoutMs) {
    Net& n = TheNet();
    std::unique_lock<std::mutex> lock(n.mu);
    return n.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return script->shutdown; });
}

bool WaitReaderGone(const std::shared_ptr<Script>& script, int timeoutMs) {
    Net& n = TheNet();
    std::unique_lock<std::mutex> lock(n.mu);
    return n.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return script->readerGone; });
}

}  // namespace fuzz::memnet
