#include "Snapshot.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <cstdio>
#include <cstring>

#include "FileReplace.h"
#include "movra.h"

namespace strevo {

int32_t EncodePng(const uint32_t* pixels, int width, int height, int strideBytes,
                  std::vector<uint8_t>* png) {
    if (!pixels || width <= 0 || height <= 0 || strideBytes < width * 4 || !png)
        return kSnapshotEncodeFailed;
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (!codec)
        return kSnapshotEncodeFailed;
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    SwsContext* sws = nullptr;
    int32_t rc = kSnapshotEncodeFailed;
    if (ctx && frame && packet) {
        ctx->width = width;
        ctx->height = height;
        ctx->pix_fmt = AV_PIX_FMT_RGB24;
        ctx->time_base = AVRational{1, 25};
        frame->format = AV_PIX_FMT_RGB24;
        frame->width = width;
        frame->height = height;
        // 0xffRRGGBB in memory on a little-endian machine: B, G, R, 0xff.
        sws = sws_getContext(width, height, AV_PIX_FMT_BGR0, width, height, AV_PIX_FMT_RGB24,
                             SWS_POINT, nullptr, nullptr, nullptr);
        const uint8_t* src[4] = {reinterpret_cast<const uint8_t*>(pixels), nullptr, nullptr,
                                 nullptr};
        const int srcStride[4] = {strideBytes, 0, 0, 0};
        if (sws && avcodec_open2(ctx, codec, nullptr) >= 0 && av_frame_get_buffer(frame, 0) >= 0 &&
            sws_scale(sws, src, srcStride, 0, height, frame->data, frame->linesize) == height &&
            avcodec_send_frame(ctx, frame) >= 0 && avcodec_send_frame(ctx, nullptr) >= 0 &&
            avcodec_receive_packet(ctx, packet) >= 0) {
            png->assign(packet->data, packet->data + packet->size);
            rc = 0;
        }
    }
    sws_freeContext(sws);
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
    return rc;
}

bool PlayerHasPicture(int32_t port) {
    int32_t w = 0, h = 0;
    return port >= 0 && MV_GetLastFrame(port, nullptr, &w, &h) == MV_OK;
}

int32_t SavePlayerPicture(int32_t port, const std::string& path, int* width, int* height) {
    std::vector<uint32_t> pixels;
    int32_t w = 0, h = 0;
    // The stream may change its size between asking and copying: ask again then.
    int32_t rc = MV_ERR_BAD_ARGUMENT;
    for (int attempt = 0; attempt < 3 && rc == MV_ERR_BAD_ARGUMENT; ++attempt) {
        rc = MV_GetLastFrame(port, nullptr, &w, &h);
        if (rc != MV_OK)
            break;
        pixels.assign(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
        const MV_Image image{pixels.data(), w, h, w * 4};
        rc = MV_GetLastFrame(port, &image, &w, &h);
    }
    if (rc == MV_ERR_NO_PICTURE)
        return kSnapshotNoPicture;
    if (rc != MV_OK)
        return rc;
    std::vector<uint8_t> png;
    if (int32_t e = EncodePng(pixels.data(), w, h, w * 4, &png); e != 0)
        return e;
    switch (ReplaceFileContents(path, png.data(), png.size())) {
        case FileReplaceResult::kReplaced:
            break;
        case FileReplaceResult::kOpenFailed:
            return kSnapshotOpenFailed;
        case FileReplaceResult::kWriteFailed:
            return kSnapshotWriteFailed;
    }
    if (width)
        *width = w;
    if (height)
        *height = h;
    return 0;
}

std::string SnapshotFileName(const std::string& address, const std::tm& local, int millis) {
    std::string name = address.empty() ? std::string("camera") : address;
    for (char& c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 32 || std::strchr("\\/:*?\"<>|", c))
            c = '_';
    }
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "_%04d%02d%02d_%02d%02d%02d_%03d.png", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  millis % 1000);
    return name + stamp;
}

}  // namespace strevo
