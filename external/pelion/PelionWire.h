// Frames of the camera wire protocol (docs/sdk-protocol.md): a 16-byte header, then
// the payload. Every integer is little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace pelion::wire {

inline constexpr uint8_t kMagic[4] = {'P', 'E', 'L', 'N'};
inline constexpr uint8_t kVersion = 1;
inline constexpr size_t kHeaderSize = 16;
inline constexpr uint32_t kMaxControlPayload = 1u << 20;  // text commands and answers
inline constexpr uint32_t kMaxMediaPayload = 8u << 20;    // one encoded picture

enum Type : uint8_t {
    kLoginRequest = 0x01,
    kTextRequest = 0x02,
    kLogout = 0x03,
    kStreamRequest = 0x04,
    kLoginAnswer = 0x81,
    kTextAnswer = 0x82,
    kStreamAnswer = 0x84,
    kMedia = 0x85,
};

inline constexpr size_t kUserSize = 32;
inline constexpr size_t kPasswordSize = 32;
inline constexpr size_t kLoginRequestSize = kUserSize + kPasswordSize;
inline constexpr size_t kLoginAnswerSize = 8 + 288;  // result, token, device info
inline constexpr size_t kStreamRequestSize = 12;     // token, channel, stream type
inline constexpr size_t kStreamAnswerSize = 20;      // result, width, height, fps, data type
inline constexpr size_t kMediaPrefixSize = 16;       // data type, flags, timestamp

struct Header {
    uint8_t version = kVersion;
    uint8_t type = 0;
    uint32_t sequence = 0;
    uint32_t length = 0;
};

inline void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint32_t Get32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void EncodeHeader(const Header& h, uint8_t out[kHeaderSize]) {
    std::memcpy(out, kMagic, 4);
    out[4] = h.version;
    out[5] = h.type;
    out[6] = out[7] = 0;
    Put32(out + 8, h.sequence);
    Put32(out + 12, h.length);
}

// False when the bytes are not a frame header of this protocol (any version).
inline bool DecodeHeader(const uint8_t in[kHeaderSize], Header* h) {
    if (std::memcmp(in, kMagic, 4) != 0)
        return false;
    h->version = in[4];
    h->type = in[5];
    h->sequence = Get32(in + 8);
    h->length = Get32(in + 12);
    return true;
}

}  // namespace pelion::wire
