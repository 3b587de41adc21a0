#include "StreamEncoder.h"

#include <algorithm>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

namespace camsim {

void YuvPicture::Resize(int w, int h) {
    width = w;
    height = h;
    y.assign(static_cast<size_t>(w) * h, 16);
    u.assign(static_cast<size_t>(w / 2) * (h / 2), 128);
    v.assign(static_cast<size_t>(w / 2) * (h / 2), 128);
}

struct StreamEncoder::Impl {
    AVCodecContext* ctx = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    int64_t pts = 0;

    ~Impl() {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&ctx);
    }
};

StreamEncoder::StreamEncoder() = default;
StreamEncoder::~StreamEncoder() = default;

namespace {

AVCodecContext* OpenCodec(const AVCodec* codec, int width, int height, int fps) {
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    if (!ctx)
        return nullptr;
    ctx->width = width;
    ctx->height = height;
    ctx->time_base = AVRational{1, fps};
    ctx->framerate = AVRational{fps, 1};
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->gop_size = fps * 2;  // a late viewer waits at most two seconds for a picture
    ctx->max_b_frames = 0;    // live: no reordering delay
    ctx->thread_count = 1;    // many cameras share two cores; one thread per stream
    // Enough for the test picture's sharp edges at any size the simulator offers.
    ctx->bit_rate = std::max<int64_t>(800000, int64_t{width} * height * fps / 8);
    if (codec->id == AV_CODEC_ID_H264 || codec->id == AV_CODEC_ID_HEVC) {
        av_opt_set(ctx->priv_data, "preset", "ultrafast", 0);
        av_opt_set(ctx->priv_data, "tune", "zerolatency", 0);
    }
    if (codec->id == AV_CODEC_ID_HEVC) {
        // Closed GOPs of IDR pictures with their parameter sets, so a viewer joins
        // at any key frame; no thread pools: one thread per stream, as for H.264.
        ctx->gop_size = fps;
        const std::string params = "keyint=" + std::to_string(fps) +
                                   ":min-keyint=" + std::to_string(fps) +
                                   ":scenecut=0:open-gop=0:bframes=0:repeat-headers=1"
                                   ":pools=none:frame-threads=1:log-level=error";
        av_opt_set(ctx->priv_data, "x265-params", params.c_str(), 0);
    }
    if (avcodec_open2(ctx, codec, nullptr) < 0)
        avcodec_free_context(&ctx);
    return ctx;
}

}  // namespace

bool StreamEncoder::Open(int width, int height, int fps, std::string* error, Codec want) {
    // The encoder's per-stream banner and statistics would drown camsim's own output.
    if (av_log_get_level() == AV_LOG_INFO)
        av_log_set_level(AV_LOG_WARNING);
    impl_ = std::make_unique<Impl>();
    // Hardware HEVC encoders are not tried: they would not honour the options above.
    std::vector<const AVCodec*> candidates;
    if (want == Codec::kH265)
        candidates = {avcodec_find_encoder_by_name("libx265")};
    else
        candidates = {avcodec_find_encoder_by_name("libx264"),
                      avcodec_find_encoder(AV_CODEC_ID_H264),
                      avcodec_find_encoder(AV_CODEC_ID_MPEG4)};
    for (const AVCodec* c : candidates) {
        if (!c)
            continue;
        impl_->ctx = OpenCodec(c, width, height, fps);
        if (impl_->ctx) {
            codec_ = c->id == AV_CODEC_ID_H264   ? Codec::kH264
                     : c->id == AV_CODEC_ID_HEVC ? Codec::kH265
                                                 : Codec::kMpeg4;
            break;
        }
    }
    if (!impl_->ctx) {
        *error = want == Codec::kH265 ? "the H.265 encoder (libx265) could not be opened"
                                      : "no H.264 or MPEG-4 encoder could be opened";
        impl_.reset();
        return false;
    }
    impl_->frame = av_frame_alloc();
    impl_->packet = av_packet_alloc();
    if (!impl_->frame || !impl_->packet) {
        *error = "out of memory";
        impl_.reset();
        return false;
    }
    impl_->frame->format = AV_PIX_FMT_YUV420P;
    impl_->frame->width = width;
    impl_->frame->height = height;
    if (av_frame_get_buffer(impl_->frame, 0) < 0) {
        *error = "out of memory";
        impl_.reset();
        return false;
    }
    return true;
}

bool StreamEncoder::Encode(const YuvPicture& picture, std::vector<uint8_t>* out, bool* keyFrame) {
    *keyFrame = false;
    if (!impl_ || picture.width != impl_->ctx->width || picture.height != impl_->ctx->height)
        return false;
    AVFrame* f = impl_->frame;
    if (av_frame_make_writable(f) < 0)
        return false;
    const uint8_t* planes[3] = {picture.y.data(), picture.u.data(), picture.v.data()};
    int widths[3] = {picture.width, picture.width / 2, picture.width / 2};
    int heights[3] = {picture.height, picture.height / 2, picture.height / 2};
    for (int p = 0; p < 3; ++p)
        av_image_copy_plane(f->data[p], f->linesize[p], planes[p], widths[p], widths[p],
                            heights[p]);
    f->pts = impl_->pts++;
    if (avcodec_send_frame(impl_->ctx, f) < 0)
        return false;
    for (;;) {
        int r = avcodec_receive_packet(impl_->ctx, impl_->packet);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
            break;
        if (r < 0)
            return false;
        out->insert(out->end(), impl_->packet->data, impl_->packet->data + impl_->packet->size);
        if (impl_->packet->flags & AV_PKT_FLAG_KEY)
            *keyFrame = true;
        av_packet_unref(impl_->packet);
    }
    return true;
}

}  // namespace camsim
