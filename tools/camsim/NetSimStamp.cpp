#include "NetSimStamp.h"

#include <algorithm>
#include <chrono>

namespace camsim::stamp {

size_t Append(Codec codec, std::vector<uint8_t>* out) {
    if (codec == Codec::kH264) {
        // SEI NAL unit: user data unregistered (type 5), 26 bytes of payload.
        const uint8_t head[] = {0, 0, 0, 1, 0x06, 0x05, 16 + kTimeBytes};
        out->insert(out->end(), head, head + sizeof head);
    } else if (codec == Codec::kH265) {
        // Prefix SEI NAL unit (type 39, temporal id 0), same payload.
        const uint8_t head[] = {0, 0, 0, 1, 39 << 1, 0x01, 0x05, 16 + kTimeBytes};
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

namespace {

constexpr uint8_t kStripeStart = 0xB4;  // 10110100: both edges, never all one colour
constexpr int kBlocks = 64;
constexpr uint8_t kWhite = 235, kBlack = 16;

// CRC-8 (polynomial x^8+x^2+x+1) of the time, most significant byte first.
uint8_t StripeCheck(uint64_t time) {
    uint8_t crc = 0;
    for (int b = kStripeTimeBits / 8 - 1; b >= 0; --b) {
        crc ^= static_cast<uint8_t>(time >> (8 * b));
        for (int i = 0; i < 8; ++i)
            crc = static_cast<uint8_t>(crc & 0x80 ? (crc << 1) ^ 0x07 : crc << 1);
    }
    return crc;
}

// Bit i of the stripe, block 0 leftmost.
bool StripeBit(uint64_t time, int i) {
    if (i < 8)
        return kStripeStart >> (7 - i) & 1;
    if (i < 8 + kStripeTimeBits)
        return time >> (kStripeTimeBits - 1 - (i - 8)) & 1;
    return StripeCheck(time) >> (7 - (i - 8 - kStripeTimeBits)) & 1;
}

bool StripeFits(const uint8_t* gray, int width, int height, int stride) {
    return gray && width >= kStripeMinWidth && height >= 2 * kStripeRows && stride >= width;
}

}  // namespace

void DrawStripe(uint64_t micros, uint8_t* gray, int width, int height, int stride) {
    if (!StripeFits(gray, width, height, stride))
        return;
    const uint64_t time = micros & ((uint64_t{1} << kStripeTimeBits) - 1);
    for (int i = 0; i < kBlocks; ++i) {
        const int x0 = i * width / kBlocks, x1 = (i + 1) * width / kBlocks;
        const uint8_t luma = StripeBit(time, i) ? kWhite : kBlack;
        for (int y = 0; y < kStripeRows; ++y)
            std::fill(gray + static_cast<size_t>(y) * stride + x0,
                      gray + static_cast<size_t>(y) * stride + x1, luma);
    }
}

bool ReadStripe(const uint8_t* gray, int width, int height, int stride, uint64_t* micros) {
    if (!StripeFits(gray, width, height, stride))
        return false;
    return ReadScaledStripe(gray, stride, 0, 0, width, kStripeRows, micros);
}

bool ReadScaledStripe(const uint8_t* gray, int stride, int x, int y, int width, int rows,
                      uint64_t* micros) {
    if (!gray || x < 0 || y < 0 || width < kBlocks || rows < 1 || stride < x + width)
        return false;
    uint64_t all = 0;  // blocks 0-63 as one number, block 0 the top bit
    for (int i = 0; i < kBlocks; ++i) {
        // The middle of each block: compression and scaling blur its edges.
        const int x0 = x + i * width / kBlocks, x1 = x + (i + 1) * width / kBlocks;
        const int inset = (x1 - x0) / 4;
        const int y0 = y + rows / 4, y1 = std::max(y0 + 1, y + rows * 3 / 4);
        int sum = 0, count = 0;
        for (int r = y0; r < y1; ++r)
            for (int c = x0 + inset; c < x1 - inset; ++c, ++count)
                sum += gray[static_cast<size_t>(r) * stride + c];
        if (count == 0)
            return false;
        all = all << 1 | (sum / count > (kWhite + kBlack) / 2 ? 1 : 0);
    }
    if ((all >> 56) != kStripeStart)
        return false;
    const uint64_t time = (all >> 8) & ((uint64_t{1} << kStripeTimeBits) - 1);
    if (StripeCheck(time) != (all & 0xFF))
        return false;
    *micros = time;
    return true;
}

uint64_t NowMicros() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

}  // namespace camsim::stamp
