// What the program asks of FFmpeg, cJSON, hidapi and spdlog on Windows.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}
#include <cJSON.h>
#include <hidapi.h>
#include <spdlog/spdlog.h>

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

static int failures = 0;
static void Expect(bool ok, const char* what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    failures += ok ? 0 : 1;
}

// A 4x4 BGR0 picture through swscale and the PNG encoder, as snapshots are made.
static bool EncodePng() {
    const AVCodec* png = avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (!png) return false;
    AVCodecContext* c = avcodec_alloc_context3(png);
    c->width = 4;
    c->height = 4;
    c->pix_fmt = AV_PIX_FMT_RGB24;
    c->time_base = AVRational{1, 25};
    AVFrame* f = av_frame_alloc();
    f->width = 4;
    f->height = 4;
    f->format = AV_PIX_FMT_RGB24;
    AVPacket* p = av_packet_alloc();
    uint8_t bgr0[4 * 4 * 4];
    std::memset(bgr0, 0x80, sizeof bgr0);
    const uint8_t* src[1] = {bgr0};
    const int stride[1] = {16};
    SwsContext* s = sws_getContext(4, 4, AV_PIX_FMT_BGR0, 4, 4, AV_PIX_FMT_RGB24, SWS_POINT,
                                   nullptr, nullptr, nullptr);
    bool ok = s && avcodec_open2(c, png, nullptr) == 0 && av_frame_get_buffer(f, 0) == 0 &&
              sws_scale(s, src, stride, 0, 4, f->data, f->linesize) == 4 &&
              avcodec_send_frame(c, f) == 0 && avcodec_receive_packet(c, p) == 0 &&
              p->size > 8 && std::memcmp(p->data, "\x89PNG", 4) == 0;
    sws_freeContext(s);
    av_packet_free(&p);
    av_frame_free(&f);
    avcodec_free_context(&c);
    return ok;
}

int main() {
    avformat_network_init();
    Expect(avcodec_find_decoder(AV_CODEC_ID_H264) != nullptr, "H.264 decoder");
    Expect(avcodec_find_decoder(AV_CODEC_ID_HEVC) != nullptr, "H.265 decoder");
    Expect(av_find_input_format("rtsp") != nullptr, "rtsp demuxer");
    Expect(EncodePng(), "PNG snapshot through swscale");

    cJSON* doc = cJSON_Parse("{\"name\":\"\xe6\x91\x84\xe5\x83\x8f\xe6\x9c\xba\"}");
    const cJSON* name = cJSON_GetObjectItemCaseSensitive(doc, "name");
    Expect(cJSON_IsString(name) && std::strcmp(name->valuestring, "\xe6\x91\x84\xe5\x83\x8f\xe6\x9c\xba") == 0,
           "cJSON parses UTF-8");
    cJSON_Delete(doc);

    // Wine 8's cfgmgr32 lacks CM_Get_Device_Interface_PropertyW, which
    // hidapi resolves at start (Windows has it since Vista): there the
    // library loading and reporting that is all that can be checked.
    if (hid_init() == 0) {
        Expect(true, "hidapi initialises (Windows backend)");
        hid_free_enumeration(hid_enumerate(0, 0));
        hid_exit();
    } else {
        const bool wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
        std::printf("hidapi: %ls\n", hid_error(nullptr));
        Expect(wine && std::wcsstr(hid_error(nullptr), L"resolve DLL functions") != nullptr,
               "hidapi loads; under Wine its missing cfgmgr32 function is reported");
    }

    Expect(fmt::format("{:>4}|{}", 7, "x") == "   7|x", "spdlog's fmt formats");
    spdlog::info("probe log line");
    std::printf("%d failed\n", failures);
    return failures == 0 ? 0 : 1;
}
