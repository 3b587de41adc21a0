#include <arpa/inet.h>
#include <net/if.h>

#include <cstring>

#include "Camsim.h"

namespace camsim {

std::string NetCameraAddress(int index, const std::string& first) {
    in_addr a{};
    if (inet_pton(AF_INET, first.c_str(), &a) != 1)
        return {};
    uint32_t host = ntohl(a.s_addr) + static_cast<uint32_t>(index);
    if ((host >> 24) != 127)
        return {};  // stay on loopback
    a.s_addr = htonl(host);
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

bool OnlyLoopbackLinks() {
    // if_nameindex asks the kernel for this namespace's links; /sys may still
    // show the host's.
    struct if_nameindex* list = if_nameindex();
    if (!list)
        return false;
    bool only = true;
    for (struct if_nameindex* i = list; i->if_index != 0; ++i) {
        if (std::strcmp(i->if_name, "lo") != 0)
            only = false;
    }
    if_freenameindex(list);
    return only;
}

}  // namespace camsim
