// Reading a fuzz input as a small structured script, and writing one (the seed
// generator). Everything past the end reads as zero, so every input is valid.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

class Input {
  public:
    Input(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}

    bool Empty() const { return p_ == end_; }
    size_t Left() const { return static_cast<size_t>(end_ - p_); }

    uint8_t Byte() { return p_ < end_ ? *p_++ : 0; }
    uint16_t U16() {
        uint16_t lo = Byte();
        return static_cast<uint16_t>(lo | Byte() << 8);
    }
    uint32_t U32() {
        uint32_t lo = U16();
        return lo | static_cast<uint32_t>(U16()) << 16;
    }
    // Up to n bytes (fewer at the end of the input).
    std::string Take(size_t n) {
        n = n < Left() ? n : Left();
        std::string s(reinterpret_cast<const char*>(p_), n);
        p_ += n;
        return s;
    }
    // A piece preceded by its 16-bit length.
    std::string Piece() { return Take(U16()); }
    std::string Rest() { return Take(Left()); }

  private:
    const uint8_t* p_;
    const uint8_t* end_;
};

class Output {
  public:
    Output& Byte(uint8_t v) {
        bytes_.push_back(static_cast<char>(v));
        return *this;
    }
    Output& U16(uint16_t v) {
        return Byte(static_cast<uint8_t>(v)).Byte(static_cast<uint8_t>(v >> 8));
    }
    Output& U32(uint32_t v) {
        return U16(static_cast<uint16_t>(v)).U16(static_cast<uint16_t>(v >> 16));
    }
    Output& Raw(std::string_view s) {
        bytes_.append(s);
        return *this;
    }
    Output& Piece(std::string_view s) { return U16(static_cast<uint16_t>(s.size())).Raw(s); }
    const std::string& Bytes() const { return bytes_; }

  private:
    std::string bytes_;
};

// A broken invariant: says which and aborts, so libFuzzer keeps the input.
[[noreturn]] inline void Fail(const char* what, long a = 0, long b = 0) {
    std::fprintf(stderr, "fuzz invariant broken: %s (%ld, %ld)\n", what, a, b);
    std::abort();
}

inline void Check(bool ok, const char* what, long a = 0, long b = 0) {
    if (!ok)
        Fail(what, a, b);
}

// True when the field holds a NUL within its size.
inline bool Terminated(const char* field, size_t size) {
    for (size_t i = 0; i < size; ++i)
        if (field[i] == '\0')
            return true;
    return false;
}

// Well-formed UTF-8 (no cut or overlong sequences, no surrogates).
inline bool ValidUtf8(const char* text) {
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    while (*s) {
        unsigned c = *s;
        size_t len = c < 0x80                   ? 1
                     : (c >= 0xC2 && c <= 0xDF) ? 2
                     : (c >= 0xE0 && c <= 0xEF) ? 3
                     : (c >= 0xF0 && c <= 0xF4) ? 4
                                                : 0;
        if (len == 0)
            return false;
        for (size_t i = 1; i < len; ++i)
            if ((s[i] & 0xC0) != 0x80)
                return false;
        if ((c == 0xE0 && s[1] < 0xA0) || (c == 0xED && s[1] >= 0xA0) ||
            (c == 0xF0 && s[1] < 0x90) || (c == 0xF4 && s[1] >= 0x90))
            return false;
        s += len;
    }
    return true;
}

// Whole characters of a double-byte code page such as GBK (a byte of 0x81 or
// more starts a two-byte character).
inline bool WholeDoubleByte(const char* text) {
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    while (*s) {
        if (*s >= 0x81) {
            if (!s[1])
                return false;
            s += 2;
        } else {
            ++s;
        }
    }
    return true;
}

}  // namespace fuzz
