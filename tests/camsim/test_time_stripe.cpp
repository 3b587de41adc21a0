// The capture time a simulated camera draws into its RTSP picture survives its
// own encoders and an independent decoder; a damaged or missing stripe reads as
// none, never as a wrong time. The H.265 stream carries its send stamp and lets
// a viewer join at any key frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "CameraModel.h"
#include "NetSimPicture.h"
#include "NetSimStamp.h"
#include "StreamEncoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace camsim {
namespace {

struct Decoded {
    std::vector<uint64_t> times;  // stripe read from each decoded picture
    int unreadable = 0;
    int width = 0, height = 0;
};

// Decodes an Annex B stream with FFmpeg's parser and decoder.
Decoded Decode(AVCodecID id, const std::vector<uint8_t>& stream) {
    Decoded out;
    const AVCodec* codec = avcodec_find_decoder(id);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    AVCodecParserContext* parser = av_parser_init(id);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    EXPECT_EQ(avcodec_open2(ctx, codec, nullptr), 0);
    auto drain = [&] {
        while (avcodec_receive_frame(ctx, frame) == 0) {
            out.width = frame->width;
            out.height = frame->height;
            uint64_t t = 0;
            if (stamp::ReadStripe(frame->data[0], frame->width, frame->height, frame->linesize[0],
                                  &t))
                out.times.push_back(t);
            else
                ++out.unreadable;
        }
    };
    const uint8_t* data = stream.data();
    int left = static_cast<int>(stream.size());
    while (left > 0) {
        uint8_t* unit = nullptr;
        int size = 0;
        const int used = av_parser_parse2(parser, ctx, &unit, &size, data, left, AV_NOPTS_VALUE,
                                          AV_NOPTS_VALUE, 0);
        data += used;
        left -= used;
        if (size > 0) {
            packet->data = unit;
            packet->size = size;
            avcodec_send_packet(ctx, packet);
            drain();
        }
    }
    avcodec_send_packet(ctx, nullptr);
    drain();
    av_frame_free(&frame);
    av_packet_free(&packet);
    av_parser_close(parser);
    avcodec_free_context(&ctx);
    return out;
}

CameraSnapshot Defaults() {
    CameraSnapshot s;
    s.luminance = s.contrast = s.saturation = 50;
    s.sceneMode = 1;
    return s;
}

// Times that exercise every bit of the 48: all zeros, all ones, alternating.
const uint64_t kTimes[] = {0,         0xFFFFFFFFFFFFull, 0xAAAAAAAAAAAAull, 0x555555555555ull,
                           123456789, 0x800000000001ull};

TEST(TimeStripe, SurvivesEncodingAndDecodingAtTheServedSizes) {
    for (auto codec : {StreamEncoder::Codec::kH264, StreamEncoder::Codec::kH265}) {
        // The sub and main stream sizes, and a width that 64 does not divide.
        for (auto [w, h] : {std::pair{320, 180}, {640, 360}, {202, 120}}) {
            SCOPED_TRACE(testing::Message()
                         << (codec == StreamEncoder::Codec::kH265 ? "H.265 " : "H.264 ") << w << "x"
                         << h);
            StreamEncoder encoder;
            std::string error;
            ASSERT_TRUE(encoder.Open(w, h, 15, &error, codec)) << error;
            ASSERT_EQ(encoder.codec(), codec);
            YuvPicture p;
            p.Resize(w, h);
            std::vector<uint8_t> stream;
            std::vector<uint64_t> drawn;
            CameraSnapshot s = Defaults();
            for (int i = 0; i < 30; ++i) {
                s.pan = i * 300;  // a moving scene under the stripe
                DrawTestPicture("CAM", "12:00:00", static_cast<uint32_t>(i), s, &p,
                                stamp::kStripeRows);
                DrawBusyBand(static_cast<uint32_t>(i), &p);
                const uint64_t t = kTimes[i % 6] + static_cast<uint64_t>(i);
                DrawTimeStripe(t, &p);
                drawn.push_back(t & 0xFFFFFFFFFFFFull);
                bool key = false;
                ASSERT_TRUE(encoder.Encode(p, &stream, &key));
            }
            const Decoded d = Decode(
                codec == StreamEncoder::Codec::kH265 ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264, stream);
            EXPECT_EQ(d.width, w);
            EXPECT_EQ(d.unreadable, 0);
            // The encoder may hold the last pictures back; those it gave back are in order.
            ASSERT_GE(d.times.size(), 20u);
            for (size_t i = 0; i < d.times.size(); ++i) EXPECT_EQ(d.times[i], drawn[i]) << i;
        }
    }
}

TEST(TimeStripe, DamagedOrMissingStripeReadsAsNone) {
    YuvPicture p;
    p.Resize(320, 180);
    DrawTestPicture("CAM", "12:00:00", 0, Defaults(), &p);
    uint64_t t = 0;
    // The plain picture, an all-black and an all-white top: no stripe.
    EXPECT_FALSE(stamp::ReadStripe(p.y.data(), p.width, p.height, p.width, &t));
    std::fill(p.y.begin(), p.y.end(), uint8_t{16});
    EXPECT_FALSE(stamp::ReadStripe(p.y.data(), p.width, p.height, p.width, &t));
    std::fill(p.y.begin(), p.y.end(), uint8_t{235});
    EXPECT_FALSE(stamp::ReadStripe(p.y.data(), p.width, p.height, p.width, &t));

    // Any one block flipped, in the start pattern, the time or the check: none.
    DrawTimeStripe(0x123456789ABCull, &p);
    ASSERT_TRUE(stamp::ReadStripe(p.y.data(), p.width, p.height, p.width, &t));
    EXPECT_EQ(t, 0x123456789ABCull);
    for (int block = 0; block < 64; ++block) {
        YuvPicture damaged = p;
        for (int y = 0; y < stamp::kStripeRows; ++y)
            for (int x = block * p.width / 64; x < (block + 1) * p.width / 64; ++x) {
                uint8_t& px = damaged.y[static_cast<size_t>(y) * p.width + x];
                px = px > 128 ? 16 : 235;
            }
        EXPECT_FALSE(stamp::ReadStripe(damaged.y.data(), p.width, p.height, p.width, &t)) << block;
    }

    // Scaled down as a pane shows it (a third, averaged, with a border to the left): read
    // where the stripe now lies.
    {
        YuvPicture big;
        big.Resize(1280, 720);
        DrawTimeStripe(0xBEEF1234ull, &big);
        const int w = big.width / 3, h = big.height / 3, border = 5, stride = w + 2 * border;
        std::vector<uint8_t> pane(static_cast<size_t>(stride) * h, 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                int sum = 0;
                for (int dy = 0; dy < 3; ++dy)
                    for (int dx = 0; dx < 3; ++dx)
                        sum += big.y[static_cast<size_t>(3 * y + dy) * big.width + 3 * x + dx];
                pane[static_cast<size_t>(y) * stride + border + x] = static_cast<uint8_t>(sum / 9);
            }
        const int rows = stamp::kStripeRows / 3;
        ASSERT_TRUE(stamp::ReadScaledStripe(pane.data(), stride, border, 0, w, rows, &t));
        EXPECT_EQ(t, 0xBEEF1234ull);
        // Read as if unscaled, the same plane gives nothing.
        EXPECT_FALSE(stamp::ReadScaledStripe(pane.data(), stride, 0, 0, stride, rows, &t));
        EXPECT_FALSE(stamp::ReadScaledStripe(pane.data(), w, border, 0, w, rows, &t));
    }

    // A stride wider than the picture is honoured; too small a picture has no stripe.
    std::vector<uint8_t> wide(static_cast<size_t>(400) * 180, 16);
    stamp::DrawStripe(77, wide.data(), 320, 180, 400);
    ASSERT_TRUE(stamp::ReadStripe(wide.data(), 320, 180, 400, &t));
    EXPECT_EQ(t, 77u);
    EXPECT_FALSE(stamp::ReadStripe(wide.data(), 320, 180, 200, &t));
    EXPECT_FALSE(stamp::ReadStripe(nullptr, 320, 180, 320, &t));
    YuvPicture small;
    small.Resize(126, 64);
    DrawTimeStripe(77, &small);
    EXPECT_FALSE(stamp::ReadStripe(small.y.data(), small.width, small.height, small.width, &t));
    EXPECT_TRUE(std::all_of(small.y.begin(), small.y.end(), [](uint8_t v) { return v == 16; }));
}

TEST(H265Stream, KeyFramesCarryParameterSetsAndTheStampIsAPrefixSei) {
    StreamEncoder encoder;
    std::string error;
    ASSERT_TRUE(encoder.Open(320, 180, 10, &error, StreamEncoder::Codec::kH265)) << error;
    YuvPicture p;
    p.Resize(320, 180);
    std::vector<std::vector<uint8_t>> units;
    std::vector<size_t> keys;
    for (int i = 0; i < 35; ++i) {
        DrawTestPicture("CAM", "12:00:00", static_cast<uint32_t>(i), Defaults(), &p,
                        stamp::kStripeRows);
        DrawTimeStripe(static_cast<uint64_t>(i), &p);
        std::vector<uint8_t> au;
        const size_t field = stamp::Append(stamp::Codec::kH265, &au);
        EXPECT_EQ(au.size(), stamp::kUnitSize + 1);
        EXPECT_EQ(au[4] >> 1, 39);  // prefix SEI
        stamp::Write(&au[field], 1000 + static_cast<uint64_t>(i));
        bool key = false;
        ASSERT_TRUE(encoder.Encode(p, &au, &key));
        if (au.size() == stamp::kUnitSize + 1)
            continue;  // held back by the encoder
        uint64_t sent = 0;
        ASSERT_TRUE(stamp::Find(au.data(), au.size(), &sent));
        EXPECT_EQ(sent, 1000u + static_cast<uint64_t>(i));
        if (key)
            keys.push_back(units.size());
        units.push_back(std::move(au));
    }
    // A key frame about every second (10 frames), never a long wait.
    ASSERT_GE(keys.size(), 3u);
    for (size_t k = 1; k < keys.size(); ++k) EXPECT_LE(keys[k] - keys[k - 1], 10u);
    // A viewer that joins at the second key frame decodes every picture from there,
    // the stamp units in between notwithstanding.
    std::vector<uint8_t> joined;
    for (size_t i = keys[1]; i < units.size(); ++i)
        joined.insert(joined.end(), units[i].begin(), units[i].end());
    const Decoded d = Decode(AV_CODEC_ID_HEVC, joined);
    EXPECT_EQ(d.unreadable, 0);
    ASSERT_FALSE(d.times.empty());
    EXPECT_EQ(d.times.front(), keys[1]);
}

}  // namespace
}  // namespace camsim
