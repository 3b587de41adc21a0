// What a simulated network camera puts into its stream: the test picture shows
// the camera's parameters and PTZ position, and every access unit carries a send
// stamp that survives any split of the data and never looks like a start code.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "CameraModel.h"
#include "NetSimPicture.h"
#include "NetSimStamp.h"

namespace camsim {
namespace {

CameraSnapshot Defaults() {
    CameraSnapshot s;
    s.luminance = s.contrast = s.saturation = 50;
    s.sceneMode = 1;
    return s;
}

YuvPicture Draw(const CameraSnapshot& s, int w = 320, int h = 180) {
    YuvPicture p;
    p.Resize(w, h);
    DrawTestPicture("CAM", "00:00:00", 0, s, &p);
    return p;
}

// Mean luma of a rectangle.
double Mean(const YuvPicture& p, int x0, int y0, int x1, int y1) {
    double sum = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) sum += p.y[static_cast<size_t>(y) * p.width + x];
    return sum / ((x1 - x0) * (y1 - y0));
}

// Rows between the overlay lines, where only the scene is drawn.
constexpr int kTop = 30, kBottom = 150;

TEST(NetPicture, ShowsEveryParameterAndThePtzPosition) {
    const CameraSnapshot base = Defaults();
    const YuvPicture plain = Draw(base);

    CameraSnapshot s = base;
    s.luminance = 80;
    EXPECT_GT(Mean(Draw(s), 0, kTop, 320, kBottom), Mean(plain, 0, kTop, 320, kBottom) + 20);

    // Mirror: every scene row reads backwards.
    s = base;
    s.mirror = true;
    const YuvPicture mirrored = Draw(s);
    int same = 0, total = 0;
    for (int y = kTop; y < kBottom; y += 7)
        for (int x = 0; x < 320; x += 5, ++total)
            same += mirrored.y[static_cast<size_t>(y) * 320 + x] ==
                    plain.y[static_cast<size_t>(y) * 320 + 319 - x];
    EXPECT_EQ(same, total);
    // Flip: the picture upside down, so it differs from the plain one.
    s = base;
    s.flip = true;
    EXPECT_NE(Draw(s).y, plain.y);

    // Contrast, saturation, scene presets and PTZ each change the picture.
    for (auto change : std::vector<void (*)(CameraSnapshot&)>{
             [](CameraSnapshot& c) { c.contrast = 90; },
             [](CameraSnapshot& c) { c.saturation = 0; },
             [](CameraSnapshot& c) { c.sceneMode = 3; },
             [](CameraSnapshot& c) { c.sceneMode = 4; },
             [](CameraSnapshot& c) { c.sceneMode = 5; },
             [](CameraSnapshot& c) { c.pan = 1500; },
             [](CameraSnapshot& c) { c.tilt = -700; },
             [](CameraSnapshot& c) { c.zoom = 500; },
         }) {
        s = base;
        change(s);
        const YuvPicture p = Draw(s);
        EXPECT_TRUE(p.y != plain.y || p.u != plain.u || p.v != plain.v);
    }
    s = base;
    s.saturation = 0;
    const YuvPicture grey = Draw(s);
    for (size_t i = 0; i < grey.u.size(); i += 97) EXPECT_EQ(grey.u[i], 128);

    // Portrait: a narrow upright picture between black bars.
    s = base;
    s.rotation = 3;
    const YuvPicture portrait = Draw(s, 640, 360);
    EXPECT_EQ(Mean(portrait, 0, kTop, 100, kBottom), 16);
    EXPECT_EQ(Mean(portrait, 540, kTop, 640, kBottom), 16);
    EXPECT_GT(Mean(portrait, 260, kTop, 380, kBottom), 40);
}

// A stream keeps its scene between pictures: every change that shows in the scene
// must draw it again, so a cached picture equals one drawn from nothing.
TEST(NetPicture, KeptSceneFollowsEveryChange) {
    std::vector<CameraSnapshot> steps(1, Defaults());
    auto change = [&steps](auto edit) {
        CameraSnapshot s = steps.back();
        edit(s);
        steps.push_back(s);
    };
    change([](CameraSnapshot&) {});  // unchanged: the copy
    change([](CameraSnapshot& s) { s.focus = 700; s.moving = true; });  // not in the scene
    change([](CameraSnapshot& s) { s.luminance = 80; });
    change([](CameraSnapshot& s) { s.contrast = 20; });
    change([](CameraSnapshot& s) { s.saturation = 90; });
    change([](CameraSnapshot& s) { s.pan = 1234; });
    change([](CameraSnapshot& s) { s.tilt = -500; });
    change([](CameraSnapshot& s) { s.zoom = 400; });
    change([](CameraSnapshot& s) { s.mirror = true; });
    change([](CameraSnapshot& s) { s.flip = true; });
    change([](CameraSnapshot& s) { s.sceneMode = 3; });
    change([](CameraSnapshot& s) { s.rotation = 3; });
    change([](CameraSnapshot& s) { s.rotation = 0; });
    SceneCache cache;
    for (size_t i = 0; i < steps.size(); ++i) {
        YuvPicture cached;
        cached.Resize(320, 180);
        DrawTestPicture("CAM", "00:00:00", static_cast<uint32_t>(i), steps[i], &cached, 16,
                        &cache);
        YuvPicture fresh;
        fresh.Resize(320, 180);
        DrawTestPicture("CAM", "00:00:00", static_cast<uint32_t>(i), steps[i], &fresh, 16);
        EXPECT_TRUE(cached.y == fresh.y && cached.u == fresh.u && cached.v == fresh.v)
            << "step " << i;
    }
    // A new size draws afresh too.
    YuvPicture other;
    other.Resize(160, 90);
    DrawTestPicture("CAM", "00:00:00", 0, steps.back(), &other, 16, &cache);
    YuvPicture fresh;
    fresh.Resize(160, 90);
    DrawTestPicture("CAM", "00:00:00", 0, steps.back(), &fresh, 16);
    EXPECT_EQ(other.y, fresh.y);
}

TEST(NetPicture, OddSizesAndExtremesStayInside) {
    CameraSnapshot s = Defaults();
    s.luminance = 255;
    s.contrast = 255;
    s.saturation = 255;
    s.zoom = kZoomMax;
    s.pan = kPanMin;
    s.tilt = kTiltMax;
    s.mirror = s.flip = true;
    for (int rotation : {0, 3})
        for (auto [w, h] : {std::pair{32, 32}, {34, 1080}, {1920, 32}, {642, 362}}) {
            s.rotation = rotation;
            YuvPicture p;
            p.Resize(w, h);
            DrawTestPicture("A NAME LONGER THAN THE PICTURE IS WIDE", "23:59:59", 12345, s, &p);
            DrawBusyBand(7, &p);
            EXPECT_EQ(p.y.size(), static_cast<size_t>(w) * h);
        }
}

TEST(SendStamp, RoundTripsInEitherCodecAndNeverLooksLikeAStartCode) {
    for (stamp::Codec codec : {stamp::Codec::kH264, stamp::Codec::kMpeg4}) {
        for (uint64_t t : {uint64_t{0}, uint64_t{1}, uint64_t{0x12345678}, ~uint64_t{0}}) {
            std::vector<uint8_t> au = {0xAA};
            const size_t field = stamp::Append(codec, &au);
            EXPECT_EQ(au.size(), 1 + stamp::kUnitSize);
            stamp::Write(&au[field], t);
            // What the encoder appends after the stamp does not disturb it.
            const uint8_t slice[] = {0, 0, 0, 1, 0x65, 0x88, 0x84, 0x00, 0x00};
            au.insert(au.end(), slice, slice + sizeof slice);
            uint64_t read = 0;
            ASSERT_TRUE(stamp::Find(au.data(), au.size(), &read));
            EXPECT_EQ(read, t);
            // Two zero bytes appear only in the unit's own start code.
            int zeroPairs = 0;
            for (size_t i = 2; i < 1 + stamp::kUnitSize; ++i)
                zeroPairs += au[i - 1] == 0 && au[i] == 0;
            EXPECT_EQ(zeroPairs, codec == stamp::Codec::kH264 ? 2 : 1);
            // Cut short, or with the time damaged: no stamp rather than a wrong one.
            EXPECT_FALSE(stamp::Find(au.data(), field + stamp::kTimeBytes - 1, &read));
            au[field + 3] = 0x05;
            EXPECT_FALSE(stamp::Find(au.data(), au.size(), &read));
        }
    }
    uint64_t read = 0;
    EXPECT_FALSE(stamp::Find(nullptr, 0, &read));
    const uint8_t other[] = {0, 0, 0, 1, 0x06, 0x05, 0x1A, 1, 2, 3};
    EXPECT_FALSE(stamp::Find(other, sizeof other, &read));
}

}  // namespace
}  // namespace camsim
