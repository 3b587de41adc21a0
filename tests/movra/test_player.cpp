// The stream player with real H.264 from libx264 and H.265 from libx265: splitting, damage,
// codec changes, threads, ports, queue, and the pictures it draws.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <thread>

#include "PictureScaler.h"
#include "TestStream.h"
#include "movra.h"

using namespace movratest;
using namespace std::chrono_literals;

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kFrames = 24;  // fits the queue whole
constexpr int kGop = 8;
// A square target: the 4:3 video gets bars above and below.
constexpr int kTarget = 256;

const Stream& Clip() {
    static const Stream clip = Encode(kWidth, kHeight, kFrames, kGop);
    return clip;
}

const std::vector<uint64_t>& ClipHashes() {
    static const std::vector<uint64_t> hashes = ReferenceHashes(Clip(), kTarget, kTarget);
    return hashes;
}

// H.265 at another size, so that a picture of the wrong stream shows.
constexpr int kHevcWidth = 352;
constexpr int kHevcHeight = 288;

const Stream& HevcClip() {
    static const Stream clip = Encode(kHevcWidth, kHevcHeight, kFrames, kGop, 1, 0, MV_CODEC_H265);
    return clip;
}

const std::vector<uint64_t>& HevcClipHashes() {
    static const std::vector<uint64_t> hashes = ReferenceHashes(HevcClip(), kTarget, kTarget);
    return hashes;
}

const std::vector<uint64_t>& HashesOf(const Stream& clip) {
    return &clip == &HevcClip() ? HevcClipHashes() : ClipHashes();
}

const char* CodecName(const Stream& clip) {
    return clip.codec == MV_CODEC_H265 ? "H.265" : "H.264";
}

// Owns a port with a sink for one test.
struct Player {
    explicit Player(RecordingSink* sink, int codec = MV_CODEC_H264) {
        port = MV_OpenStream(0, 0);
        EXPECT_GE(port, 0);
        if (codec != MV_CODEC_H264) {
            EXPECT_EQ(MV_SetStreamCodec(port, codec), MV_OK);
        }
        EXPECT_EQ(MV_PlayEx(port, sink->sink()), MV_OK);
    }
    ~Player() {
        if (port >= 0)
            MV_VideoClose(port);
    }
    int32_t port = -1;
};

// Sends like a camera: never so far ahead of the decoder that the queue overflows.
int32_t Send(int32_t port, const uint8_t* data, size_t length, int64_t tag = 0) {
    EXPECT_TRUE(WaitUntil([&] { return Stats(port).queuedUnits < 8; }));
    return MV_VideoInputDataTagged(port, data, static_cast<uint32_t>(length), tag);
}

int32_t Send(int32_t port, const std::vector<uint8_t>& bytes, int64_t tag = 0) {
    return Send(port, bytes.data(), bytes.size(), tag);
}

// One call of the sender: a range of the joined stream.
struct Call {
    size_t begin;
    size_t end;
};

std::vector<size_t> UnitEnds(const Stream& s) {
    std::vector<size_t> ends;
    size_t at = 0;
    for (const Unit& u : s.units) ends.push_back(at += u.bytes.size());
    return ends;
}

std::vector<Call> CallsAt(std::vector<size_t> cuts, size_t total) {
    cuts.push_back(total);
    std::sort(cuts.begin(), cuts.end());
    std::vector<Call> calls;
    size_t at = 0;
    for (size_t c : cuts)
        if (c > at) {
            calls.push_back({at, c});
            at = c;
        }
    return calls;
}

// Feeds the calls with tag = call number + 1 and an end-of-unit marker; then checks that
// every picture shown is the reference picture of a unit completed by that call, in stream
// order, and that the last unit is shown.
void PlayAndCompare(const Stream& stream, const std::vector<uint64_t>& reference,
                    const std::vector<Call>& calls) {
    const std::vector<uint8_t> bytes = stream.Joined();
    const std::vector<size_t> ends = UnitEnds(stream);
    RecordingSink sink(kTarget, kTarget);
    Player player(&sink, stream.codec);
    for (size_t i = 0; i < calls.size(); ++i)
        ASSERT_EQ(Send(player.port, bytes.data() + calls[i].begin, calls[i].end - calls[i].begin,
                       static_cast<int64_t>(i + 1)),
                  MV_OK);
    Send(player.port, EndOfUnit(stream.codec));

    // Which call delivered the last byte of each unit.
    std::vector<int64_t> unitTag(ends.size());
    for (size_t u = 0, c = 0; u < ends.size(); ++u) {
        while (calls[c].end < ends[u]) ++c;
        unitTag[u] = static_cast<int64_t>(c + 1);
    }
    ASSERT_TRUE(WaitUntil([&] {
        return Stats(player.port).picturesDecoded == stream.units.size() && !sink.shown().empty() &&
               sink.shown().back().hash == reference.back();
    })) << "decoded "
        << Stats(player.port).picturesDecoded << " of " << stream.units.size() << ", units "
        << Stats(player.port).unitsIn << ", dropped " << Stats(player.port).unitsDropped
        << ", errors " << Stats(player.port).decodeErrors;
    const MV_Stats stats = Stats(player.port);
    EXPECT_EQ(stats.unitsIn, stream.units.size());
    EXPECT_EQ(stats.decodeErrors, 0u);
    EXPECT_EQ(stats.unitsDropped, 0u);
    EXPECT_EQ(stats.bytesIn, bytes.size() + EndOfUnit(stream.codec).size());

    int last = -1;
    for (const Shown& s : sink.shown()) {
        int found = -1;
        for (int u = last + 1; u < static_cast<int>(reference.size()) && found < 0; ++u)
            if (unitTag[u] == s.tag && reference[u] == s.hash)
                found = u;
        ASSERT_GE(found, 0) << "picture with tag " << s.tag << " is not the next unit's";
        EXPECT_EQ(s.sourceWidth, stream.width);
        EXPECT_EQ(s.sourceHeight, stream.height);
        last = found;
    }
}

// Splits each unit into its NAL units.
std::vector<size_t> NalStarts(const Stream& s) {
    std::vector<size_t> cuts;
    const std::vector<uint8_t> b = s.Joined();
    for (size_t i = 0; i + 3 < b.size(); ++i)
        if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 0 && b[i + 3] == 1)
            cuts.push_back(i);
        else if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1 && (i == 0 || b[i - 1] != 0))
            cuts.push_back(i);
    return cuts;
}

// The marker pixel within rounding and compression of the expected colour, channel by channel.
::testing::AssertionResult ShowsFrame(const Shown& s, int frame) {
    const uint32_t want = MarkerColour(frame);
    for (int shift : {24, 16, 8, 0})
        if (std::abs(static_cast<int>((s.marker >> shift) & 0xff) -
                     static_cast<int>((want >> shift) & 0xff)) > 12)
            return ::testing::AssertionFailure()
                   << std::hex << "marker 0x" << s.marker << ", frame " << std::dec << frame
                   << " wants 0x" << std::hex << want;
    return ::testing::AssertionSuccess();
}

}  // namespace

TEST(MovraPlayer, AnySplitOfTheInputGivesTheSamePictures) {
    const Stream& clip = Clip();
    const size_t total = clip.Joined().size();
    std::vector<size_t> unitEnds = UnitEnds(clip);

    SCOPED_TRACE("one unit per call");
    PlayAndCompare(clip, ClipHashes(), CallsAt(unitEnds, total));
    {
        SCOPED_TRACE("three units per call");
        std::vector<size_t> cuts;
        for (size_t i = 2; i < unitEnds.size(); i += 3) cuts.push_back(unitEnds[i]);
        PlayAndCompare(clip, ClipHashes(), CallsAt(cuts, total));
    }
    {
        SCOPED_TRACE("the whole stream in one call");
        PlayAndCompare(clip, ClipHashes(), CallsAt({}, total));
    }
    {
        SCOPED_TRACE("cut inside every start code");
        std::vector<size_t> cuts;
        for (size_t e : unitEnds) cuts.push_back(std::min(e + 2, total));
        PlayAndCompare(clip, ClipHashes(), CallsAt(cuts, total));
    }
    {
        SCOPED_TRACE("random cuts");
        std::mt19937 rng(7);
        std::vector<size_t> cuts;
        for (size_t at = 0; at < total; at += 1 + rng() % 3000) cuts.push_back(at);
        PlayAndCompare(clip, ClipHashes(), CallsAt(cuts, total));
    }
    {
        SCOPED_TRACE("byte by byte");
        std::vector<size_t> cuts(total);
        for (size_t i = 0; i < total; ++i) cuts[i] = i;
        PlayAndCompare(clip, ClipHashes(), CallsAt(cuts, total));
    }
    {
        // Pictures of several slices: a call that begins with a later slice must not be
        // taken for a new picture, whether the sender sends whole pictures or single slices.
        const Stream sliced = Encode(kWidth, kHeight, 24, kGop, 3);
        const std::vector<uint64_t> reference = ReferenceHashes(sliced, kTarget, kTarget);
        const size_t size = sliced.Joined().size();
        SCOPED_TRACE("three slices per picture, one picture per call");
        PlayAndCompare(sliced, reference, CallsAt(UnitEnds(sliced), size));
        SCOPED_TRACE("three slices per picture, one NAL unit per call");
        PlayAndCompare(sliced, reference, CallsAt(NalStarts(sliced), size));
    }
}

TEST(MovraPlayer, H265InAnySplitGivesTheSamePicturesAtItsSize) {
    const Stream& clip = HevcClip();
    const size_t total = clip.Joined().size();
    const std::vector<size_t> unitEnds = UnitEnds(clip);
    {
        SCOPED_TRACE("one unit per call");
        PlayAndCompare(clip, HevcClipHashes(), CallsAt(unitEnds, total));
    }
    {
        SCOPED_TRACE("cut inside every start code");
        std::vector<size_t> cuts;
        for (size_t e : unitEnds) cuts.push_back(std::min(e + 2, total));
        PlayAndCompare(clip, HevcClipHashes(), CallsAt(cuts, total));
    }
    {
        SCOPED_TRACE("random cuts");
        std::mt19937 rng(3);
        std::vector<size_t> cuts;
        for (size_t at = 0; at < total; at += 1 + rng() % 2000) cuts.push_back(at);
        PlayAndCompare(clip, HevcClipHashes(), CallsAt(cuts, total));
    }
    {
        // A later slice segment has the first-segment flag clear: it must not open a picture.
        const Stream sliced = Encode(kHevcWidth, kHevcHeight, 16, kGop, 3, 0, MV_CODEC_H265);
        const std::vector<uint64_t> reference = ReferenceHashes(sliced, kTarget, kTarget);
        const size_t size = sliced.Joined().size();
        SCOPED_TRACE("three slices per picture, one picture per call");
        PlayAndCompare(sliced, reference, CallsAt(UnitEnds(sliced), size));
        SCOPED_TRACE("three slices per picture, one NAL unit per call");
        PlayAndCompare(sliced, reference, CallsAt(NalStarts(sliced), size));
    }
}

TEST(MovraPlayer, AChangeOfCodecShowsPicturesOfTheNewStreamFromItsFirstKeyFrame) {
    RecordingSink sink(kTarget, kTarget);
    Player player(&sink);
    EXPECT_EQ(MV_SetStreamCodec(player.port, 7), MV_ERR_BAD_ARGUMENT);
    EXPECT_EQ(MV_SetStreamCodec(player.port, MV_CODEC_H264), MV_OK);  // no change

    // Units in two pieces each, so the player cannot tell where a unit ends before the next
    // begins; each stream is cut off mid-unit by the change, as a camera that renegotiates
    // would, and that unit must not reach the next stream's decoder.
    auto play = [&](const Stream& clip, int64_t base) {
        for (int i = 0; i < kFrames; ++i) {
            const std::vector<uint8_t>& u = clip.units[static_cast<size_t>(i)].bytes;
            ASSERT_EQ(Send(player.port, u.data(), u.size() / 2, base + i), MV_OK);
            ASSERT_EQ(Send(player.port, u.data() + u.size() / 2, u.size() - u.size() / 2, base + i),
                      MV_OK);
        }
        const std::vector<uint8_t>& first = clip.units[0].bytes;
        Send(player.port, first.data(), first.size() / 2, base + 500);
        ASSERT_TRUE(sink.WaitForTag(base + kFrames - 1)) << CodecName(clip) << " never shown";
    };
    play(Clip(), 1000);
    ASSERT_EQ(MV_SetStreamCodec(player.port, MV_CODEC_H265), MV_OK);
    play(HevcClip(), 2000);
    ASSERT_EQ(MV_SetStreamCodec(player.port, MV_CODEC_H264), MV_OK);
    play(Clip(), 3000);
    ASSERT_EQ(MV_SetStreamCodec(player.port, MV_CODEC_H265), MV_OK);
    Send(player.port, kEndOfUnitHevc);

    for (const Shown& s : sink.shown()) {
        const bool hevc = s.tag >= 2000 && s.tag < 3000;
        const int frame = static_cast<int>(s.tag % 1000);
        ASSERT_LT(frame, kFrames) << "a unit cut short was shown, tag " << s.tag;
        EXPECT_EQ(s.hash, (hevc ? HevcClipHashes() : ClipHashes())[static_cast<size_t>(frame)])
            << "tag " << s.tag;
        EXPECT_EQ(s.sourceWidth, hevc ? kHevcWidth : kWidth) << "tag " << s.tag;
    }
    EXPECT_EQ(Stats(player.port).decodeErrors, 0u);
    MV_VideoClose(player.port);
    EXPECT_EQ(MV_SetStreamCodec(player.port, MV_CODEC_H265), MV_ERR_NOT_OPEN);
    player.port = -1;
}

TEST(MovraPlayer, EachPictureIsShownBeforeTheNextCallWithItsTag) {
    // The SDK hands over one unit per call; once the player has seen a few such calls it must
    // not wait for the next unit to know that a picture is complete.
    for (const Stream* clip : {&Clip(), &HevcClip()}) {
        SCOPED_TRACE(CodecName(*clip));
        RecordingSink sink(kTarget, kTarget);
        Player player(&sink, clip->codec);
        for (int i = 0; i < kFrames; ++i) {
            const Unit& u = clip->units[static_cast<size_t>(i)];
            ASSERT_EQ(MV_VideoInputDataTagged(player.port, u.bytes.data(),
                                              static_cast<uint32_t>(u.bytes.size()), 1000 + i),
                      MV_OK);
            if (i >= 4) {
                ASSERT_TRUE(sink.WaitForTag(1000 + i, 5s)) << "picture " << i << " held back";
            }
        }
        for (const Shown& s : sink.shown()) {
            const int frame = static_cast<int>(s.tag - 1000);
            ASSERT_TRUE(frame >= 0 && frame < kFrames);
            EXPECT_EQ(s.hash, HashesOf(*clip)[static_cast<size_t>(frame)]) << "frame " << frame;
            EXPECT_TRUE(ShowsFrame(s, frame));
        }
        EXPECT_GE(sink.shown().size(), static_cast<size_t>(kFrames - 4));
    }
}

TEST(MovraPlayer, DamagedInputIsSkippedAndThePortRecoversAtTheNextKeyFrame) {
    for (const Stream* each : {&Clip(), &HevcClip()}) {
        const Stream& clip = *each;
        SCOPED_TRACE(CodecName(clip));
        std::mt19937 rng(11);
        auto garbage = [&](size_t n) {
            std::vector<uint8_t> g(n);
            for (auto& b : g) b = static_cast<uint8_t>(rng());
            // Fake start codes with every kind of NAL header.
            for (size_t at = 16; at + 8 < n; at += 97) {
                g[at] = g[at + 1] = 0;
                g[at + 2] = 1;
            }
            return g;
        };
        for (bool wholeUnits : {true, false}) {
            SCOPED_TRACE(wholeUnits ? "whole units per call" : "units in two pieces");
            RecordingSink sink(kTarget, kTarget);
            Player player(&sink, clip.codec);
            auto send = [&](const std::vector<uint8_t>& b, int64_t tag) {
                const size_t half = wholeUnits ? b.size() : b.size() / 2;
                Send(player.port, b.data(), half, tag);
                Send(player.port, b.data() + half, b.size() - half, tag);
            };
            // Damage carries the tag of the unit before it; a truncated unit a tag of its own.
            for (int i = 0; i < kFrames; ++i) {
                const std::vector<uint8_t>& unit = clip.units[static_cast<size_t>(i)].bytes;
                if (i == 3)
                    send(garbage(5000), i);
                if (i == 6) {  // only its first half arrives
                    send(std::vector<uint8_t>(unit.begin(), unit.begin() + unit.size() / 2), 1000);
                    continue;
                }
                if (i == 9)
                    send(std::vector<uint8_t>(3000, 0), i);
                if (i == 12)
                    send(garbage(200000), i);
                send(unit, i + 1);
            }
            Send(player.port, EndOfUnit(clip.codec));
            ASSERT_TRUE(sink.WaitForTag(kFrames)) << "never recovered";
            const MV_Stats stats = Stats(player.port);
            EXPECT_GT(stats.decodeErrors + stats.unitsDropped, 0u);
            // No damaged picture is ever shown: every picture is the reference picture of its
            // unit. H.265 gives no sign of unit 6 cut short (see movra.h): its picture and unit
            // 7, which refers to it, may show; whether they do depends only on how far the
            // decoder is behind.
            for (const Shown& s : sink.shown()) {
                if (clip.codec == MV_CODEC_H265 && (s.tag == 1000 || s.tag == 8))
                    continue;
                ASSERT_TRUE(s.tag >= 1 && s.tag <= kFrames) << "damaged picture, tag " << s.tag;
                EXPECT_EQ(s.hash, HashesOf(clip)[static_cast<size_t>(s.tag - 1)])
                    << "unit " << s.tag - 1;
            }
        }
    }
}

TEST(MovraPlayer, FloodsOfGarbageStayBoundedAndTheStreamPlaysAfterwards) {
    RecordingSink sink(kTarget, kTarget);
    Player player(&sink);
    std::mt19937 rng(5);
    std::vector<uint8_t> chunk(64 * 1024);
    uint32_t mostQueued = 0;
    for (int i = 0; i < 200; ++i) {  // 12.5 MiB of noise with fake unit starts
        for (auto& b : chunk) b = static_cast<uint8_t>(rng());
        for (size_t at = rng() % 500; at + 6 < chunk.size(); at += 300 + rng() % 3000) {
            chunk[at] = chunk[at + 1] = 0;
            chunk[at + 2] = 1;
            chunk[at + 3] = static_cast<uint8_t>(rng() % 2 ? 0x65 : 0x67);
        }
        ASSERT_EQ(MV_VideoInputData(player.port, chunk.data(), static_cast<uint32_t>(chunk.size())),
                  MV_OK);
        mostQueued = std::max(mostQueued, Stats(player.port).queuedBytes);
    }
    // One unit far beyond the size limit, with no boundary in it.
    std::vector<uint8_t> huge(MV_MAX_UNIT_BYTES + (1 << 20), 0xff);
    huge[0] = huge[1] = huge[2] = 0;
    huge[3] = 1;
    huge[4] = 0x65;
    ASSERT_EQ(MV_VideoInputData(player.port, huge.data(), static_cast<uint32_t>(huge.size())),
              MV_OK);
    EXPECT_LE(mostQueued, static_cast<uint32_t>(MV_QUEUE_MAX_BYTES));

    const std::vector<uint8_t> clean = Clip().Joined();
    Send(player.port, clean, 7);
    Send(player.port, kEndOfUnit);
    ASSERT_TRUE(WaitUntil(
        [&] { return !sink.shown().empty() && sink.shown().back().hash == ClipHashes().back(); }));
    EXPECT_GT(Stats(player.port).unitsDropped, 0u);
}

TEST(MovraPlayer, AFullQueueDropsUpToTheNextKeyFrameWithoutBlockingTheSender) {
    // The sink holds the port's thread, so nothing is decoded while the sender goes on.
    std::mutex gate;
    RecordingSink sink(kTarget, kTarget);
    sink.onPresent = [&] { std::lock_guard wait(gate); };
    Player player(&sink);
    std::unique_lock held(gate);
    const int rounds = 4;
    for (int i = 0; i < rounds * kFrames; ++i) {
        const Unit& u = Clip().units[static_cast<size_t>(i % kFrames)];
        ASSERT_EQ(MV_VideoInputDataTagged(player.port, u.bytes.data(),
                                          static_cast<uint32_t>(u.bytes.size()), i + 1),
                  MV_OK);
        ASSERT_LE(Stats(player.port).queuedUnits, static_cast<uint32_t>(MV_QUEUE_MAX_UNITS));
    }
    MV_VideoInputData(player.port, kEndOfUnit.data(), static_cast<uint32_t>(kEndOfUnit.size()));
    EXPECT_GT(Stats(player.port).unitsDropped, 0u);
    held.unlock();

    // Dropping stopped only at key frames, so no unit lacked its reference; and the port
    // plays on as before.
    for (int i = 0; i < kFrames; ++i)
        Send(player.port, Clip().units[static_cast<size_t>(i)].bytes, 1001 + i);
    ASSERT_TRUE(sink.WaitForTag(1000 + kFrames));
    EXPECT_EQ(Stats(player.port).decodeErrors, 0u);
    for (const Shown& s : sink.shown())
        EXPECT_EQ(s.hash, ClipHashes()[static_cast<size_t>((s.tag - 1) % 1000 % kFrames)]);
}

TEST(MovraPlayer, NoPictureReachesTheSinkAfterCloseReturns) {
    for (int round = 0; round < 12; ++round) {
        std::atomic<bool> closed{false};
        std::atomic<int> late{0};
        RecordingSink sink(kTarget, kTarget);
        sink.onPresent = [&] {
            if (closed)
                ++late;
            std::this_thread::sleep_for(1ms);  // widen the window in which close can land
        };
        const int32_t port = MV_OpenStream(0, 0);
        ASSERT_GE(port, 0);
        MV_PlayEx(port, sink.sink());
        std::atomic<bool> stop{false};
        std::atomic<int> refused{0};
        std::thread sender([&] {
            for (int i = 0; !stop; ++i) {
                const Unit& u = Clip().units[static_cast<size_t>(i % kFrames)];
                if (MV_VideoInputData(port, u.bytes.data(),
                                      static_cast<uint32_t>(u.bytes.size())) == MV_ERR_NOT_OPEN)
                    ++refused;
            }
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(5 * (round % 6)));
        ASSERT_EQ(MV_VideoClose(port), MV_OK);
        closed = true;
        ASSERT_TRUE(WaitUntil([&] { return refused > 0; }));
        std::this_thread::sleep_for(20ms);
        stop = true;
        sender.join();
        EXPECT_EQ(late, 0) << "round " << round;
    }
}

// An image of the program's that the player draws into, while another thread keeps changing
// its size (a new allocation each time, the old one freed). Every row is padded and the image
// is followed by a guard, both filled with a canary the player must never touch.
class ResizedTarget {
  public:
    static constexpr uint32_t kCanary = 0x5a5a5a5au;  // not opaque: no pixel the player draws
    static constexpr int kPad = 3;                    // pixels after each row
    static constexpr int kGuard = 64;                 // pixels after the last row

    ResizedTarget() {
        target_.user = this;
        target_.lock = &ResizedTarget::Lock;
        target_.unlock = &ResizedTarget::Unlock;
    }
    const MV_DrawTarget* target() const { return &target_; }
    void Resize(int width, int height) {
        wantWidth_ = width;
        wantHeight_ = height;
    }
    // After the port is closed: any further call is counted, and the image is gone.
    void Close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
        std::vector<uint32_t>().swap(image_);
    }

    std::atomic<int> faults{0};      // canary, bar or pairing broken
    std::atomic<int> lateCalls{0};   // calls after MV_VideoClose returned
    std::atomic<int> compared{0};    // pictures checked against the reference
    std::atomic<int> mismatched{0};  // ... that differed from it
    std::atomic<int> sizesDrawn{0};  // distinct sizes drawn, as a bit set of size indexes
    std::function<int(int, int)> sizeIndex;

  private:
    static int32_t Lock(void* user, MV_Image* image) {
        auto* self = static_cast<ResizedTarget*>(user);
        self->mutex_.lock();
        if (self->closed_)
            ++self->lateCalls;
        if (self->held_)
            ++self->faults;
        const int w = self->wantWidth_, h = self->wantHeight_;
        if (w <= 0 || h <= 0 || self->closed_) {
            self->mutex_.unlock();
            return 0;
        }
        if (w != self->width_ || h != self->height_) {
            // A fresh allocation; the old one is freed, so a write through an old pointer is
            // a use after free under ASan.
            std::vector<uint32_t> fresh(static_cast<size_t>(w + kPad) * h + kGuard, kCanary);
            self->image_.swap(fresh);
            self->width_ = w;
            self->height_ = h;
        }
        self->held_ = true;
        image->pixels = self->image_.data();
        image->width = w;
        image->height = h;
        image->stride = (w + kPad) * 4;
        return 1;
    }

    static void Unlock(void* user, const MV_Picture* picture) {
        auto* self = static_cast<ResizedTarget*>(user);
        if (!self->held_ || self->closed_)
            ++self->faults;
        self->held_ = false;
        if (picture)
            self->Check(*picture);
        self->mutex_.unlock();
    }

    void Check(const MV_Picture& p) {
        const int stride = width_ + kPad;
        if (p.pixels != image_.data() || p.width != width_ || p.height != height_ ||
            p.stride != stride * 4) {
            ++faults;
            return;
        }
        if (sizeIndex)
            sizesDrawn |= 1 << sizeIndex(p.width, p.height);
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < stride; ++x) {
                const uint32_t v = image_[static_cast<size_t>(y) * stride + x];
                const bool video = x >= p.videoX && x < p.videoX + p.videoWidth && y >= p.videoY &&
                                   y < p.videoY + p.videoHeight;
                if (x >= width_ ? v != kCanary : video ? v >> 24 != 0xff : v != 0xff000000u) {
                    ++faults;
                    return;
                }
            }
        for (size_t i = static_cast<size_t>(stride) * height_; i < image_.size(); ++i)
            if (image_[i] != kCanary) {
                ++faults;
                return;
            }
        // Drawn at the reference's size, the picture is the one drawn into the player's own
        // image: same pixels, whatever the stride.
        if (p.width == kTarget && p.height == kTarget && p.tag > 0) {
            ++compared;
            if (HashPicture(p) != ClipHashes()[static_cast<size_t>((p.tag - 1) % kFrames)])
                ++mismatched;
        }
    }

    MV_DrawTarget target_{};
    std::mutex mutex_;
    std::atomic<int> wantWidth_{kTarget}, wantHeight_{kTarget};
    std::vector<uint32_t> image_;
    int width_ = 0, height_ = 0;
    bool held_ = false;
    bool closed_ = false;
};

TEST(MovraPlayer, ADrawTargetResizedWhilePicturesArriveIsWrittenOnlyInsideItsImage) {
    // Sizes: the reference's, wide, odd and tiny, hidden, and the clip's own.
    const std::pair<int, int> sizes[] = {{kTarget, kTarget}, {400, 200}, {97, 61}, {3, 2}, {0, 0},
                                         {kWidth, kHeight}};
    int everyDrawnSize = 0;
    for (int i = 0; i < 6; ++i)
        if (sizes[i].first > 0)
            everyDrawnSize |= 1 << i;
    for (int round = 0; round < 6; ++round) {
        ResizedTarget target;
        target.sizeIndex = [&](int w, int h) {
            for (int i = 0; i < 6; ++i)
                if (sizes[i] == std::pair(w, h))
                    return i;
            return 31;
        };
        const int32_t port = MV_OpenStream(0, 0);
        ASSERT_GE(port, 0);
        ASSERT_EQ(MV_PlayInto(port, target.target()), MV_OK);
        std::atomic<bool> stop{false};
        std::thread resizer([&] {
            for (int i = 0; !stop; ++i) {
                const auto [w, h] = sizes[static_cast<size_t>(i % 6)];
                target.Resize(w, h);
                std::this_thread::sleep_for(std::chrono::microseconds(300 + 500 * (i % 7)));
            }
        });
        std::atomic<int> refused{0};
        std::thread sender([&] {
            for (int i = 0; !stop; ++i) {
                const Unit& u = Clip().units[static_cast<size_t>(i % kFrames)];
                WaitUntil([&] {
                    MV_Stats stats{};
                    return stop || MV_GetStats(port, &stats) < 0 || stats.queuedUnits < 4;
                });
                if (MV_VideoInputDataTagged(port, u.bytes.data(),
                                            static_cast<uint32_t>(u.bytes.size()),
                                            i + 1) == MV_ERR_NOT_OPEN)
                    ++refused;
            }
        });
        // The first round plays until every size was drawn; the others close at varied times.
        if (round == 0) {
            EXPECT_TRUE(WaitUntil([&] {
                return (target.sizesDrawn & everyDrawnSize) == everyDrawnSize &&
                       target.compared > 3;
            }));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(7 * round));
        }
        ASSERT_EQ(MV_VideoClose(port), MV_OK);
        target.Close();
        ASSERT_TRUE(WaitUntil([&] { return refused > 0; }));
        std::this_thread::sleep_for(20ms);
        stop = true;
        sender.join();
        resizer.join();
        EXPECT_EQ(target.faults, 0) << "round " << round;
        EXPECT_EQ(target.lateCalls, 0) << "round " << round;
        EXPECT_EQ(target.mismatched, 0) << "round " << round << " of " << target.compared;
    }
}

TEST(MovraPlayer, PortsDrawingAtOnceAtDifferentSizesEachGetTheirOwnPictures) {
    // Ports convert on their own threads at the same time, each at its own size (the videos
    // here grow from one port to the next); each picture is still exactly its own.
    const std::pair<int, int> sizes[] = {{kTarget, kTarget}, {400, 200}, {640, 480}};
    std::vector<std::unique_ptr<RecordingSink>> sinks;
    std::vector<std::unique_ptr<Player>> players;
    std::vector<std::vector<uint64_t>> references;
    for (const auto& [w, h] : sizes) {
        sinks.push_back(std::make_unique<RecordingSink>(w, h));
        players.push_back(std::make_unique<Player>(sinks.back().get()));
        references.push_back(ReferenceHashes(Clip(), w, h));
    }
    constexpr int kPasses = 3;
    std::vector<std::thread> senders;
    for (size_t p = 0; p < players.size(); ++p)
        senders.emplace_back([&, p] {
            for (int i = 0; i < kPasses * kFrames; ++i)
                Send(players[p]->port, Clip().units[static_cast<size_t>(i % kFrames)].bytes, i + 1);
            Send(players[p]->port, kEndOfUnit);
        });
    for (std::thread& t : senders) t.join();
    for (size_t p = 0; p < players.size(); ++p) {
        ASSERT_TRUE(sinks[p]->WaitForTag(kPasses * kFrames)) << "port " << p;
        for (const Shown& s : sinks[p]->shown())
            ASSERT_EQ(s.hash, references[p][static_cast<size_t>((s.tag - 1) % kFrames)])
                << "port " << p << ", tag " << s.tag;
    }
}

TEST(MovraPlayer, PortsAreReusedUnderNewNumbersAndOldNumbersReachNothing) {
    std::vector<int32_t> ports;
    for (int i = 0; i < MV_MAX_PORTS; ++i) {
        ports.push_back(MV_OpenStream(0, 0));
        ASSERT_GE(ports.back(), 0);
    }
    EXPECT_EQ(MV_OpenStream(0, 0), -1) << "every port in use";
    EXPECT_EQ(std::set<int32_t>(ports.begin(), ports.end()).size(), ports.size());
    for (size_t i = 1; i < ports.size(); ++i) EXPECT_EQ(MV_VideoClose(ports[i]), MV_OK);

    // The old stream keeps sending to its number while the slot serves a new stream.
    RecordingSink oldSink(kTarget, kTarget), newSink(kTarget, kTarget);
    const int32_t old = ports[0];
    MV_PlayEx(old, oldSink.sink());
    const std::vector<uint8_t> first = Clip().Joined();
    Send(old, first, 1);
    ASSERT_EQ(MV_VideoClose(old), MV_OK);
    std::atomic<bool> stop{false};
    std::thread stale([&] {
        while (!stop)
            EXPECT_EQ(
                MV_VideoInputDataTagged(old, first.data(), static_cast<uint32_t>(first.size()), 1),
                MV_ERR_NOT_OPEN);
    });
    const int32_t reused = MV_OpenStream(0, 0);
    ASSERT_GE(reused, 0);
    EXPECT_NE(reused, old);
    EXPECT_EQ(reused % MV_MAX_PORTS, old % MV_MAX_PORTS) << "the freed slot is taken again";
    EXPECT_EQ(MV_PlayEx(old, newSink.sink()), MV_ERR_NOT_OPEN);
    EXPECT_EQ(MV_VideoClose(old), MV_ERR_NOT_OPEN);
    MV_PlayEx(reused, newSink.sink());
    const Stream other = Encode(kWidth, kHeight, 24, kGop, 1, 500);
    for (size_t i = 0; i < other.units.size(); ++i)
        Send(reused, other.units[i].bytes, static_cast<int64_t>(2000 + i));
    Send(reused, kEndOfUnit);
    ASSERT_TRUE(newSink.WaitForTag(2000 + 23));
    stop = true;
    stale.join();
    for (const Shown& s : newSink.shown()) {
        ASSERT_GE(s.tag, 2000) << "a picture of the old stream reached the new sink";
        EXPECT_TRUE(ShowsFrame(s, 500 + static_cast<int>(s.tag - 2000)));
    }
    EXPECT_EQ(MV_VideoClose(reused), MV_OK);
}

TEST(MovraPlayer, LetterboxKeepsTheShapeCentred) {
    using movra::Letterbox;
    using movra::Rect;
    EXPECT_EQ(Letterbox(256, 256, 320, 240, 0, 0), (Rect{0, 32, 256, 192}));
    EXPECT_EQ(Letterbox(400, 200, 320, 240, 1, 1), (Rect{66, 0, 267, 200}));
    EXPECT_EQ(Letterbox(640, 480, 320, 240, 0, 1), (Rect{0, 0, 640, 480}));
    EXPECT_EQ(Letterbox(640, 480, 320, 240, 2, 1), (Rect{0, 120, 640, 240})) << "wide pixels";
    EXPECT_EQ(Letterbox(9, 1000, 1920, 1080, 1, 1), (Rect{0, 497, 9, 5}));
    EXPECT_EQ(Letterbox(1, 1, 1920, 1080, 1, 1), (Rect{0, 0, 1, 1}));
    EXPECT_EQ(Letterbox(0, 100, 1920, 1080, 1, 1), Rect{});
}

TEST(MovraPlayer, PicturesFollowTheTargetSizeWithBlackBars) {
    RecordingSink sink(400, 200);
    Player player(&sink);
    auto feed = [&](int from, int to) {
        for (int i = from; i < to; ++i)
            Send(player.port, Clip().units[static_cast<size_t>(i)].bytes, i + 1);
        Send(player.port, kEndOfUnit);
    };
    feed(0, 8);
    ASSERT_TRUE(sink.WaitForTag(8));
    Shown s = sink.shown().back();
    EXPECT_EQ(s.width, 400);
    EXPECT_EQ(s.height, 200);
    EXPECT_EQ(s.videoX, 66);
    EXPECT_EQ(s.videoWidth, 267);
    EXPECT_TRUE(ShowsFrame(s, 7));
    const std::vector<uint32_t> image = sink.lastImage();
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 400; ++x) {
            const uint32_t p = image[static_cast<size_t>(y) * 400 + x];
            ASSERT_EQ(p >> 24, 0xffu) << x << "," << y;
            if (x < 66 || x >= 66 + 267) {
                ASSERT_EQ(p, 0xff000000u) << "bar at " << x << "," << y;
            }
        }

    // A hidden target gets nothing, though decoding goes on; then a new size.
    sink.SetSize(0, 0);
    const int before = sink.presents();
    feed(8, 16);
    ASSERT_TRUE(WaitUntil([&] { return Stats(player.port).picturesDecoded >= 16; }));
    EXPECT_EQ(sink.presents(), before);
    sink.SetSize(kTarget, kTarget);
    feed(16, kFrames);
    ASSERT_TRUE(sink.WaitForTag(kFrames));
    s = sink.shown().back();
    EXPECT_EQ(s.width, kTarget);
    EXPECT_EQ(s.videoY, 32);
    EXPECT_EQ(s.hash, ClipHashes().back());
    const std::vector<uint32_t> square = sink.lastImage();
    EXPECT_EQ(square[0], 0xff000000u) << "bars of the old geometry are repainted";
    EXPECT_EQ(square[static_cast<size_t>(kTarget) * kTarget - 1], 0xff000000u);
}

TEST(MovraPlayer, MisuseIsRefusedWithoutHarm) {
    EXPECT_EQ(MV_PlayEx(-1, nullptr), MV_ERR_BAD_PORT);
    EXPECT_EQ(MV_VideoInputData(-7, nullptr, 0), MV_ERR_BAD_PORT);
    EXPECT_EQ(MV_VideoClose(-1), MV_ERR_BAD_PORT);
    EXPECT_EQ(MV_VideoInputData(12345, kEndOfUnit.data(), 6), MV_ERR_NOT_OPEN);

    RecordingSink sink(kTarget, kTarget);
    Player player(&sink);
    EXPECT_EQ(MV_VideoInputData(player.port, nullptr, 10), MV_ERR_BAD_ARGUMENT);
    EXPECT_EQ(MV_VideoInputData(player.port, nullptr, 0), MV_OK);
    MV_RenderSink noPresent{};
    EXPECT_EQ(MV_PlayEx(player.port, &noPresent), MV_ERR_BAD_ARGUMENT);
    MV_DrawTarget noUnlock{};
    noUnlock.lock = [](void*, MV_Image*) -> int32_t { return 0; };
    EXPECT_EQ(MV_PlayInto(player.port, &noUnlock), MV_ERR_BAD_ARGUMENT);
    EXPECT_EQ(MV_GetStats(player.port, nullptr), MV_ERR_BAD_ARGUMENT);

    // Closing or retargeting the port from inside its own sink would wait for itself.
    std::atomic<int32_t> closeResult{1}, playResult{1};
    sink.onPresent = [&] {
        closeResult = MV_VideoClose(player.port);
        playResult = MV_PlayEx(player.port, nullptr);
    };
    const std::vector<uint8_t> clip = Clip().Joined();
    Send(player.port, clip);
    Send(player.port, kEndOfUnit);
    ASSERT_TRUE(WaitUntil([&] { return playResult != 1; }));
    EXPECT_EQ(closeResult, MV_ERR_IN_CALLBACK);
    EXPECT_EQ(playResult, MV_ERR_IN_CALLBACK);

    // Detached: decoding goes on, nothing is presented.
    ASSERT_EQ(MV_PlayEx(player.port, nullptr), MV_OK);
    sink.onPresent = nullptr;
    const int before = sink.presents();
    Send(player.port, clip);
    Send(player.port, kEndOfUnit);
    ASSERT_TRUE(WaitUntil([&] { return Stats(player.port).picturesDecoded == 2u * kFrames; }));
    EXPECT_EQ(sink.presents(), before);
    EXPECT_EQ(MV_VideoClose(player.port), MV_OK);
    EXPECT_EQ(MV_VideoClose(player.port), MV_ERR_NOT_OPEN);
    player.port = -1;
}

// The newest picture copied out at the stream's own size whatever the sink's target is:
// nothing before the first picture, a copy into too small an image refused with the size
// given, the marker of the last unit fed, and copies taken while the port decodes on.
TEST(MovraPlayer, TheNewestPictureComesOutAtTheStreamsSize) {
    RecordingSink sink(100, 60);
    Player player(&sink);
    int32_t w = -1, h = -1;
    EXPECT_EQ(MV_GetLastFrame(player.port, nullptr, &w, &h), MV_ERR_NO_PICTURE);
    for (int i = 0; i < 8; ++i)
        Send(player.port, Clip().units[static_cast<size_t>(i)].bytes, i + 1);
    Send(player.port, kEndOfUnit);
    ASSERT_TRUE(sink.WaitForTag(8));
    ASSERT_EQ(MV_GetLastFrame(player.port, nullptr, &w, &h), MV_OK);
    EXPECT_EQ(w, kWidth);
    EXPECT_EQ(h, kHeight);

    std::vector<uint32_t> small(static_cast<size_t>(kWidth) * (kHeight - 1));
    MV_Image tooSmall{small.data(), kWidth, kHeight - 1, kWidth * 4};
    w = h = 0;
    EXPECT_EQ(MV_GetLastFrame(player.port, &tooSmall, &w, &h), MV_ERR_BAD_ARGUMENT);
    EXPECT_EQ(w, kWidth);

    // A wider image with padded rows: only the picture's part is written.
    const int stride = kWidth + 16;
    std::vector<uint32_t> pixels(static_cast<size_t>(stride) * kHeight, 0x12345678u);
    MV_Image image{pixels.data(), stride, kHeight, stride * 4};
    ASSERT_EQ(MV_GetLastFrame(player.port, &image, &w, &h), MV_OK);
    Shown s;
    s.marker = pixels[static_cast<size_t>(kHeight / 10) * stride + kWidth / 10];
    EXPECT_TRUE(ShowsFrame(s, 7));
    EXPECT_EQ(pixels[static_cast<size_t>(kWidth)], 0x12345678u) << "past the picture's width";
    EXPECT_EQ(pixels[0] >> 24, 0xffu);

    // Copies while the rest of the clip decodes: each one whole and of some frame fed.
    std::atomic<bool> done{false};
    std::thread copier([&] {
        std::vector<uint32_t> copy(static_cast<size_t>(kWidth) * kHeight);
        MV_Image into{copy.data(), kWidth, kHeight, kWidth * 4};
        int32_t cw = 0, ch = 0;
        while (!done) {
            EXPECT_EQ(MV_GetLastFrame(player.port, &into, &cw, &ch), MV_OK);
            EXPECT_EQ(copy[0] >> 24, 0xffu);
        }
    });
    for (int i = 8; i < kFrames; ++i)
        Send(player.port, Clip().units[static_cast<size_t>(i)].bytes, i + 1);
    Send(player.port, kEndOfUnit);
    EXPECT_TRUE(sink.WaitForTag(kFrames));
    done = true;
    copier.join();
    ASSERT_EQ(MV_GetLastFrame(player.port, &image, &w, &h), MV_OK);
    s.marker = pixels[static_cast<size_t>(kHeight / 10) * stride + kWidth / 10];
    EXPECT_TRUE(ShowsFrame(s, kFrames - 1));

    const int32_t closed = player.port;
    MV_VideoClose(closed);
    player.port = -1;
    EXPECT_EQ(MV_GetLastFrame(closed, nullptr, &w, &h), MV_ERR_NOT_OPEN);
    EXPECT_EQ(MV_GetLastFrame(-1, nullptr, &w, &h), MV_ERR_BAD_PORT);
}
