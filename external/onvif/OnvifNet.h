// The few socket operations of the ONVIF module that HTTP does not cover:
// UDP for WS-Discovery and a bounded TCP connect to tell whether an address
// a camera reports can be reached. Platform code lives in OnvifNet_<os>.cpp.
#pragma once

#include <cstdint>
#include <string>

namespace onvif::net {

// True when a TCP connection to host:port is accepted within limitMs.
bool TcpReachable(const std::string& host, int port, int limitMs);

// A UDP socket; -1 when closed.
class Udp {
  public:
    Udp() = default;
    ~Udp();
    Udp(const Udp&) = delete;
    Udp& operator=(const Udp&) = delete;

    // Binds to address:port (address empty: any, port 0: any). reuse lets
    // several sockets share the port (camsim's cameras on 3702).
    bool Open(const std::string& address, int port, bool reuse);
    // Joins the multicast group on the interface with that address.
    bool Join(const std::string& group, const std::string& interfaceAddress);
    // For multicast sends: the interface and loop-back of our own sends.
    bool SetMulticastInterface(const std::string& interfaceAddress);
    bool SendTo(const std::string& data, const std::string& host, int port);
    // Waits up to waitMs; true with a datagram, false on timeout or error.
    bool Receive(std::string* data, std::string* fromHost, int* fromPort, int waitMs);
    void Close();
    // Waits up to waitMs for any of the sockets; the index of a readable one, or -1.
    static int WaitAny(const Udp* const* sockets, int count, int waitMs);
    bool IsOpen() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

}  // namespace onvif::net
