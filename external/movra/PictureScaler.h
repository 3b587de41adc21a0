// Converts a decoded picture into a 32-bit image of the target's size, letterboxed.
#pragma once

#include <cstdint>
#include <vector>

struct AVFrame;
struct SwsContext;

namespace movra {

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const Rect&) const = default;
};

// The largest rectangle of the picture's display shape (sample aspect sarNum:sarDen; 0 means
// square) centred in the target.
Rect Letterbox(int targetWidth, int targetHeight, int pictureWidth, int pictureHeight, int sarNum,
               int sarDen);

// Someone else's 32-bit image; stride in bytes.
struct Image {
    uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;
};

class PictureScaler {
  public:
    PictureScaler();
    ~PictureScaler();
    PictureScaler(const PictureScaler&) = delete;
    PictureScaler& operator=(const PictureScaler&) = delete;

    // Draws frame into the scaler's own image of the target's size; false when it cannot be
    // converted.
    bool Draw(const AVFrame* frame, int targetWidth, int targetHeight);
    // Draws frame over the whole of image, bars included; the scaler keeps no image of its own.
    bool DrawInto(const AVFrame* frame, const Image& image);

    const uint32_t* pixels() const { return pixels_.data(); }
    int width() const { return setup_.targetWidth; }
    int height() const { return setup_.targetHeight; }
    int stride() const { return stride_ * 4; }
    const Rect& video() const { return setup_.video; }

  private:
    // Everything the converter and the image were last set up for.
    struct Setup {
        int sourceWidth = 0;
        int sourceHeight = 0;
        int format = -1;
        int matrix = 0;
        bool fullRange = false;
        int targetWidth = 0;
        int targetHeight = 0;
        Rect video;
        bool operator==(const Setup&) const = default;
    };

    // Sets up the converters for this frame and target; false when they cannot be.
    bool Prepare(const AVFrame* frame, int targetWidth, int targetHeight);
    // Converts the frame into the video's place of an image whose top-left pixel is at image.
    bool Scale(const AVFrame* frame, uint8_t* image, int stride);

    // To the video's size in YUV 4:4:4 (into an intermediate shared by every scaler), then
    // to RGB.
    SwsContext* resize_ = nullptr;
    SwsContext* toRgb_ = nullptr;
    Setup setup_;
    // The scaler's own image and the geometry its bars were painted for.
    std::vector<uint32_t> pixels_;
    int stride_ = 0;  // in pixels
    int ownWidth_ = 0;
    int ownHeight_ = 0;
    Rect ownVideo_;
};

}  // namespace movra
