// Synthetic H.264 clips made with libx264 (or H.265 with libx265) at run time, for the player's
// tests and benchmark.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

namespace strevotest {

struct X264Settings {
    int width = 320;
    int height = 240;
    int fps = 30;
    int gop = 30;
    int kbps = 0;  // 0: constant quality
    int slices = 1;
    std::string preset = "ultrafast";
    int threads = 1;
    std::string encoder = "libx264";  // or "libx265"
};

struct EncodedUnit {
    std::vector<uint8_t> bytes;  // one access unit, Annex B
    bool key = false;
};

// Encodes `frames` pictures without B-frames, one access unit each; paint(frame, i) fills the
// YUV 4:2:0 planes of picture i. Empty with a reason in *error when libx264 is missing.
inline std::vector<EncodedUnit> EncodeX264(const X264Settings& s, int frames,
                                           const std::function<void(AVFrame*, int)>& paint,
                                           std::string* error) {
    std::vector<EncodedUnit> units;
    const bool hevc = s.encoder == "libx265";
    const AVCodec* codec = avcodec_find_encoder_by_name(s.encoder.c_str());
    AVCodecContext* ctx = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!ctx) {
        *error = s.encoder + " is not available";
        return units;
    }
    ctx->width = s.width;
    ctx->height = s.height;
    ctx->time_base = AVRational{1, s.fps};
    ctx->framerate = AVRational{s.fps, 1};
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->gop_size = s.gop;
    ctx->max_b_frames = 0;
    ctx->thread_count = s.threads;
    ctx->bit_rate = int64_t{s.kbps} * 1000;
    av_opt_set(ctx->priv_data, "preset", s.preset.c_str(), 0);
    av_opt_set(ctx->priv_data, "tune", "zerolatency", 0);
    if (hevc) {
        // Closed GOPs (IDR key frames), one worker (x265 crashes on slices without a pool), quiet.
        const std::string params =
            "log-level=error:scenecut=0:open-gop=0:pools=1:"
            "frame-threads=1:slices=" +
            std::to_string(s.slices);
        av_opt_set(ctx->priv_data, "x265-params", params.c_str(), 0);
    } else {
        const std::string params = "scenecut=0:slices=" + std::to_string(s.slices);
        av_opt_set(ctx->priv_data, "x264-params", params.c_str(), 0);
    }
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    if (avcodec_open2(ctx, codec, nullptr) < 0 || !frame || !packet) {
        *error = s.encoder + " does not open";
        frames = 0;
    } else {
        frame->format = AV_PIX_FMT_YUV420P;
        frame->width = s.width;
        frame->height = s.height;
        av_frame_get_buffer(frame, 0);
    }
    auto drain = [&] {
        while (avcodec_receive_packet(ctx, packet) >= 0) {
            units.push_back({std::vector<uint8_t>(packet->data, packet->data + packet->size),
                             (packet->flags & AV_PKT_FLAG_KEY) != 0});
            av_packet_unref(packet);
        }
    };
    for (int i = 0; i < frames; ++i) {
        av_frame_make_writable(frame);
        paint(frame, i);
        frame->pts = i;
        avcodec_send_frame(ctx, frame);
        drain();
    }
    if (frames > 0) {
        avcodec_send_frame(ctx, nullptr);
        drain();
    }
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
    return units;
}

}  // namespace strevotest
