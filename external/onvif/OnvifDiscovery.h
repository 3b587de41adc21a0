// WS-Discovery for ONVIF cameras: a Probe for tdn:NetworkVideoTransmitter to
// 239.255.255.250:3702 (or to one address), and the reader of the answers.
// Answers from anything that is not a camera, answers to another probe and
// malformed ones are ignored.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace onvif {

constexpr const char* kDiscoveryGroup = "239.255.255.250";
constexpr int kDiscoveryPort = 3702;

struct DiscoveredCamera {
    std::string from;                 // the sender's address
    std::string endpoint;             // wsa:EndpointReference/Address, e.g. urn:uuid:...
    std::vector<std::string> xaddrs;  // device service addresses
    std::vector<std::string> scopes;
    std::string name;      // from the scope onvif://www.onvif.org/name/..., decoded
    std::string hardware;  // from .../hardware/...
};

// A Probe with that wsa:MessageID (urn:uuid:...).
std::string ProbeMessage(const std::string& messageId);
// Reads one datagram. True with the cameras it names when it is a ProbeMatches
// relating to messageId (any when empty) whose matches are cameras with addresses.
bool ReadProbeMatches(const std::string& datagram, const std::string& messageId,
                      std::vector<DiscoveredCamera>* out);

// For the simulated cameras: whether a datagram is a Probe asking for
// cameras (no types, or NetworkVideoTransmitter), with its MessageID.
bool ReadProbe(const std::string& datagram, std::string* messageId);
std::string ProbeMatchesMessage(const std::string& relatesTo, const std::string& endpoint,
                                const std::string& xaddr, const std::vector<std::string>& scopes);
// A fresh urn:uuid: text (random); empty if no random bytes.
std::string NewMessageId();

struct DiscoveryOptions {
    int waitMs = 1000;               // how long answers are collected
    std::string target;              // empty: the multicast group; else one camera's address
    std::string multicastInterface;  // address of the interface to send on; empty: the route's
};

// Sends one Probe and collects answers until waitMs has passed; onCamera (if
// set) hears each new camera at once. Cameras are listed once by endpoint.
// Returns 0, or kErrConnect / kErrNoResources (onvif codes) when no socket.
int32_t Discover(const DiscoveryOptions& options, std::vector<DiscoveredCamera>* out,
                 const std::function<void(const DiscoveredCamera&)>& onCamera = nullptr);

}  // namespace onvif
