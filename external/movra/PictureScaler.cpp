#include "PictureScaler.h"

#include <algorithm>
#include <mutex>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace movra {

namespace {

constexpr uint32_t kBlack = 0xff000000u;

// The 4:4:4 intermediate is needed only between the two steps of one conversion, so the
// scalers of all ports take turns with one instead of keeping one each. It grows to the
// largest video drawn and goes when the last scaler does.
struct SharedIntermediate {
    std::mutex lock;
    AVFrame* frame = nullptr;
    int users = 0;
};

SharedIntermediate& Intermediate() {
    static SharedIntermediate* shared = new SharedIntermediate;  // ports may outlive statics
    return *shared;
}

// Makes the intermediate at least width x height; false when out of memory. Under its lock.
bool Reserve(SharedIntermediate& mid, int width, int height) {
    if (mid.frame && mid.frame->width >= width && mid.frame->height >= height)
        return true;
    AVFrame* grown = av_frame_alloc();
    if (!grown)
        return false;
    grown->format = AV_PIX_FMT_YUV444P;
    grown->width = mid.frame ? std::max(mid.frame->width, width) : width;
    grown->height = mid.frame ? std::max(mid.frame->height, height) : height;
    if (av_frame_get_buffer(grown, 0) < 0) {
        av_frame_free(&grown);
        return false;
    }
    av_frame_free(&mid.frame);
    mid.frame = grown;
    return true;
}

}  // namespace

Rect Letterbox(int targetWidth, int targetHeight, int pictureWidth, int pictureHeight, int sarNum,
               int sarDen) {
    Rect r;
    if (targetWidth <= 0 || targetHeight <= 0 || pictureWidth <= 0 || pictureHeight <= 0)
        return r;
    if (sarNum <= 0 || sarDen <= 0)
        sarNum = sarDen = 1;
    // Display shape dw:dh; compare tw/th with dw/dh without division.
    const int64_t dw = int64_t{pictureWidth} * sarNum;
    const int64_t dh = int64_t{pictureHeight} * sarDen;
    if (int64_t{targetWidth} * dh <= int64_t{targetHeight} * dw) {
        r.width = targetWidth;
        r.height = static_cast<int>((int64_t{targetWidth} * dh + dw / 2) / dw);
    } else {
        r.height = targetHeight;
        r.width = static_cast<int>((int64_t{targetHeight} * dw + dh / 2) / dh);
    }
    r.width = std::clamp(r.width, 1, targetWidth);
    r.height = std::clamp(r.height, 1, targetHeight);
    r.x = (targetWidth - r.width) / 2;
    r.y = (targetHeight - r.height) / 2;
    return r;
}

PictureScaler::PictureScaler() {
    SharedIntermediate& mid = Intermediate();
    std::lock_guard lock(mid.lock);
    ++mid.users;
}

PictureScaler::~PictureScaler() {
    sws_freeContext(resize_);
    sws_freeContext(toRgb_);
    SharedIntermediate& mid = Intermediate();
    std::lock_guard lock(mid.lock);
    if (--mid.users == 0)
        av_frame_free(&mid.frame);
}

bool PictureScaler::Draw(const AVFrame* frame, int targetWidth, int targetHeight) {
    if (!Prepare(frame, targetWidth, targetHeight))
        return false;
    const Rect& video = setup_.video;
    if (targetWidth != ownWidth_ || targetHeight != ownHeight_ || video != ownVideo_) {
        // New geometry: the bars are painted once here; later pictures cover only the video.
        stride_ = (targetWidth + 3) & ~3;  // 16-byte rows suit the converter
        pixels_.assign(static_cast<size_t>(stride_) * targetHeight, kBlack);
        ownWidth_ = targetWidth;
        ownHeight_ = targetHeight;
        ownVideo_ = video;
    }
    return Scale(frame, reinterpret_cast<uint8_t*>(pixels_.data()), stride_ * 4);
}

bool PictureScaler::DrawInto(const AVFrame* frame, const Image& image) {
    if (!pixels_.empty()) {
        std::vector<uint32_t>().swap(pixels_);
        ownWidth_ = ownHeight_ = 0;
    }
    if (!image.pixels || image.width <= 0 || image.height <= 0 ||
        image.stride < int64_t{image.width} * 4 || !Prepare(frame, image.width, image.height))
        return false;
    auto* base = reinterpret_cast<uint8_t*>(image.pixels);
    if (!Scale(frame, base, image.stride))
        return false;
    // The image may hold anything: the bars are painted every time (a few rows, cheap).
    const Rect& video = setup_.video;
    for (int y = 0; y < image.height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(base + static_cast<ptrdiff_t>(y) * image.stride);
        if (y < video.y || y >= video.y + video.height) {
            std::fill_n(row, image.width, kBlack);
        } else {
            std::fill_n(row, video.x, kBlack);
            std::fill(row + video.x + video.width, row + image.width, kBlack);
        }
    }
    return true;
}

bool PictureScaler::Prepare(const AVFrame* frame, int targetWidth, int targetHeight) {
    const Rect video = Letterbox(targetWidth, targetHeight, frame->width, frame->height,
                                 frame->sample_aspect_ratio.num, frame->sample_aspect_ratio.den);
    if (video.width <= 0)
        return false;
    // Two steps, resizing in YUV with chroma at full resolution, then an unscaled conversion
    // to RGB: the converter's unscaled path is fast, its scaled RGB output is not (together
    // about 60 % of one scaled step, with sharper colour edges).
    // Shrinking (four panes of a 1080p camera) averages areas: sharp, without the moire of
    // cheaper filters. Enlarging interpolates.
    const auto format = static_cast<AVPixelFormat>(frame->format);
    const int filter =
        video.width <= frame->width && video.height <= frame->height ? SWS_AREA : SWS_BILINEAR;
    resize_ =
        sws_getCachedContext(resize_, frame->width, frame->height, format, video.width,
                             video.height, AV_PIX_FMT_YUV444P, filter, nullptr, nullptr, nullptr);
    toRgb_ =
        sws_getCachedContext(toRgb_, video.width, video.height, AV_PIX_FMT_YUV444P, video.width,
                             video.height, AV_PIX_FMT_RGB32, SWS_POINT, nullptr, nullptr, nullptr);
    if (!resize_ || !toRgb_) {
        setup_ = Setup{};
        return false;
    }

    const bool fullRange = frame->color_range == AVCOL_RANGE_JPEG ||
                           format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P ||
                           format == AV_PIX_FMT_YUVJ444P;
    const int matrix = frame->colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709 : SWS_CS_DEFAULT;
    const Setup setup{frame->width, frame->height, format,       matrix,
                      fullRange,    targetWidth,   targetHeight, video};
    if (setup == setup_)
        return true;
    // A new converter (sws_getCachedContext replaces it when sizes change) starts with
    // the default colour set-up. The first step keeps the range; the second applies the
    // stream's matrix and range.
    const int* coefficients = sws_getCoefficients(matrix);
    const int range = fullRange ? 1 : 0;
    sws_setColorspaceDetails(resize_, coefficients, range, coefficients, range, 0, 1 << 16,
                             1 << 16);
    sws_setColorspaceDetails(toRgb_, coefficients, range, sws_getCoefficients(SWS_CS_DEFAULT), 1, 0,
                             1 << 16, 1 << 16);
    setup_ = setup;
    return true;
}

bool PictureScaler::Scale(const AVFrame* frame, uint8_t* image, int stride) {
    const Rect& video = setup_.video;
    SharedIntermediate& mid = Intermediate();
    std::lock_guard lock(mid.lock);
    if (!Reserve(mid, video.width, video.height) ||
        sws_scale(resize_, frame->data, frame->linesize, 0, frame->height, mid.frame->data,
                  mid.frame->linesize) <= 0)
        return false;
    uint8_t* dst[4] = {image + static_cast<ptrdiff_t>(video.y) * stride + video.x * 4, nullptr,
                       nullptr, nullptr};
    const int dstStride[4] = {stride, 0, 0, 0};
    return sws_scale(toRgb_, mid.frame->data, mid.frame->linesize, 0, video.height, dst,
                     dstStride) > 0;
}

}  // namespace movra
