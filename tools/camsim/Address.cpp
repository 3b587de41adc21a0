#include <arpa/inet.h>

#include "Camsim.h"

namespace camsim {

std::string NetCameraAddress(int index, const std::string& first) {
    in_addr a{};
    if (inet_pton(AF_INET, first.c_str(), &a) != 1) return {};
    uint32_t host = ntohl(a.s_addr) + static_cast<uint32_t>(index);
    if ((host >> 24) != 127) return {};  // stay on loopback
    a.s_addr = htonl(host);
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

}  // namespace camsim
