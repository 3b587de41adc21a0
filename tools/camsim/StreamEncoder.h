// Video encoder for a simulated camera's live stream: one per watched stream.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace camsim {

// A picture in YUV 4:2:0 planar form, owned by the caller.
struct YuvPicture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> y, u, v;  // width*height, and a quarter of that each
    void Resize(int w, int h);
};

class StreamEncoder {
  public:
    enum class Codec { kH264, kMpeg4, kH265 };

    StreamEncoder();
    ~StreamEncoder();
    StreamEncoder(const StreamEncoder&) = delete;
    StreamEncoder& operator=(const StreamEncoder&) = delete;

    // kH264: libx264 or any other H.264 encoder, MPEG-4 Part 2 when none exists.
    // kH265: libx265 only, a key frame every second. False with a reason in
    // *error when no encoder opens.
    bool Open(int width, int height, int fps, std::string* error, Codec want = Codec::kH264);
    Codec codec() const { return codec_; }
    // Encodes one picture; appends the resulting stream bytes (possibly none yet).
    // Key frames carry their parameter sets, so a decoder may join at any key frame.
    bool Encode(const YuvPicture& picture, std::vector<uint8_t>* out, bool* keyFrame);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    Codec codec_ = Codec::kH264;
};

}  // namespace camsim
