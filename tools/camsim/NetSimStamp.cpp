#include "NetSimStamp.h"

#include <algorithm>
#include <chrono>

namespace camsim::stamp {

size_t Append(Codec codec, std::vector<uint8_t>* out) {
    if (codec == Codec::kH264) {
        // SEI NAL unit: user data unregistered (type 5), 26 bytes of payload.
        const uint8_t head[] = {0, 0, 0, 1, 0x06, 0x05, 16 + kTimeBytes};
        out->insert(out->end(), head, head + sizeof head);
    } else {
        // MPEG-4 Part 2 user data start code; 2 bytes shorter than the NAL head,
        // padded so both units have the same size.
        const uint8_t head[] = {0, 0, 1, 0xB2, 0xFF, 0xFF, 0xFF};
        out->insert(out->end(), head, head + sizeof head);
    }
    out->insert(out->end(), kUuid, kUuid + sizeof kUuid);
    const size_t field = out->size();
    out->insert(out->end(), kTimeBytes, 0x80);
    out->push_back(0x80);  // rbsp trailing bits (a padding byte in MPEG-4 user data)
    return field;
}

void Write(uint8_t* field, uint64_t micros) {
    for (size_t i = 0; i < kTimeBytes; ++i)
        field[kTimeBytes - 1 - i] = static_cast<uint8_t>(0x80 | ((micros >> (7 * i)) & 0x7F));
}

bool Find(const uint8_t* data, size_t length, uint64_t* micros) {
    if (!data)
        return false;
    const uint8_t* end = data + length;
    const uint8_t* at = std::search(data, end, kUuid, kUuid + sizeof kUuid);
    if (end - at < static_cast<ptrdiff_t>(sizeof kUuid + kTimeBytes))
        return false;
    at += sizeof kUuid;
    uint64_t v = 0;
    for (size_t i = 0; i < kTimeBytes; ++i) {
        if (!(at[i] & 0x80))
            return false;
        v = v << 7 | (at[i] & 0x7F);
    }
    *micros = v;
    return true;
}

uint64_t NowMicros() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

}  // namespace camsim::stamp
