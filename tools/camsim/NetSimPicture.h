// The test picture of a simulated network camera: a world of coloured cells seen
// through the camera's pan/tilt/zoom, with its brightness, contrast, saturation,
// scene preset, mirror, flip and portrait turn applied, and the camera's name, a
// clock and its settings written over it.
#pragma once

#include <cstdint>
#include <string>

#include "CameraModel.h"
#include "StreamEncoder.h"

namespace camsim {

// The scene under a stream's overlay, kept while the camera's view and picture
// settings stay as they were: a live stream then copies it instead of drawing
// every pixel again. One per stream; not shared between threads.
struct SceneCache {
    bool valid = false;
    CameraSnapshot of;
    YuvPicture scene;
};

// Draws into picture (already sized; even width and height). clock is "HH:MM:SS";
// frame counts the stream's pictures. The overlay starts overlayTop rows down,
// leaving the rows above it to the time stripe. With a cache, the scene is drawn
// only when it changed.
void DrawTestPicture(const std::string& name, const std::string& clock, uint32_t frame,
                     const CameraSnapshot& s, YuvPicture* picture, int overlayTop = 0,
                     SceneCache* cache = nullptr);

// Draws the capture time stripe (NetSimStamp.h) over the top rows, in grey.
void DrawTimeStripe(uint64_t micros, YuvPicture* picture);

// Fills a band across the lower part of the picture with noise that changes
// every frame, so the stream costs what a busy real scene costs to send and decode.
void DrawBusyBand(uint32_t frame, YuvPicture* picture);

// Writes ASCII text in the built-in 5x7 font, each dot scale x scale pixels, white on
// a dark box. Lower case is shown as upper case; other characters as '?'.
void DrawText(const std::string& text, int x, int y, int scale, YuvPicture* picture);

}  // namespace camsim
