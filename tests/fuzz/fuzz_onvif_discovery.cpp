// The WS-Discovery readers. Whatever the datagram: a ProbeMatches is taken only
// as an answer to our probe, and every camera it yields has an endpoint and
// only http:// device addresses; a probe read has its message id.
//
// Input: Byte (0: match any message id), then the datagram.
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "OnvifDiscovery.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    const bool any = in.Byte() == 0;
    const std::string datagram = in.Rest();
    std::vector<onvif::DiscoveredCamera> found;
    const bool ok = onvif::ReadProbeMatches(datagram, any ? "" : "urn:uuid:1", &found);
    if (ok != !found.empty())
        std::abort();
    for (const auto& c : found) {
        if (c.endpoint.empty() || c.xaddrs.empty())
            std::abort();
        for (const auto& x : c.xaddrs)
            if (x.rfind("http://", 0) != 0)
                std::abort();
    }
    std::string id;
    if (onvif::ReadProbe(datagram, &id) && id.empty())
        std::abort();
    return 0;
}
