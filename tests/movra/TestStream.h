// Test streams made with libx264 at test time, a reference decode, and a sink that records.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "X264Clip.h"
#include "movra.h"

namespace movratest {

using Unit = strevotest::EncodedUnit;

struct Stream {
    int codec = MV_CODEC_H264;
    int width = 0;
    int height = 0;
    std::vector<Unit> units;
    std::vector<uint8_t> Joined() const;
};

// Frame i shows a moving gradient and, in its top-left corner, a grey block of MarkerLevel(i)
// (luma) and a fixed tint, so a picture can be matched to the frame it came from.
Stream Encode(int width, int height, int frames, int gop, int slices = 1, int first = 0,
              int codec = MV_CODEC_H264);
int MarkerLevel(int frame);
constexpr int kMarkerU = 100;  // the block is tinted, so that colour mix-ups show
constexpr int kMarkerV = 180;
uint32_t MarkerColour(int frame);  // 0xffRRGGBB

// The same pictures as the player should draw them: plain decoding of one unit per packet,
// then the player's scaler at the target size. One hash per unit.
std::vector<uint64_t> ReferenceHashes(const Stream& stream, int targetWidth, int targetHeight);

uint64_t HashPicture(const MV_Picture& picture);

// An access unit delimiter, which a sender puts after its last unit to end it.
extern const std::vector<uint8_t> kEndOfUnit;
extern const std::vector<uint8_t> kEndOfUnitHevc;
const std::vector<uint8_t>& EndOfUnit(int codec);

struct Shown {
    int64_t tag = 0;
    uint64_t hash = 0;
    int width = 0;
    int height = 0;
    int videoX = 0, videoY = 0, videoWidth = 0, videoHeight = 0;
    int sourceWidth = 0, sourceHeight = 0;
    uint32_t marker = 0;  // a pixel inside the marker block
};

class RecordingSink {
  public:
    RecordingSink(int width, int height);
    const MV_RenderSink* sink() const { return &sink_; }
    void SetSize(int width, int height);
    std::vector<Shown> shown() const;
    std::vector<uint32_t> lastImage() const;  // rows packed, width*height
    int presents() const { return presents_; }
    // Waits until a picture with this tag or a later one has been shown.
    bool WaitForTag(int64_t tag, std::chrono::milliseconds limit = std::chrono::seconds(20));
    // Runs inside every present call, before recording.
    std::function<void()> onPresent;

  private:
    static void Size(void* user, int32_t* width, int32_t* height);
    static void Present(void* user, const MV_Picture* picture);

    MV_RenderSink sink_{};
    std::atomic<int> width_, height_;
    std::atomic<int> presents_{0};
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Shown> shown_;
    std::vector<uint32_t> last_;
};

bool WaitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::seconds(20));
MV_Stats Stats(int32_t port);

}  // namespace movratest
