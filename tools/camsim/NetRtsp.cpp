// Network cameras over RTSP: rtsp://ADDRESS:554/main and /sub through GStreamer's
// RTSP server, fed with camsim's own test picture and encoder, so what the SDK
// changes shows here too (docs/camsim-rtsp.md). One server per camera address,
// all on one GLib main loop thread; a feeder thread per watched stream only.
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>
#include <gst/sdp/gstsdpmessage.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CameraModel.h"
#include "Camsim.h"
#include "NetSimPicture.h"
#include "NetSimSocket.h"
#include "NetSimStamp.h"
#include "StreamEncoder.h"

namespace camsim {
namespace {

using Clock = std::chrono::steady_clock;

enum Fault : unsigned { kRefuse = 1, kStall = 2, kDrop = 4, kNoSprop = 8 };

struct RtspOptions {
    bool enabled = true;
    bool auth = true;
    int port = 554;
    bool portGiven = false;
    StreamEncoder::Codec codec = StreamEncoder::Codec::kH264;
    unsigned faults = 0;
    int dropAfterS = 0;
    int faultCamera = 0;  // 1-based; 0: every camera
};

class RtspModule;

// One mounted path of one camera; lives as long as the module.
struct StreamConfig {
    RtspModule* module = nullptr;
    const NetCamera* cam = nullptr;
    int width = 0, height = 0, fps = 0;
    unsigned faults = 0;
};

// Draws, encodes and pushes one media's pictures at the stream's rate.
class Feeder {
  public:
    Feeder(const StreamConfig& config, StreamEncoder::Codec codec, bool busy, GstAppSrc* src)
        : config_(config), codec_(codec), busy_(busy), src_(src) {
        thread_ = std::thread([this] { Run(); });
    }
    ~Feeder() {
        {
            std::lock_guard<std::mutex> lock(mu_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
        gst_object_unref(src_);
    }
    Feeder(const Feeder&) = delete;
    Feeder& operator=(const Feeder&) = delete;

  private:
    void Run() {
        const int w = config_.width, h = config_.height, fps = config_.fps;
        StreamEncoder encoder;
        std::string error;
        if (!encoder.Open(w, h, fps, &error, codec_) || encoder.codec() != codec_) {
            if (error.empty())
                error = "no H.264 encoder";
            std::fprintf(stderr, "camsim: rtsp camera %s: %s\n", config_.cam->name.c_str(),
                         error.c_str());
            gst_app_src_end_of_stream(src_);
            return;
        }
        const stamp::Codec stampCodec =
            codec_ == StreamEncoder::Codec::kH265 ? stamp::Codec::kH265 : stamp::Codec::kH264;
        YuvPicture picture;
        picture.Resize(w, h);
        std::vector<uint8_t> unit, au;
        const auto period = std::chrono::microseconds(1000000 / fps);
        auto next = Clock::now();
        uint32_t frame = 0;
        SceneCache scene;
        std::unique_lock<std::mutex> lock(mu_);
        while (!stop_) {
            lock.unlock();
            const CameraModel* model = config_.cam->model.get();
            const CameraSnapshot snap = model ? model->Snapshot() : CameraSnapshot{};
            DrawTestPicture(config_.cam->name, netio::LocalTimeText(), frame, snap, &picture,
                            stamp::kStripeRows, &scene);
            if (busy_)
                DrawBusyBand(frame, &picture);
            DrawTimeStripe(stamp::NowMicros(), &picture);
            ++frame;
            unit.clear();
            bool key = false;
            if (!encoder.Encode(picture, &unit, &key)) {
                gst_app_src_end_of_stream(src_);
                return;
            }
            if (!unit.empty()) {
                au.clear();
                const size_t field = stamp::Append(stampCodec, &au);
                au.insert(au.end(), unit.begin(), unit.end());
                stamp::Write(&au[field], stamp::NowMicros());
                GstBuffer* buffer = gst_buffer_new_memdup(au.data(), au.size());
                if (!key)
                    GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
                // Flushing while the media shuts down; the module stops this feeder then.
                gst_app_src_push_buffer(src_, buffer);
            }
            next += period;
            const auto now = Clock::now();
            if (next < now)
                next = now;  // fell behind: do not try to catch up
            lock.lock();
            wake_.wait_until(lock, next, [this] { return stop_; });
        }
    }

    const StreamConfig config_;
    const StreamEncoder::Codec codec_;
    const bool busy_;
    GstAppSrc* src_;
    std::mutex mu_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};

// The SDP of a no-sprop camera: parameter sets travel only in band.
GstRTSPMediaClass* g_parentMediaClass = nullptr;

gboolean SetupSdpWithoutSprop(GstRTSPMedia* media, GstSDPMessage* sdp, GstSDPInfo* info) {
    if (!g_parentMediaClass->setup_sdp(media, sdp, info))
        return FALSE;
    for (guint m = 0; m < gst_sdp_message_medias_len(sdp); ++m) {
        auto* sm = const_cast<GstSDPMedia*>(gst_sdp_message_get_media(sdp, m));
        for (guint a = 0; a < gst_sdp_media_attributes_len(sm); ++a) {
            const GstSDPAttribute* attr = gst_sdp_media_get_attribute(sm, a);
            if (!attr->key || std::strcmp(attr->key, "fmtp") != 0 || !attr->value)
                continue;
            // "96 key=value;key=value": keep every parameter but sprop-*.
            std::string value = attr->value, kept;
            const size_t space = value.find(' ');
            kept = value.substr(0, space == std::string::npos ? value.size() : space + 1);
            std::string rest = space == std::string::npos ? "" : value.substr(space + 1);
            bool first = true;
            for (size_t at = 0; at <= rest.size();) {
                size_t end = rest.find(';', at);
                if (end == std::string::npos)
                    end = rest.size();
                std::string param = rest.substr(at, end - at);
                if (!param.empty() && param.rfind("sprop-", 0) != 0) {
                    kept += (first ? "" : ";") + param;
                    first = false;
                }
                at = end + 1;
            }
            if (first) {  // nothing but parameter sets
                gst_sdp_media_remove_attribute(sm, a--);
                continue;
            }
            GstSDPAttribute replaced;
            gst_sdp_attribute_set(&replaced, "fmtp", kept.c_str());
            gst_sdp_media_replace_attribute(sm, a, &replaced);
        }
    }
    return TRUE;
}

GType NoSpropMediaType() {
    static const GType type = [] {
        GType t = g_type_register_static_simple(
            GST_TYPE_RTSP_MEDIA, "CamsimNoSpropMedia", sizeof(GstRTSPMediaClass),
            [](gpointer klass, gpointer) {
                auto* k = static_cast<GstRTSPMediaClass*>(klass);
                g_parentMediaClass =
                    static_cast<GstRTSPMediaClass*>(g_type_class_peek_parent(klass));
                k->setup_sdp = SetupSdpWithoutSprop;
            },
            sizeof(GstRTSPMedia), nullptr, GTypeFlags(0));
        return t;
    }();
    return type;
}

// Stall: the first RTP packet (held by the server until PLAY) becomes a filler
// unit that decodes to nothing, and every later one is dropped.
struct StallState {
    bool first = true;
    bool h265 = false;
};

GstPadProbeReturn StallProbe(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* state = static_cast<StallState*>(data);
    if (!state->first)
        return GST_PAD_PROBE_DROP;
    GstBuffer* rtp = nullptr;
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER_LIST) {
        GstBufferList* list = GST_PAD_PROBE_INFO_BUFFER_LIST(info);
        if (gst_buffer_list_length(list) > 0)
            rtp = gst_buffer_list_get(list, 0);
    } else {
        rtp = GST_PAD_PROBE_INFO_BUFFER(info);
    }
    GstMapInfo map;
    if (!rtp || !gst_buffer_map(rtp, &map, GST_MAP_READ))
        return GST_PAD_PROBE_DROP;
    size_t header = 12;
    if (map.size >= 12) {
        header += 4u * (map.data[0] & 0x0F);
        if ((map.data[0] & 0x10) && map.size >= header + 4)
            header += 4 + 4u * (size_t{map.data[header + 2]} << 8 | map.data[header + 3]);
    }
    if (map.size < header) {
        gst_buffer_unmap(rtp, &map);
        return GST_PAD_PROBE_DROP;
    }
    std::vector<uint8_t> packet(map.data, map.data + header);
    gst_buffer_unmap(rtp, &map);
    const uint8_t filler264[] = {0x0C, 0xFF, 0x80}, filler265[] = {38 << 1, 0x01, 0xFF, 0x80};
    if (state->h265)
        packet.insert(packet.end(), filler265, filler265 + sizeof filler265);
    else
        packet.insert(packet.end(), filler264, filler264 + sizeof filler264);
    GstBuffer* out = gst_buffer_new_memdup(packet.data(), packet.size());
    gst_buffer_copy_into(out, rtp, GST_BUFFER_COPY_METADATA, 0, static_cast<gsize>(-1));
    gst_mini_object_unref(GST_MINI_OBJECT_CAST(info->data));
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER_LIST) {
        GstBufferList* list = gst_buffer_list_new();
        gst_buffer_list_add(list, out);
        info->data = list;
    } else {
        info->data = out;
    }
    state->first = false;
    return GST_PAD_PROBE_OK;
}

class RtspModule final : public Module {
  public:
    explicit RtspModule(std::shared_ptr<const NetSettings> settings)
        : settings_(settings ? std::move(settings) : std::make_shared<NetSettings>()) {}
    ~RtspModule() override { Stop(); }

    const char* Name() const override { return "Rtsp"; }
    const char* Usage() const override {
        return "  --no-rtsp             do not serve RTSP\n"
               "  --rtsp-port P         RTSP port of every network camera (default 554)\n"
               "  --rtsp-no-auth        serve RTSP without a login (default: digest with\n"
               "                        the user and password of --net-user, --net-password)\n"
               "  --net-codec C         RTSP video: h264 (default) or h265; the SDK stream\n"
               "                        stays H.264\n"
               "  --rtsp-fault F        refuse: every request is answered 401;\n"
               "                        stall: PLAY is answered, then no media ever;\n"
               "                        drop=S: a session's connection is closed S seconds\n"
               "                        after PLAY; no-sprop: the SDP has no parameter sets\n"
               "                        (they come in band only). May be given again\n"
               "  --rtsp-fault-camera N the faults apply to the N-th network camera only\n"
               "                        (1 for the first; default every camera)\n";
    }

    int ParseOption(int argc, char** argv, int i) override {
        const std::string a = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "camsim: %s needs a value\n", a.c_str());
                return nullptr;
            }
            return argv[i + 1];
        };
        auto number = [](const char* text, int lo, int hi, int* out) {
            char* end = nullptr;
            const long v = std::strtol(text, &end, 10);
            if (!text[0] || *end || v < lo || v > hi)
                return false;
            *out = static_cast<int>(v);
            return true;
        };
        if (a == "--no-rtsp") {
            options_.enabled = false;
            return 1;
        }
        if (a == "--rtsp-no-auth") {
            options_.auth = false;
            return 1;
        }
        if (a == "--rtsp-port" || a == "--rtsp-fault-camera") {
            const char* v = value();
            if (!v)
                return -1;
            const bool port = a == "--rtsp-port";
            if (!number(v, 1, port ? 65535 : 4000, port ? &options_.port : &options_.faultCamera)) {
                std::fprintf(stderr, "camsim: %s takes 1 to %d\n", a.c_str(), port ? 65535 : 4000);
                return -1;
            }
            options_.portGiven |= port;
            return 2;
        }
        if (a == "--net-codec") {
            const char* v = value();
            if (!v)
                return -1;
            const std::string c = v;
            if (c != "h264" && c != "h265") {
                std::fprintf(stderr, "camsim: --net-codec takes h264 or h265\n");
                return -1;
            }
            options_.codec =
                c == "h265" ? StreamEncoder::Codec::kH265 : StreamEncoder::Codec::kH264;
            return 2;
        }
        if (a == "--rtsp-fault") {
            const char* v = value();
            if (!v)
                return -1;
            const std::string f = v;
            if (f == "refuse") {
                options_.faults |= kRefuse;
            } else if (f == "stall") {
                options_.faults |= kStall;
            } else if (f == "no-sprop") {
                options_.faults |= kNoSprop;
            } else if (f.rfind("drop=", 0) == 0 &&
                       number(f.c_str() + 5, 1, 86400, &options_.dropAfterS)) {
                options_.faults |= kDrop;
            } else {
                std::fprintf(stderr,
                             "camsim: --rtsp-fault takes refuse, stall, drop=S (1 to 86400) "
                             "or no-sprop\n");
                return -1;
            }
            return 2;
        }
        return 0;
    }

    bool Start(World& world) override {
        if (!options_.enabled || world.net.empty())
            return true;
        if (options_.faultCamera > static_cast<int>(world.net.size())) {
            std::fprintf(stderr, "camsim: --rtsp-fault-camera %d: there are %zu network cameras\n",
                         options_.faultCamera, world.net.size());
            return false;
        }
        GError* error = nullptr;
        if (!gst_init_check(nullptr, nullptr, &error)) {
            std::fprintf(stderr, "camsim: GStreamer: %s\n", error ? error->message : "no init");
            g_clear_error(&error);
            return false;
        }
        netio::RaiseFileLimit();
        context_ = g_main_context_new();
        cameras_ = world.net;
        configs_.clear();
        for (size_t n = 0; n < cameras_.size(); ++n) {
            const unsigned faults =
                options_.faultCamera == 0 || options_.faultCamera == static_cast<int>(n) + 1
                    ? options_.faults
                    : 0;
            GstRTSPServer* server = MakeServer(cameras_[n], faults);
            GSource* source = gst_rtsp_server_create_source(server, nullptr, &error);
            if (!source) {
                const bool denied =
                    g_error_matches(error, G_IO_ERROR, G_IO_ERROR_PERMISSION_DENIED);
                std::fprintf(stderr, "camsim: rtsp camera %s cannot listen on %s:%d: %s\n",
                             cameras_[n].name.c_str(), cameras_[n].address.c_str(), options_.port,
                             error ? error->message : "unknown error");
                g_clear_error(&error);
                g_object_unref(server);
                Release();
                // Port 554 needs privileges outside scripts/netns-run: the SDK still serves.
                if (denied && !options_.portGiven) {
                    std::fprintf(stderr,
                                 "camsim: RTSP not served; run inside scripts/netns-run or give "
                                 "--rtsp-port (or --no-rtsp)\n");
                    return true;
                }
                return false;
            }
            g_source_attach(source, context_);
            g_source_unref(source);
            servers_.push_back(server);
        }
        loop_ = g_main_loop_new(context_, FALSE);
        thread_ = std::thread([this] {
            g_main_context_push_thread_default(context_);
            g_main_loop_run(loop_);
            g_main_context_pop_thread_default(context_);
        });
        PrintEndpoints();
        return true;
    }

    void Stop() override {
        if (loop_) {
            g_main_loop_quit(loop_);
            if (thread_.joinable())
                thread_.join();
        }
        std::map<GstRTSPMedia*, std::unique_ptr<Feeder>> feeders;
        {
            std::lock_guard<std::mutex> lock(mu_);
            feeders.swap(feeders_);
        }
        feeders.clear();
        Release();
    }

    // Signal handlers, on the main loop thread or the server's media threads.
    static void OnMediaConfigure(GstRTSPMediaFactory*, GstRTSPMedia* media, gpointer data) {
        auto* config = static_cast<StreamConfig*>(data);
        config->module->Configure(media, *config);
    }
    static void OnMediaGone(GstRTSPMedia* media, gpointer data) {
        static_cast<RtspModule*>(data)->StopFeeder(media);
    }
    static void OnMediaFinalized(gpointer data, GObject* media) {
        static_cast<RtspModule*>(data)->StopFeeder(reinterpret_cast<GstRTSPMedia*>(media));
    }
    static void OnClientConnected(GstRTSPServer*, GstRTSPClient* client, gpointer data) {
        g_signal_connect(client, "play-request", G_CALLBACK(OnPlay), data);
    }
    static void OnPlay(GstRTSPClient* client, GstRTSPContext*, gpointer data) {
        auto* self = static_cast<RtspModule*>(data);
        GSource* timer =
            g_timeout_source_new_seconds(static_cast<guint>(self->options_.dropAfterS));
        g_source_set_callback(
            timer,
            [](gpointer c) -> gboolean {
                gst_rtsp_client_close(static_cast<GstRTSPClient*>(c));
                return G_SOURCE_REMOVE;
            },
            g_object_ref(client), g_object_unref);
        g_source_attach(timer, self->context_);
        g_source_unref(timer);
    }

  private:
    GstRTSPServer* MakeServer(const NetCamera& cam, unsigned faults) {
        GstRTSPServer* server = gst_rtsp_server_new();
        gst_rtsp_server_set_address(server, cam.address.c_str());
        gst_rtsp_server_set_service(server, std::to_string(options_.port).c_str());
        const bool h265 = options_.codec == StreamEncoder::Codec::kH265;
        if (options_.auth || (faults & kRefuse)) {
            GstRTSPAuth* auth = gst_rtsp_auth_new();
            gst_rtsp_auth_set_supported_methods(auth, GST_RTSP_AUTH_DIGEST);
            gst_rtsp_auth_set_realm(auth, "camsim");
            // Refuse: no user is known, so every request is answered 401.
            if (!(faults & kRefuse)) {
                GstRTSPToken* token = gst_rtsp_token_new(GST_RTSP_TOKEN_MEDIA_FACTORY_ROLE,
                                                         G_TYPE_STRING, "viewer", nullptr);
                gst_rtsp_auth_add_digest(auth, settings_->user.c_str(), settings_->password.c_str(),
                                         token);
                gst_rtsp_token_unref(token);
            }
            gst_rtsp_server_set_auth(server, auth);
            g_object_unref(auth);
        }
        if (faults & kDrop)
            g_signal_connect(server, "client-connected", G_CALLBACK(OnClientConnected), this);
        GstRTSPMountPoints* mounts = gst_rtsp_server_get_mount_points(server);
        for (const bool sub : {false, true}) {
            auto config = std::make_unique<StreamConfig>();
            config->module = this;
            config->cam = &cam;
            config->width = sub ? settings_->SubWidth() : settings_->width;
            config->height = sub ? settings_->SubHeight() : settings_->height;
            config->fps = settings_->fps;
            config->faults = faults;
            GstRTSPMediaFactory* factory = gst_rtsp_media_factory_new();
            gst_rtsp_media_factory_set_launch(
                factory, h265 ? "( appsrc name=src ! h265parse ! rtph265pay name=pay0 pt=96 "
                                "config-interval=-1 )"
                              : "( appsrc name=src ! h264parse ! rtph264pay name=pay0 pt=96 "
                                "config-interval=-1 )");
            gst_rtsp_media_factory_set_shared(factory, TRUE);
            gst_rtsp_media_factory_set_protocols(
                factory, static_cast<GstRTSPLowerTrans>(GST_RTSP_LOWER_TRANS_TCP |
                                                        GST_RTSP_LOWER_TRANS_UDP));
            if (faults & kNoSprop)
                gst_rtsp_media_factory_set_media_gtype(factory, NoSpropMediaType());
            gst_rtsp_media_factory_add_role(
                factory, "viewer", GST_RTSP_PERM_MEDIA_FACTORY_ACCESS, G_TYPE_BOOLEAN, TRUE,
                GST_RTSP_PERM_MEDIA_FACTORY_CONSTRUCT, G_TYPE_BOOLEAN, TRUE, nullptr);
            g_signal_connect(factory, "media-configure", G_CALLBACK(OnMediaConfigure),
                             config.get());
            gst_rtsp_mount_points_add_factory(mounts, sub ? "/sub" : "/main", factory);
            configs_.push_back(std::move(config));
        }
        g_object_unref(mounts);
        return server;
    }

    void Configure(GstRTSPMedia* media, const StreamConfig& config) {
        const bool h265 = options_.codec == StreamEncoder::Codec::kH265;
        GstElement* bin = gst_rtsp_media_get_element(media);
        GstElement* src = gst_bin_get_by_name_recurse_up(GST_BIN(bin), "src");
        GstElement* pay = gst_bin_get_by_name_recurse_up(GST_BIN(bin), "pay0");
        gst_object_unref(bin);
        if (!src || !pay) {
            if (src)
                gst_object_unref(src);
            if (pay)
                gst_object_unref(pay);
            return;
        }
        GstCaps* caps = gst_caps_new_simple(
            h265 ? "video/x-h265" : "video/x-h264", "stream-format", G_TYPE_STRING, "byte-stream",
            "alignment", G_TYPE_STRING, "au", "width", G_TYPE_INT, config.width, "height",
            G_TYPE_INT, config.height, "framerate", GST_TYPE_FRACTION, config.fps, 1, nullptr);
        // A slow viewer costs old pictures, never camsim's memory.
        g_object_set(src, "caps", caps, "is-live", TRUE, "format", GST_FORMAT_TIME, "do-timestamp",
                     TRUE, "block", FALSE, "max-buffers", guint64{30}, "leaky-type",
                     GST_APP_LEAKY_TYPE_DOWNSTREAM, nullptr);
        gst_caps_unref(caps);
        if (config.faults & kStall) {
            GstPad* pad = gst_element_get_static_pad(pay, "src");
            auto* state = new StallState{true, h265};
            gst_pad_add_probe(pad,
                              static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                           GST_PAD_PROBE_TYPE_BUFFER_LIST),
                              StallProbe, state,
                              [](gpointer s) { delete static_cast<StallState*>(s); });
            gst_object_unref(pad);
        }
        gst_object_unref(pay);
        g_signal_connect(media, "unprepared", G_CALLBACK(OnMediaGone), this);
        g_object_weak_ref(G_OBJECT(media), OnMediaFinalized, this);
        auto feeder =
            std::make_unique<Feeder>(config, options_.codec, settings_->busy, GST_APP_SRC(src));
        std::unique_ptr<Feeder> old;
        std::lock_guard<std::mutex> lock(mu_);
        old = std::move(feeders_[media]);
        feeders_[media] = std::move(feeder);
    }

    void StopFeeder(GstRTSPMedia* media) {
        std::unique_ptr<Feeder> feeder;
        {
            std::lock_guard<std::mutex> lock(mu_);
            auto it = feeders_.find(media);
            if (it == feeders_.end())
                return;
            feeder = std::move(it->second);
            feeders_.erase(it);
        }
        // Joins its thread here, outside the lock.
    }

    void PrintEndpoints() const {
        const char* codec = options_.codec == StreamEncoder::Codec::kH265 ? "H.265" : "H.264";
        const char* login = options_.auth ? "digest login" : "no login";
        char sizes[96];
        std::snprintf(sizes, sizeof sizes, "/main (%dx%d) and /sub (%dx%d), %s, %s",
                      settings_->width, settings_->height, settings_->SubWidth(),
                      settings_->SubHeight(), codec, login);
        if (cameras_.size() <= 8) {
            for (const NetCamera& c : cameras_)
                std::printf("camsim: rtsp camera %s at rtsp://%s:%d%s\n", c.name.c_str(),
                            c.address.c_str(), options_.port, sizes);
        } else {
            std::printf("camsim: %zu rtsp cameras at rtsp://%s:%d to %s:%d, paths %s\n",
                        cameras_.size(), cameras_.front().address.c_str(), options_.port,
                        cameras_.back().address.c_str(), options_.port, sizes);
        }
        if (options_.faults) {
            std::printf("camsim: rtsp faults on %s:%s%s%s%s\n",
                        options_.faultCamera ? cameras_[options_.faultCamera - 1].name.c_str()
                                             : "every camera",
                        options_.faults & kRefuse ? " refuse" : "",
                        options_.faults & kStall ? " stall" : "",
                        options_.faults & kDrop
                            ? (" drop=" + std::to_string(options_.dropAfterS)).c_str()
                            : "",
                        options_.faults & kNoSprop ? " no-sprop" : "");
        }
        std::fflush(stdout);
    }

    void Release() {
        for (GstRTSPServer* s : servers_) g_object_unref(s);
        servers_.clear();
        if (loop_)
            g_main_loop_unref(loop_);
        loop_ = nullptr;
        if (context_)
            g_main_context_unref(context_);
        context_ = nullptr;
    }

    std::shared_ptr<const NetSettings> settings_;
    RtspOptions options_;
    std::vector<NetCamera> cameras_;
    std::vector<std::unique_ptr<StreamConfig>> configs_;
    std::vector<GstRTSPServer*> servers_;
    GMainContext* context_ = nullptr;
    GMainLoop* loop_ = nullptr;
    std::thread thread_;
    std::mutex mu_;
    std::map<GstRTSPMedia*, std::unique_ptr<Feeder>> feeders_;
};

}  // namespace

std::unique_ptr<Module> MakeRtspModule(std::shared_ptr<const NetSettings> shared) {
    return std::make_unique<RtspModule>(std::move(shared));
}

}  // namespace camsim
