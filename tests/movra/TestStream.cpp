#include "TestStream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>

#include "PictureScaler.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace movratest {

const std::vector<uint8_t> kEndOfUnit = {0, 0, 0, 1, 0x09, 0xf0};
const std::vector<uint8_t> kEndOfUnitHevc = {0, 0, 0, 1, 0x46, 0x01, 0x50};

const std::vector<uint8_t>& EndOfUnit(int codec) {
    return codec == MV_CODEC_H265 ? kEndOfUnitHevc : kEndOfUnit;
}

int MarkerLevel(int frame) {
    return 40 + (frame * 53) % 170;
}

uint32_t MarkerColour(int frame) {
    // BT.601, limited range: what a player must make of the marker's Y, U and V.
    const double y = 1.164 * (MarkerLevel(frame) - 16), u = kMarkerU - 128, v = kMarkerV - 128;
    auto c = [](double x) { return static_cast<uint32_t>(std::clamp(x + 0.5, 0.0, 255.0)); };
    return 0xff000000u | c(y + 1.596 * v) << 16 | c(y - 0.392 * u - 0.813 * v) << 8 |
           c(y + 2.017 * u);
}

std::vector<uint8_t> Stream::Joined() const {
    std::vector<uint8_t> all;
    for (const Unit& u : units) all.insert(all.end(), u.bytes.begin(), u.bytes.end());
    return all;
}

Stream Encode(int width, int height, int frames, int gop, int slices, int first, int codec) {
    Stream stream;
    stream.codec = codec;
    stream.width = width;
    stream.height = height;
    strevotest::X264Settings settings;
    settings.width = width;
    settings.height = height;
    settings.gop = gop;
    settings.slices = slices;
    if (codec == MV_CODEC_H265)
        settings.encoder = "libx265";
    std::string error;
    stream.units = strevotest::EncodeX264(
        settings, frames,
        [&](AVFrame* frame, int n) {
            const int i = first + n;
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    const bool marker = x < width / 5 && y < height / 4;
                    frame->data[0][y * frame->linesize[0] + x] = static_cast<uint8_t>(
                        marker ? MarkerLevel(i) : 16 + (x + 2 * y + 7 * i) % 200);
                }
            for (int y = 0; y < height / 2; ++y)
                for (int x = 0; x < width / 2; ++x) {
                    const bool marker = x < width / 10 && y < height / 8;
                    frame->data[1][y * frame->linesize[1] + x] =
                        static_cast<uint8_t>(marker ? kMarkerU : 64 + (x + 3 * i) % 128);
                    frame->data[2][y * frame->linesize[2] + x] =
                        static_cast<uint8_t>(marker ? kMarkerV : 64 + (y + 5 * i) % 128);
                }
        },
        &error);
    EXPECT_EQ(stream.units.size(), static_cast<size_t>(frames)) << "one unit per frame " << error;
    return stream;
}

std::vector<uint64_t> ReferenceHashes(const Stream& stream, int targetWidth, int targetHeight) {
    std::vector<uint64_t> hashes;
    const AVCodec* codec =
        avcodec_find_decoder(stream.codec == MV_CODEC_H265 ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    ctx->flags |= AV_CODEC_FLAG_LOW_DELAY;
    ctx->thread_count = 1;
    avcodec_open2(ctx, codec, nullptr);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    movra::PictureScaler scaler;
    for (const Unit& u : stream.units) {
        av_new_packet(packet, static_cast<int>(u.bytes.size()));
        std::copy(u.bytes.begin(), u.bytes.end(), packet->data);
        avcodec_send_packet(ctx, packet);
        av_packet_unref(packet);
        uint64_t hash = 0;
        while (avcodec_receive_frame(ctx, frame) >= 0) {
            if (scaler.Draw(frame, targetWidth, targetHeight)) {
                MV_Picture p{};
                p.pixels = scaler.pixels();
                p.width = scaler.width();
                p.height = scaler.height();
                p.stride = scaler.stride();
                hash = HashPicture(p);
            }
            av_frame_unref(frame);
        }
        hashes.push_back(hash);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&ctx);
    return hashes;
}

uint64_t HashPicture(const MV_Picture& picture) {
    uint64_t h = 1469598103934665603ull;
    for (int y = 0; y < picture.height; ++y) {
        const auto* row = reinterpret_cast<const uint8_t*>(picture.pixels) +
                          static_cast<size_t>(y) * picture.stride;
        for (int x = 0; x < picture.width * 4; ++x) h = (h ^ row[x]) * 1099511628211ull;
    }
    return h;
}

RecordingSink::RecordingSink(int width, int height) : width_(width), height_(height) {
    sink_.user = this;
    sink_.size = &RecordingSink::Size;
    sink_.present = &RecordingSink::Present;
}

void RecordingSink::SetSize(int width, int height) {
    width_ = width;
    height_ = height;
}

void RecordingSink::Size(void* user, int32_t* width, int32_t* height) {
    auto* self = static_cast<RecordingSink*>(user);
    *width = self->width_;
    *height = self->height_;
}

void RecordingSink::Present(void* user, const MV_Picture* p) {
    auto* self = static_cast<RecordingSink*>(user);
    ++self->presents_;
    if (self->onPresent)
        self->onPresent();
    Shown s;
    s.tag = p->tag;
    s.hash = HashPicture(*p);
    s.width = p->width;
    s.height = p->height;
    s.videoX = p->videoX;
    s.videoY = p->videoY;
    s.videoWidth = p->videoWidth;
    s.videoHeight = p->videoHeight;
    s.sourceWidth = p->sourceWidth;
    s.sourceHeight = p->sourceHeight;
    // Inside the marker block: a tenth of the way into the video.
    const int mx = p->videoX + p->videoWidth / 10;
    const int my = p->videoY + p->videoHeight / 10;
    const uint32_t marker = *reinterpret_cast<const uint32_t*>(
        reinterpret_cast<const uint8_t*>(p->pixels) + static_cast<size_t>(my) * p->stride +
        static_cast<size_t>(mx) * 4);
    s.marker = marker;
    std::vector<uint32_t> image(static_cast<size_t>(p->width) * p->height);
    for (int y = 0; y < p->height; ++y)
        std::memcpy(
            &image[static_cast<size_t>(y) * p->width],
            reinterpret_cast<const uint8_t*>(p->pixels) + static_cast<size_t>(y) * p->stride,
            static_cast<size_t>(p->width) * 4);
    std::lock_guard lock(self->mutex_);
    self->shown_.push_back(s);
    self->last_ = std::move(image);
    self->changed_.notify_all();
}

std::vector<Shown> RecordingSink::shown() const {
    std::lock_guard lock(mutex_);
    return shown_;
}

std::vector<uint32_t> RecordingSink::lastImage() const {
    std::lock_guard lock(mutex_);
    return last_;
}

bool RecordingSink::WaitForTag(int64_t tag, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit,
                             [&] { return !shown_.empty() && shown_.back().tag >= tag; });
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

MV_Stats Stats(int32_t port) {
    MV_Stats s{};
    EXPECT_EQ(MV_GetStats(port, &s), MV_OK);
    return s;
}

}  // namespace movratest
