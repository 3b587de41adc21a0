// Network cameras: each serves the SDK wire protocol (docs/sdk-protocol.md) on its own
// loopback address, port 36666. One acceptor thread for all cameras; one thread per
// open connection; an encoder only while a stream is watched.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <cJSON.h>

#include "CameraModel.h"
#include "Camsim.h"
#include "NetSimPicture.h"
#include "NetSimSocket.h"
#include "NetSimStamp.h"
#include "StreamEncoder.h"

namespace camsim {
namespace {

using Clock = std::chrono::steady_clock;

// Wire constants; they must match docs/sdk-protocol.md.
constexpr uint16_t kPort = 36666;
constexpr uint8_t kMagic[4] = {'P', 'E', 'L', 'N'};
constexpr uint8_t kVersion = 1;
constexpr size_t kHeaderSize = 16;
constexpr uint32_t kMaxRequest = 1u << 20;
enum : uint8_t {
    kLoginRequest = 0x01,
    kTextRequest = 0x02,
    kLogout = 0x03,
    kStreamRequest = 0x04,
    kLoginAnswer = 0x81,
    kTextAnswer = 0x82,
    kStreamAnswer = 0x84,
    kMedia = 0x85,
};
enum : int32_t {
    kErrArgument = -4,
    kErrPassword = -9,
    kErrBusy = -10,
    kErrVersion = -12,
    kErrResources = -13,
    kErrChannel = -15,
    kErrSession = -16,
};
constexpr uint32_t kDataH264 = 2, kDataMpeg4 = 3;
constexpr int kFirstFrameMs = 10000;  // a connection must say what it is within this
constexpr int kSendMs = 3000;

struct Options {
    int answerDelayMs = 0;
    bool noAnswer = false;
    bool negative = false;
    bool malformed = false;
    int answerPad = 0;
    int dropAfterS = 0;
    bool busy = false;
    bool replay = false;
    bool logCommands = false;
    int maxLogins = 0;
    int maxStreams = -1;  // streams at once per camera; -1: no limit
};

constexpr int kMaxFps = 60;

void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

struct Frame {
    uint8_t version = 0;
    uint8_t type = 0;
    uint32_t sequence = 0;
    std::vector<uint8_t> payload;
};

// stampAt: offset in the payload of a send-stamp field to fill in just before the
// frame goes to the socket (npos: none).
bool SendFrame(int fd, uint8_t type, uint32_t sequence, const std::vector<uint8_t>& payload,
               size_t stampAt = std::string::npos) {
    std::vector<uint8_t> bytes(kHeaderSize + payload.size());
    std::memcpy(bytes.data(), kMagic, 4);
    bytes[4] = kVersion;
    bytes[5] = type;
    Put32(&bytes[8], sequence);
    Put32(&bytes[12], static_cast<uint32_t>(payload.size()));
    if (!payload.empty())
        std::memcpy(&bytes[kHeaderSize], payload.data(), payload.size());
    if (stampAt != std::string::npos && stampAt + stamp::kTimeBytes <= payload.size())
        stamp::Write(&bytes[kHeaderSize + stampAt], stamp::NowMicros());
    return netio::SendAll(fd, bytes.data(), bytes.size(), kSendMs);
}

netio::Io RecvFrame(int fd, Frame* f, int timeoutMs) {
    uint8_t h[kHeaderSize];
    netio::Io r = netio::RecvAll(fd, h, sizeof h, timeoutMs);
    if (r != netio::Io::kOk)
        return r;
    uint32_t length = Get32(h + 12);
    if (std::memcmp(h, kMagic, 4) != 0 || length > kMaxRequest)
        return netio::Io::kClosed;
    f->version = h[4];
    f->type = h[5];
    f->sequence = Get32(h + 8);
    f->payload.resize(length);
    if (length == 0)
        return netio::Io::kOk;
    // The rest of a frame follows at once; a peer that stalls mid-frame is dropped.
    r = netio::RecvAll(fd, f->payload.data(), length, kFirstFrameMs);
    return r == netio::Io::kOk ? r : netio::Io::kClosed;
}

std::vector<uint8_t> ResultPayload(int32_t result, size_t size) {
    std::vector<uint8_t> p(size, 0);
    Put32(p.data(), static_cast<uint32_t>(result));
    return p;
}

// "WIDTHxHEIGHT@FPS" with even sizes the encoders take.
bool ParseVideo(const char* text, int* width, int* height, int* fps) {
    int w = 0, h = 0, f = 0, used = 0;
    if (std::sscanf(text, "%dx%d@%d%n", &w, &h, &f, &used) != 3 || text[used] != '\0')
        return false;
    if (w < 32 || h < 32 || w > 3840 || h > 2160 || w % 2 || h % 2 || f < 1 || f > kMaxFps)
        return false;
    *width = w;
    *height = h;
    *fps = f;
    return true;
}

std::string Field(const uint8_t* p, size_t size) {
    return std::string(reinterpret_cast<const char*>(p),
                       strnlen(reinterpret_cast<const char*>(p), size));
}

struct Session {
    uint32_t token = 0;
    std::atomic<bool> alive{true};
};

struct CameraState {
    NetCamera cam;
    int listener = -1;
    std::mutex mu;
    std::map<uint32_t, std::shared_ptr<Session>> sessions;
    int streams = 0;  // guarded by mu
    std::mt19937 random{std::random_device{}()};
};

struct Conn {
    int fd = -1;
    CameraState* camera = nullptr;
    std::thread thread;
    std::atomic<bool> done{false};
};

class NetModule final : public Module {
  public:
    explicit NetModule(std::shared_ptr<NetSettings> settings)
        : settings_(settings ? std::move(settings) : std::make_shared<NetSettings>()) {}
    ~NetModule() override { Stop(); }

    const char* Name() const override { return "Net"; }
    const char* Usage() const override {
        return "  --net-user TEXT       user of the network cameras, SDK and RTSP (default admin)\n"
               "  --net-password TEXT   password of the network cameras (default quolt)\n"
               "  --net-delay MS        answer every text command after MS milliseconds\n"
               "  --net-no-answer       read text commands but never answer them\n"
               "  --net-negative        answer every text command with nResult -5\n"
               "  --net-malformed       answer every text command with broken JSON\n"
               "  --net-answer-pad N    append N blanks to every text answer (oversized)\n"
               "  --net-drop-after S    close every stream connection after S seconds\n"
               "  --net-max-logins N    refuse logins beyond N at once per camera (busy)\n"
               "  --net-max-streams N   refuse streams beyond N at once per camera (busy);\n"
               "                        0 refuses every stream\n"
               "  --net-video WxH@FPS   main stream size and rate (default 640x360@15); the\n"
               "                        sub stream is half as wide and high\n"
               "  --net-busy            add a band of moving noise to the picture, so a\n"
               "                        stream costs what a busy scene costs\n"
               "  --net-replay          encode each stream's first 2 seconds once and send\n"
               "                        them over and over (a still picture; for load\n"
               "                        measurements that the encoders would disturb)\n"
               "  --net-fps N           frame rate of the streams, 1 to 60 (default 15)\n"
               "  --net-log-commands    print each text command a camera is sent (its\n"
               "                        address, Cmd and PtzCmd) on standard output\n";
    }

    int ParseOption(int argc, char** argv, int i) override {
        std::string a = argv[i];
        auto number = [&](int lo, int hi, int* out) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "camsim: %s needs a value\n", a.c_str());
                return -1;
            }
            char* end = nullptr;
            long v = std::strtol(argv[i + 1], &end, 10);
            if (!argv[i + 1][0] || *end || v < lo || v > hi) {
                std::fprintf(stderr, "camsim: %s takes %d to %d\n", a.c_str(), lo, hi);
                return -1;
            }
            *out = static_cast<int>(v);
            return 2;
        };
        if (a == "--net-password" || a == "--net-user") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "camsim: %s needs a value\n", a.c_str());
                return -1;
            }
            (a == "--net-user" ? settings_->user : settings_->password) = argv[i + 1];
            return 2;
        }
        if (a == "--net-delay")
            return number(0, 600000, &options_.answerDelayMs);
        if (a == "--net-answer-pad")
            return number(0, 1 << 19, &options_.answerPad);
        if (a == "--net-drop-after")
            return number(1, 86400, &options_.dropAfterS);
        if (a == "--net-max-logins")
            return number(1, 1000, &options_.maxLogins);
        if (a == "--net-max-streams")
            return number(0, 1000, &options_.maxStreams);
        if (a == "--net-fps")
            return number(1, kMaxFps, &settings_->fps);
        if (a == "--net-video") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "camsim: %s needs a value\n", a.c_str());
                return -1;
            }
            if (!ParseVideo(argv[i + 1], &settings_->width, &settings_->height, &settings_->fps)) {
                std::fprintf(stderr,
                             "camsim: %s takes WIDTHxHEIGHT@FPS, even sizes from 32x32 to "
                             "3840x2160 and 1 to %d frames per second\n",
                             a.c_str(), kMaxFps);
                return -1;
            }
            return 2;
        }
        bool* flag = a == "--net-no-answer"   ? &options_.noAnswer
                     : a == "--net-negative"  ? &options_.negative
                     : a == "--net-malformed" ? &options_.malformed
                     : a == "--net-busy"      ? &settings_->busy
                     : a == "--net-replay"    ? &options_.replay
                     : a == "--net-log-commands" ? &options_.logCommands
                                              : nullptr;
        if (!flag)
            return 0;
        *flag = true;
        return 1;
    }

    bool Start(World& world) override {
        netio::RaiseFileLimit();
        stop_ = false;
        for (const NetCamera& cam : world.net) {
            auto state = std::make_unique<CameraState>();
            state->cam = cam;
            std::string error;
            state->listener = netio::Listen(cam.address, kPort, &error);
            if (state->listener < 0) {
                std::fprintf(stderr, "camsim: net camera %s cannot listen on %s:%u: %s\n",
                             cam.name.c_str(), cam.address.c_str(), kPort, error.c_str());
                CloseListeners();
                return false;
            }
            cameras_.push_back(std::move(state));
        }
        if (cameras_.size() <= 8) {
            for (const auto& c : cameras_)
                std::printf("camsim: net camera %s at %s:%u\n", c->cam.name.c_str(),
                            c->cam.address.c_str(), kPort);
        } else {
            std::printf("camsim: %zu net cameras at %s to %s, port %u\n", cameras_.size(),
                        cameras_.front()->cam.address.c_str(), cameras_.back()->cam.address.c_str(),
                        kPort);
        }
        std::fflush(stdout);
        if (!cameras_.empty())
            acceptor_ = std::thread([this] { AcceptLoop(); });
        return true;
    }

    void Stop() override {
        stop_ = true;
        poll_.Wake();
        if (acceptor_.joinable())
            acceptor_.join();
        std::list<std::unique_ptr<Conn>> conns;
        {
            std::lock_guard<std::mutex> lock(connsMu_);
            conns.swap(conns_);
        }
        for (auto& c : conns) netio::Shutdown(c->fd);
        for (auto& c : conns) {
            c->thread.join();
            netio::Close(c->fd);
        }
        CloseListeners();
    }

  private:
    void CloseListeners() {
        for (auto& c : cameras_) netio::Close(c->listener);
        cameras_.clear();
    }

    void AcceptLoop() {
        std::vector<int> listeners;
        for (auto& c : cameras_) listeners.push_back(c->listener);
        while (!stop_) {
            for (size_t i : poll_.Wait(listeners, 1000)) {
                int fd = netio::Accept(listeners[i]);
                if (fd < 0)
                    continue;
                auto conn = std::make_unique<Conn>();
                conn->fd = fd;
                conn->camera = cameras_[i].get();
                Conn* raw = conn.get();
                std::lock_guard<std::mutex> lock(connsMu_);
                if (stop_) {
                    netio::Close(fd);
                    break;
                }
                try {
                    raw->thread = std::thread([this, raw] {
                        Serve(*raw);
                        netio::Shutdown(raw->fd);
                        raw->done = true;
                    });
                } catch (const std::system_error&) {
                    netio::Close(fd);
                    continue;
                }
                conns_.push_back(std::move(conn));
            }
            Reap();
        }
    }

    // Joins the threads of connections that have ended.
    void Reap() {
        std::list<std::unique_ptr<Conn>> finished;
        {
            std::lock_guard<std::mutex> lock(connsMu_);
            for (auto it = conns_.begin(); it != conns_.end();) {
                if ((*it)->done) {
                    finished.push_back(std::move(*it));
                    it = conns_.erase(it);
                } else {
                    ++it;
                }
            }
        }
        for (auto& c : finished) {
            c->thread.join();
            netio::Close(c->fd);
        }
    }

    void Serve(Conn& conn) {
        Frame first;
        if (RecvFrame(conn.fd, &first, kFirstFrameMs) != netio::Io::kOk)
            return;
        bool stream = first.type == kStreamRequest;
        if (!stream && first.type != kLoginRequest)
            return;
        uint8_t answerType = stream ? kStreamAnswer : kLoginAnswer;
        if (first.version != kVersion) {
            SendFrame(conn.fd, answerType, first.sequence,
                      ResultPayload(kErrVersion, stream ? 20 : 8));
            return;
        }
        if (stream)
            ServeStream(conn, first);
        else
            ServeControl(conn, first);
    }

    std::shared_ptr<Session> OpenSession(CameraState& cam, int32_t* result) {
        std::lock_guard<std::mutex> lock(cam.mu);
        if (options_.maxLogins > 0 &&
            cam.sessions.size() >= static_cast<size_t>(options_.maxLogins)) {
            *result = kErrBusy;
            return nullptr;
        }
        auto s = std::make_shared<Session>();
        do {
            s->token = static_cast<uint32_t>(cam.random());
        } while (s->token == 0 || cam.sessions.count(s->token));
        cam.sessions[s->token] = s;
        *result = 0;
        return s;
    }

    void CloseSession(CameraState& cam, const std::shared_ptr<Session>& s) {
        s->alive = false;
        std::lock_guard<std::mutex> lock(cam.mu);
        cam.sessions.erase(s->token);
    }

    void ServeControl(Conn& conn, const Frame& login) {
        CameraState& cam = *conn.camera;
        if (login.payload.size() < 64) {
            SendFrame(conn.fd, kLoginAnswer, login.sequence, ResultPayload(kErrArgument, 4));
            return;
        }
        std::string user = Field(login.payload.data(), 32);
        std::string password = Field(login.payload.data() + 32, 32);
        if (user != settings_->user || password != settings_->password) {
            SendFrame(conn.fd, kLoginAnswer, login.sequence, ResultPayload(kErrPassword, 8));
            return;
        }
        int32_t result = 0;
        auto session = OpenSession(cam, &result);
        if (!session) {
            SendFrame(conn.fd, kLoginAnswer, login.sequence, ResultPayload(result, 8));
            return;
        }
        std::vector<uint8_t> answer = ResultPayload(0, 8 + 288);
        Put32(&answer[4], session->token);
        uint8_t* info = &answer[8];  // name[64] model[32] serial[32] firmware[32] ...
        auto text = [](uint8_t* dst, size_t size, const std::string& s) {
            std::memcpy(dst, s.data(), std::min(s.size(), size - 1));
        };
        text(info, 64, cam.cam.name);
        text(info + 64, 32, "CAMSIM-N1");
        text(info + 96, 32, cam.cam.identity);
        text(info + 128, 32, "camsim 1.0");
        Put32(info + 160, kVersion);
        Put32(info + 164, 1);
        if (SendFrame(conn.fd, kLoginAnswer, login.sequence, answer)) {
            Frame f;
            while (!stop_ && RecvFrame(conn.fd, &f, -1) == netio::Io::kOk) {
                if (f.version != kVersion || f.type != kTextRequest)
                    break;  // logout too
                if (!Answer(conn, f))
                    break;
            }
        }
        CloseSession(cam, session);
    }

    bool Answer(Conn& conn, const Frame& request) {
        if (options_.noAnswer)
            return true;
        if (options_.answerDelayMs > 0) {
            auto until = Clock::now() + std::chrono::milliseconds(options_.answerDelayMs);
            while (!stop_ && Clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (options_.logCommands)
            LogCommand(conn.camera->cam.address, request.payload);
        std::string text;
        if (options_.negative) {
            text = "{\"Content\":{\"nResult\":-5}}";
        } else if (options_.malformed) {
            text = "{\"Content\":{\"nResult\":0,\"VideoParam\":{\"Luminance\":";
        } else {
            std::string req(request.payload.begin(), request.payload.end());
            text = conn.camera->cam.model ? conn.camera->cam.model->HandleJson(req)
                                          : std::string("{\"Content\":{\"nResult\":-1}}");
        }
        text.append(static_cast<size_t>(options_.answerPad), ' ');
        std::vector<uint8_t> payload(4 + text.size(), 0);
        std::memcpy(payload.data() + 4, text.data(), text.size());
        return SendFrame(conn.fd, kTextAnswer, request.sequence, payload);
    }

    // One line per command, for a check that watches a client from outside.
    static void LogCommand(const std::string& address, const std::vector<uint8_t>& payload) {
        size_t len = payload.size();
        while (len > 0 && payload[len - 1] == 0) --len;
        cJSON* root = cJSON_ParseWithLength(reinterpret_cast<const char*>(payload.data()), len);
        const cJSON* cmd = cJSON_GetObjectItem(root, "Cmd");
        const cJSON* ptz = cJSON_GetObjectItem(cJSON_GetObjectItem(root, "Content"), "PtzCmd");
        std::printf("camsim: %s command %s%s%s\n", address.c_str(),
                    cJSON_IsString(cmd) ? cmd->valuestring : "(malformed)",
                    cJSON_IsString(ptz) ? " " : "", cJSON_IsString(ptz) ? ptz->valuestring : "");
        std::fflush(stdout);
        cJSON_Delete(root);
    }

    void ServeStream(Conn& conn, const Frame& request) {
        CameraState& cam = *conn.camera;
        auto refuse = [&](int32_t code) {
            SendFrame(conn.fd, kStreamAnswer, request.sequence, ResultPayload(code, 20));
        };
        if (request.payload.size() < 12)
            return refuse(kErrArgument);
        uint32_t token = Get32(request.payload.data());
        uint32_t channel = Get32(request.payload.data() + 4);
        uint32_t streamType = Get32(request.payload.data() + 8);
        std::shared_ptr<Session> session;
        {
            std::lock_guard<std::mutex> lock(cam.mu);
            auto it = cam.sessions.find(token);
            if (it != cam.sessions.end())
                session = it->second;
        }
        if (!session || !session->alive)
            return refuse(kErrSession);
        if (channel != 0 || streamType > 1)
            return refuse(kErrChannel);
        {
            std::lock_guard<std::mutex> lock(cam.mu);
            if (options_.maxStreams >= 0 && cam.streams >= options_.maxStreams)
                return refuse(kErrBusy);
            ++cam.streams;
        }
        struct StreamSlot {
            CameraState& cam;
            ~StreamSlot() {
                std::lock_guard<std::mutex> lock(cam.mu);
                --cam.streams;
            }
        } slot{cam};
        const NetSettings& video = *settings_;
        const int width = streamType == 0 ? video.width : video.SubWidth();
        const int height = streamType == 0 ? video.height : video.SubHeight();
        const int fps = video.fps;
        StreamEncoder encoder;
        std::string error;
        if (!encoder.Open(width, height, fps, &error)) {
            std::fprintf(stderr, "camsim: net camera %s: %s\n", cam.cam.name.c_str(),
                         error.c_str());
            return refuse(kErrResources);
        }
        const uint32_t dataType =
            encoder.codec() == StreamEncoder::Codec::kH264 ? kDataH264 : kDataMpeg4;
        std::vector<uint8_t> answer = ResultPayload(0, 20);
        Put32(&answer[4], static_cast<uint32_t>(width));
        Put32(&answer[8], static_cast<uint32_t>(height));
        Put32(&answer[12], static_cast<uint32_t>(fps));
        Put32(&answer[16], dataType);
        if (!SendFrame(conn.fd, kStreamAnswer, request.sequence, answer))
            return;

        YuvPicture picture;
        picture.Resize(width, height);
        SceneCache scene;
        uint32_t drawn = 0;
        // Draws and encodes the next picture; unit stays empty while the encoder holds it.
        auto encodeNext = [&](std::vector<uint8_t>* unit, bool* key) {
            CameraSnapshot snap = cam.cam.model ? cam.cam.model->Snapshot() : CameraSnapshot{};
            DrawTestPicture(cam.cam.name, netio::LocalTimeText(), drawn, snap, &picture, 0,
                            &scene);
            if (settings_->busy)
                DrawBusyBand(drawn, &picture);
            ++drawn;
            unit->clear();
            return encoder.Encode(picture, unit, key);
        };
        // Replay: one key-frame interval encoded up front, then sent over and over,
        // so that the camera costs next to nothing while a viewer is measured.
        struct Unit {
            std::vector<uint8_t> bytes;
            bool key = false;
        };
        std::vector<Unit> replay;
        if (options_.replay) {
            for (int i = 0; i < 2 * fps && !stop_; ++i) {
                Unit u;
                if (!encodeNext(&u.bytes, &u.key))
                    return;
                if (!u.bytes.empty())
                    replay.push_back(std::move(u));
            }
            if (replay.empty())
                return;
        }
        const stamp::Codec stampCodec = encoder.codec() == StreamEncoder::Codec::kH264
                                            ? stamp::Codec::kH264
                                            : stamp::Codec::kMpeg4;
        const auto start = Clock::now();
        const auto period = std::chrono::microseconds(1000000 / fps);
        auto next = start;
        uint32_t sequence = 0;
        std::vector<uint8_t> unit, payload;
        while (!stop_ && session->alive) {
            if (options_.dropAfterS > 0 &&
                Clock::now() - start >= std::chrono::seconds(options_.dropAfterS))
                return;
            bool key = false;
            const std::vector<uint8_t>* bytes = &unit;
            if (!replay.empty()) {
                const Unit& u = replay[sequence % replay.size()];
                bytes = &u.bytes;
                key = u.key;
            } else if (!encodeNext(&unit, &key)) {
                return;
            }
            if (!bytes->empty()) {
                payload.assign(16, 0);
                const size_t stampAt = stamp::Append(stampCodec, &payload);
                payload.insert(payload.end(), bytes->begin(), bytes->end());
                auto ms =
                    std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
                Put32(&payload[0], dataType);
                Put32(&payload[4], key ? 1u : 0u);
                uint64_t ts = static_cast<uint64_t>(ms.count());
                Put32(&payload[8], static_cast<uint32_t>(ts));
                Put32(&payload[12], static_cast<uint32_t>(ts >> 32));
                if (!SendFrame(conn.fd, kMedia, ++sequence, payload, stampAt))
                    return;
            }
            next += period;
            auto now = Clock::now();
            if (next < now)
                next = now;  // fell behind: do not try to catch up
            int waitMs = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count());
            // Sleeping on the socket notices at once when the viewer goes away.
            if (netio::WaitReadable(conn.fd, waitMs) && netio::PeerClosed(conn.fd))
                return;
        }
    }

    Options options_;
    std::shared_ptr<NetSettings> settings_;
    std::vector<std::unique_ptr<CameraState>> cameras_;
    std::atomic<bool> stop_{false};
    netio::ListenerPoll poll_;
    std::thread acceptor_;
    std::mutex connsMu_;
    std::list<std::unique_ptr<Conn>> conns_;
};

}  // namespace

std::unique_ptr<Module> MakeNetModule(std::shared_ptr<NetSettings> shared) {
    return std::make_unique<NetModule>(std::move(shared));
}

}  // namespace camsim
