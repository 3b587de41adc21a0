// The SDK against camsim's network cameras, in-process over real loopback sockets,
// plus a scripted fake camera for the protocol's corner cases.
#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "CameraModel.h"
#include "Camsim.h"
#include "NetSimStamp.h"
#include "PELION_SDK.h"
#include "PelionSocket.h"
#include "SimNetCameras.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const char kGetText[] = "{\"Cmd\":\"ReqGetVideoParam\",\"wCmdId\":40001089,\"Content\":{}}";

std::string SetText(const std::string& items) {
    return "{\"Cmd\":\"ReqSetVideoParam\",\"wCmdId\":40001090,\"Content\":{\"ChanNum\":0,"
           "\"VideoParam\":{" +
           items + "}}}";
}

LoginInfo Info(const std::string& ip, const char* password = "quolt") {
    LoginInfo info{};
    std::strncpy(info.ip, ip.c_str(), sizeof info.ip - 1);
    info.port = PELION_DEFAULT_PORT;
    std::strcpy(info.user, "admin");
    std::strncpy(info.password, password, sizeof info.password - 1);
    return info;
}

int32_t Send(int32_t login, const std::string& text, std::string* answer, int32_t cap = 3072) {
    std::vector<char> buf(static_cast<size_t>(cap), 0);
    int32_t len = cap;
    int32_t r = PELION_SendRobotText(login, text.c_str(), static_cast<int32_t>(text.size() + 1),
                                     buf.data(), &len);
    if (answer)
        *answer = r == 0 ? std::string(buf.data()) : std::string();
    return r;
}

int ThreadCount() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.')
                ++n;
        closedir(d);
    }
    return n;
}

// Simulated network cameras at 127.77.<group>.2 upwards, served in-process.
class SimNet : public SimNetCameras {
  public:
    SimNet(int count, int group, std::vector<std::string> options = {})
        : SimNetCameras(count, "127.77." + std::to_string(group) + ".2", std::move(options)) {
        EXPECT_TRUE(Started()) << BadOption();
    }
};

class PelionTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(PELION_Init(0), PELION_OK); }
    void TearDown() override { PELION_Cleanup(); }
};

TEST_F(PelionTest, LoginCommandsAndRefusals) {
    SimNet net(1, 1);
    LoginInfo info = Info(net.Address(0));
    PELION_DEVICE_INFO device{};
    int32_t login = PELION_Login(info, &device, 0, 0, 0, 0);
    ASSERT_GE(login, 0) << PELION_GetLastError();
    EXPECT_STREQ(device.name, "IPC-1");
    EXPECT_EQ(device.protocolVersion, 1u);

    std::string answer;
    ASSERT_EQ(Send(login, SetText("\"Luminance\":70,\"bHorzInvert\":1"), &answer, 1024), 0);
    ASSERT_EQ(Send(login, kGetText, &answer), 0);
    EXPECT_NE(answer.find("\"Luminance\":70"), std::string::npos) << answer;
    EXPECT_EQ(net.Model(0).Snapshot().luminance, 70);
    EXPECT_TRUE(net.Model(0).Snapshot().mirror);

    EXPECT_EQ(PELION_Login(Info(net.Address(0), "wrong"), nullptr, 0, 0, 0, 0), -1);
    EXPECT_EQ(PELION_GetLastError(), PELION_ERR_PASSWORD);
    EXPECT_EQ(PELION_Login(Info("127.77.1.250"), nullptr, 0, 0, 0, 0), -1);
    EXPECT_EQ(PELION_GetLastError(), PELION_ERR_REFUSED);
    EXPECT_EQ(PELION_Login(Info("not an address"), nullptr, 0, 0, 0, 0), -1);
    EXPECT_EQ(PELION_GetLastError(), PELION_ERR_BAD_ARGUMENT);

    EXPECT_EQ(Send(login + 1, kGetText, nullptr), PELION_ERR_BAD_HANDLE);
    EXPECT_EQ(PELION_LogOut(login), PELION_OK);
    EXPECT_EQ(Send(login, kGetText, nullptr), PELION_ERR_BAD_HANDLE);
    EXPECT_EQ(PELION_LogOut(login), PELION_ERR_BAD_HANDLE);

    PELION_Cleanup();
    EXPECT_EQ(PELION_Login(info, nullptr, 0, 0, 0, 0), -1);
    EXPECT_EQ(PELION_GetLastError(), PELION_ERR_NOT_INIT);
}

TEST_F(PelionTest, CameraFaultSwitches) {
    {
        SimNet busy(1, 2, {"--net-max-logins", "1"});
        int32_t a = PELION_Login(Info(busy.Address(0)), nullptr, 0, 0, 0, 0);
        ASSERT_GE(a, 0);
        EXPECT_EQ(PELION_Login(Info(busy.Address(0)), nullptr, 0, 0, 0, 0), -1);
        EXPECT_EQ(PELION_GetLastError(), PELION_ERR_BUSY);
        PELION_LogOut(a);  // frees the camera's only login
        int32_t b = -1;
        for (int i = 0; i < 50 && b < 0; ++i) {
            b = PELION_Login(Info(busy.Address(0)), nullptr, 0, 0, 0, 0);
            if (b < 0)
                std::this_thread::sleep_for(20ms);
        }
        EXPECT_GE(b, 0);
    }
    {
        SimNet other(1, 2, {"--net-password", "other", "--net-negative"});
        EXPECT_EQ(PELION_Login(Info(other.Address(0)), nullptr, 0, 0, 0, 0), -1);
        int32_t login = PELION_Login(Info(other.Address(0), "other"), nullptr, 0, 0, 0, 0);
        ASSERT_GE(login, 0);
        std::string answer;
        EXPECT_EQ(Send(login, kGetText, &answer), 0);
        EXPECT_EQ(answer, "{\"Content\":{\"nResult\":-5}}");
    }
    {
        // The SDK carries answers, it does not judge them: broken JSON arrives as sent.
        SimNet broken(1, 2, {"--net-malformed", "--net-delay", "200"});
        int32_t login = PELION_Login(Info(broken.Address(0)), nullptr, 0, 0, 0, 0);
        ASSERT_GE(login, 0);
        std::string answer;
        EXPECT_EQ(Send(login, kGetText, &answer), 0);
        EXPECT_EQ(answer.rfind("{\"Content\":{", 0), 0u);
        EXPECT_EQ(answer.back(), ':');
    }
}

TEST_F(PelionTest, SeveralCamerasAtOnce) {
    constexpr int kCameras = 4;
    SimNet net(kCameras, 3);
    std::vector<int32_t> logins(kCameras, -1);
    std::vector<std::thread> threads;
    for (int i = 0; i < kCameras; ++i)
        threads.emplace_back([&, i] {
            logins[static_cast<size_t>(i)] =
                PELION_Login(Info(net.Address(i)), nullptr, 0, 0, 0, 0);
            for (int k = 0; k < 20; ++k)
                EXPECT_EQ(Send(logins[static_cast<size_t>(i)],
                               SetText("\"Luminance\":" + std::to_string(10 + i * 10 + k % 2)),
                               nullptr, 1024),
                          0);
        });
    for (auto& t : threads) t.join();
    for (int i = 0; i < kCameras; ++i) {
        EXPECT_GE(logins[static_cast<size_t>(i)], 0);
        for (int j = 0; j < i; ++j)
            EXPECT_NE(logins[static_cast<size_t>(i)], logins[static_cast<size_t>(j)]);
        EXPECT_EQ(net.Model(i).Snapshot().luminance, 11 + i * 10);  // no crossed answers
    }
}

TEST_F(PelionTest, AnswerLargerThanBufferIsTruncatedInside) {
    SimNet net(1, 4);
    int32_t login = PELION_Login(Info(net.Address(0)), nullptr, 0, 0, 0, 0);
    ASSERT_GE(login, 0);
    std::string full;
    ASSERT_EQ(Send(login, kGetText, &full), 0);
    const int32_t needed = static_cast<int32_t>(full.size() + 1);

    std::vector<char> buf(64 + 16, '#');
    int32_t len = 64;
    EXPECT_EQ(PELION_SendRobotText(login, kGetText, sizeof kGetText, buf.data(), &len),
              PELION_ERR_BUFFER_SMALL);
    EXPECT_EQ(len, 64);  // what was stored, never more than the buffer
    EXPECT_EQ(std::string(buf.data()), full.substr(0, 63));
    EXPECT_EQ(std::string(buf.data() + 64, 16), std::string(16, '#'));  // nothing beyond

    std::vector<char> exact(static_cast<size_t>(needed), '#');
    len = needed;
    EXPECT_EQ(PELION_SendRobotText(login, kGetText, sizeof kGetText, exact.data(), &len), 0);
    EXPECT_EQ(std::string(exact.data()), full);
    EXPECT_EQ(len, needed);

    // A caller that keeps the out length for its next call (the PTZ panel
    // does) gets a smaller buffer, never a larger one.
    len = 64;
    PELION_SendRobotText(login, kGetText, sizeof kGetText, buf.data(), &len);
    EXPECT_EQ(PELION_SendRobotText(login, kGetText, sizeof kGetText, buf.data(), &len),
              PELION_ERR_BUFFER_SMALL);
    EXPECT_EQ(len, 64);
    EXPECT_EQ(std::string(buf.data() + 64, 16), std::string(16, '#'));

    len = 0;
    EXPECT_EQ(PELION_SendRobotText(login, kGetText, sizeof kGetText, buf.data(), &len),
              PELION_ERR_BUFFER_SMALL);
    // The connection stays in step after truncations.
    std::string again;
    EXPECT_EQ(Send(login, kGetText, &again), 0);
    EXPECT_EQ(again, full);
}

// A TCP listener of the test's own that plays a camera from a script.
class FakeCamera {
  public:
    explicit FakeCamera(const char* ip, int backlog = 4) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(PELION_DEFAULT_PORT);
        inet_pton(AF_INET, ip, &a.sin_addr);
        EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(listen(fd_, backlog), 0);
    }
    ~FakeCamera() {
        shutdown(fd_, SHUT_RDWR);  // a script still waiting to accept gives up
        if (thread_.joinable())
            thread_.join();
        for (int c : clients_) close(c);
        close(fd_);
    }
    void Run(std::function<void(int)> script) {
        thread_ = std::thread([this, script] {
            int c = accept(fd_, nullptr, nullptr);
            if (c < 0)
                return;
            clients_.push_back(c);
            script(c);
        });
    }
    int fd() const { return fd_; }

    // Reads one frame; returns its sequence number, or -1.
    static int64_t ReadFrame(int c, uint8_t* type = nullptr, std::string* payload = nullptr) {
        uint8_t h[16];
        if (!ReadAll(c, h, 16))
            return -1;
        uint32_t len, seq;
        std::memcpy(&seq, h + 8, 4);
        std::memcpy(&len, h + 12, 4);
        std::string p(len, '\0');
        if (len && !ReadAll(c, p.data(), len))
            return -1;
        if (type)
            *type = h[5];
        if (payload)
            *payload = p;
        return seq;
    }
    static void WriteFrame(int c, uint8_t type, uint32_t seq, const std::string& payload,
                           uint8_t version = 1) {
        std::string f = "PELN";
        f += static_cast<char>(version);
        f += static_cast<char>(type);
        f += std::string(2, '\0');
        uint32_t len = static_cast<uint32_t>(payload.size());
        f.append(reinterpret_cast<const char*>(&seq), 4);
        f.append(reinterpret_cast<const char*>(&len), 4);
        f += payload;
        (void)!write(c, f.data(), f.size());
    }
    static std::string Result(int32_t r, size_t size) {
        std::string p(size, '\0');
        std::memcpy(p.data(), &r, 4);
        return p;
    }
    static void AcceptLogin(int c) {
        uint8_t type = 0;
        int64_t seq = ReadFrame(c, &type);
        if (seq >= 0)
            WriteFrame(c, 0x81, static_cast<uint32_t>(seq), Result(0, 8 + 288));
    }
    static std::string Text(const std::string& s) { return std::string(4, '\0') + s; }

  private:
    static bool ReadAll(int c, void* p, size_t n) {
        auto b = static_cast<char*>(p);
        while (n) {
            ssize_t k = read(c, b, n);
            if (k <= 0)
                return false;
            b += k;
            n -= static_cast<size_t>(k);
        }
        return true;
    }
    int fd_ = -1;
    std::thread thread_;
    std::vector<int> clients_;
};

TEST_F(PelionTest, TimeLimitsAreKept) {
    const auto bound = std::chrono::milliseconds(PELION_ANSWER_TIMEOUT_MS + 2000);
    // Each case waits out a time limit, so they run side by side.
    std::vector<std::thread> cases;

    FakeCamera silentLogin("127.77.5.2");  // accepts, never answers the login
    silentLogin.Run([](int c) { FakeCamera::ReadFrame(c); });
    cases.emplace_back([&] {
        auto t0 = Clock::now();
        EXPECT_EQ(PELION_Login(Info("127.77.5.2"), nullptr, 0, 0, 0, 0), -1);
        EXPECT_EQ(PELION_GetLastError(), PELION_ERR_TIMEOUT);
        EXPECT_LT(Clock::now() - t0, bound);
    });

    SimNet silent(1, 6, {"--net-no-answer"});
    cases.emplace_back([&] {
        int32_t login = PELION_Login(Info(silent.Address(0)), nullptr, 0, 0, 0, 0);
        ASSERT_GE(login, 0);
        auto t0 = Clock::now();
        EXPECT_EQ(Send(login, kGetText, nullptr), PELION_ERR_TIMEOUT);
        EXPECT_LT(Clock::now() - t0, bound);
    });

    // A full backlog makes the kernel drop the handshake: the connect limit applies.
    FakeCamera full("127.77.7.2", 0);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        int s = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(PELION_DEFAULT_PORT);
        inet_pton(AF_INET, "127.77.7.2", &a.sin_addr);
        connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
        fillers.push_back(s);
    }
    std::this_thread::sleep_for(100ms);
    cases.emplace_back([&] {
        auto t0 = Clock::now();
        EXPECT_EQ(PELION_Login(Info("127.77.7.2"), nullptr, 0, 0, 0, 0), -1);
        EXPECT_EQ(PELION_GetLastError(), PELION_ERR_CONNECT_TIMEOUT);
        EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(PELION_CONNECT_TIMEOUT_MS + 2000));
    });

    for (auto& t : cases) t.join();
    for (int s : fillers) close(s);
    shutdown(silentLogin.fd(), SHUT_RDWR);
}

TEST_F(PelionTest, LateAnswerIsNotTakenForTheNextOne) {
    FakeCamera cam("127.77.8.2");
    cam.Run([](int c) {
        FakeCamera::AcceptLogin(c);
        int64_t first = FakeCamera::ReadFrame(c);  // left unanswered past the limit
        int64_t second = FakeCamera::ReadFrame(c);
        FakeCamera::WriteFrame(c, 0x82, static_cast<uint32_t>(first), FakeCamera::Text("late"));
        FakeCamera::WriteFrame(c, 0x82, static_cast<uint32_t>(second), FakeCamera::Text("mine"));
        // Then garbage: the SDK must call it a protocol error, not read on.
        FakeCamera::ReadFrame(c);
        (void)!write(c, "HTTP/1.1 400 Bad Request\r\n\r\n", 28);
        FakeCamera::ReadFrame(c);
    });
    int32_t login = PELION_Login(Info("127.77.8.2"), nullptr, 0, 0, 0, 0);
    ASSERT_GE(login, 0);
    EXPECT_EQ(Send(login, kGetText, nullptr), PELION_ERR_TIMEOUT);
    std::string answer;
    EXPECT_EQ(Send(login, kGetText, &answer), 0);
    EXPECT_EQ(answer, "mine");
    EXPECT_EQ(Send(login, kGetText, nullptr), PELION_ERR_PROTOCOL);
    EXPECT_EQ(Send(login, kGetText, nullptr), PELION_ERR_NETWORK);  // that login is done for
    EXPECT_EQ(PELION_LogOut(login), PELION_OK);
}

TEST_F(PelionTest, StreamOfStaleAnswersCannotHoldACommand) {
    FakeCamera cam("127.77.8.3");
    std::atomic<bool> stop{false};
    cam.Run([&stop](int c) {
        FakeCamera::AcceptLogin(c);
        int64_t seq = FakeCamera::ReadFrame(c);
        // Answers to an older request, on and on: never the one asked for.
        while (!stop && seq > 0) {
            FakeCamera::WriteFrame(c, 0x82, static_cast<uint32_t>(seq - 1),
                                   FakeCamera::Text("old"));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    int32_t login = PELION_Login(Info("127.77.8.3"), nullptr, 0, 0, 0, 0);
    ASSERT_GE(login, 0);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(Send(login, kGetText, nullptr), PELION_ERR_TIMEOUT);
    EXPECT_LT(std::chrono::steady_clock::now() - t0,
              std::chrono::milliseconds(PELION_ANSWER_TIMEOUT_MS + 1000));
    stop = true;
    EXPECT_EQ(PELION_LogOut(login), PELION_OK);
}

TEST_F(PelionTest, OtherProtocolVersionIsReported) {
    FakeCamera cam("127.77.9.2");
    cam.Run([](int c) {
        FakeCamera::ReadFrame(c);
        FakeCamera::WriteFrame(c, 0x81, 1, FakeCamera::Result(PELION_ERR_VERSION, 8), 2);
    });
    EXPECT_EQ(PELION_Login(Info("127.77.9.2"), nullptr, 0, 0, 0, 0), -1);
    EXPECT_EQ(PELION_GetLastError(), PELION_ERR_VERSION);
}

// Collects what a stream delivers and flags any callback after its stop returned.
struct Viewer {
    std::mutex mu;
    std::vector<std::vector<uint8_t>> units;
    std::atomic<int> calls{0};
    std::atomic<bool> stopped{false};
    std::atomic<int> late{0};
    std::atomic<int> stopSelfAfter{0};
    std::atomic<int32_t> handle{-1};
    int sleepMs = 0;

    static void PELION_API Callback(int32_t h, const uint8_t* data, uint32_t len, uint32_t type,
                                    void* user) {
        auto* v = static_cast<Viewer*>(user);
        if (v->stopped)
            ++v->late;
        EXPECT_EQ(type, static_cast<uint32_t>(PELION_DATA_H264));
        {
            std::lock_guard<std::mutex> lock(v->mu);
            if (v->units.size() < 30)
                v->units.emplace_back(data, data + len);
        }
        int n = ++v->calls;
        if (v->sleepMs)
            std::this_thread::sleep_for(std::chrono::milliseconds(v->sleepMs));
        if (v->stopSelfAfter && n == v->stopSelfAfter) {
            EXPECT_EQ(h, v->handle.load());
            EXPECT_EQ(PELION_StopRealPlay(h), PELION_OK);
            v->stopped = true;
        }
    }
    bool WaitCalls(int n, std::chrono::milliseconds limit = 5s) {
        auto until = Clock::now() + limit;
        while (calls < n && Clock::now() < until) std::this_thread::sleep_for(10ms);
        return calls >= n;
    }
};

// Decodes the delivered units; returns the size of the first picture.
std::pair<int, int> DecodeFirstPicture(const std::vector<std::vector<uint8_t>>& units) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    avcodec_open2(ctx, codec, nullptr);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    std::pair<int, int> size{0, 0};
    for (const auto& u : units) {
        std::vector<uint8_t> padded(u);
        padded.resize(u.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        pkt->data = padded.data();
        pkt->size = static_cast<int>(u.size());
        if (avcodec_send_packet(ctx, pkt) < 0)
            continue;
        if (avcodec_receive_frame(ctx, frame) == 0) {
            size = {frame->width, frame->height};
            break;
        }
    }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
    return size;
}

// Starts a stream of the login into v and returns the size of its first picture
// ({0, 0} when none came); the stream goes on running.
std::pair<int, int> FirstPictureSize(int32_t login, int streamType, Viewer* v, int32_t* play) {
    *play = PELION_StartRealPlay(login, 0, streamType, &Viewer::Callback, v);
    if (*play < 0 || !v->WaitCalls(3))
        return {0, 0};
    std::lock_guard<std::mutex> lock(v->mu);
    return DecodeFirstPicture(v->units);
}

TEST_F(PelionTest, StreamDecodesStopsAndCarriesCommands) {
    SimNet net(2, 10);
    int32_t login = PELION_Login(Info(net.Address(0)), nullptr, 0, 0, 0, 0);
    ASSERT_GE(login, 0);
    Viewer v;
    v.sleepMs = 5;
    int32_t play = PELION_StartRealPlay(login, 0, 0, &Viewer::Callback, &v);
    ASSERT_GE(play, 0) << PELION_GetLastError();
    ASSERT_TRUE(v.WaitCalls(5));
    {
        std::lock_guard<std::mutex> lock(v.mu);
        ASSERT_GE(v.units[0].size(), 4u);
        EXPECT_EQ(std::vector<uint8_t>(v.units[0].begin(), v.units[0].begin() + 3),
                  (std::vector<uint8_t>{0, 0, 0}));  // Annex B start code
        EXPECT_EQ(DecodeFirstPicture(v.units), std::make_pair(640, 360));
    }
    // Commands on the same login while its stream runs.
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(Send(login, SetText("\"bVertInvert\":" + std::to_string(i % 2)), nullptr, 1024),
                  0);
    EXPECT_TRUE(net.Model(0).Snapshot().flip);  // the last one set it

    EXPECT_EQ(PELION_StopRealPlay(play), PELION_OK);
    v.stopped = true;
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(v.late, 0);
    EXPECT_EQ(PELION_StopRealPlay(play), PELION_ERR_BAD_HANDLE);

    // A sub stream, and a bad channel.
    Viewer sub;
    int32_t subPlay = -1;
    EXPECT_EQ(FirstPictureSize(login, 1, &sub, &subPlay), std::make_pair(320, 180));
    EXPECT_EQ(PELION_StartRealPlay(login, 3, 0, &Viewer::Callback, &sub), -1);
    EXPECT_EQ(PELION_GetLastError(), PELION_ERR_CHANNEL);

    // Stopping from inside a callback; then logging out stops the remaining stream.
    Viewer self;
    self.stopSelfAfter = 3;
    int32_t selfPlay = PELION_StartRealPlay(login, 0, 0, &Viewer::Callback, &self);
    self.handle = selfPlay;
    ASSERT_GE(selfPlay, 0);
    ASSERT_TRUE(self.WaitCalls(3));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(self.calls, 3);
    EXPECT_EQ(self.late, 0);

    EXPECT_EQ(PELION_LogOut(login), PELION_OK);
    sub.stopped = true;
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(sub.late, 0);
    EXPECT_EQ(PELION_StopRealPlay(subPlay), PELION_ERR_BAD_HANDLE);
}

// The camera streams at the size it was given (the rate is checked where the
// stream is written to a file); every access unit carries the time it was handed
// to the socket.
TEST_F(PelionTest, StreamAtChosenSizeCarriesSendStamps) {
    for (const char* bad :
         {"352x288", "351x288@30", "352x288@0", "352x288@61", "352x288@30x", "8x8@30", "x288@30"}) {
        auto module = camsim::MakeNetModule();
        char option[] = "--net-video";
        std::string value = bad;
        char* argv[] = {option, value.data()};
        EXPECT_EQ(module->ParseOption(2, argv, 0), -1) << bad;
    }

    SimNet net(1, 15, {"--net-video", "352x288@30"});
    int32_t login = PELION_Login(Info(net.Address(0)), nullptr, 0, 0, 0, 0);
    ASSERT_GE(login, 0);
    struct Stamps {
        Viewer viewer;
        std::mutex mu;
        std::vector<uint64_t> sent;
        std::vector<int64_t> delays;  // receipt minus send, microseconds
        static void PELION_API Callback(int32_t h, const uint8_t* data, uint32_t len, uint32_t type,
                                        void* user) {
            auto* s = static_cast<Stamps*>(user);
            uint64_t at = 0;
            bool found = camsim::stamp::Find(data, len, &at);
            uint64_t now = camsim::stamp::NowMicros();
            {
                std::lock_guard<std::mutex> lock(s->mu);
                s->sent.push_back(found ? at : 0);
                s->delays.push_back(static_cast<int64_t>(now - at));
            }
            Viewer::Callback(h, data, len, type, &s->viewer);
        }
    } main;
    int32_t play = PELION_StartRealPlay(login, 0, 0, &Stamps::Callback, &main);
    ASSERT_GE(play, 0);
    ASSERT_TRUE(main.viewer.WaitCalls(20));
    EXPECT_EQ(PELION_StopRealPlay(play), PELION_OK);
    {
        std::lock_guard<std::mutex> lock(main.viewer.mu);
        EXPECT_EQ(DecodeFirstPicture(main.viewer.units), std::make_pair(352, 288));
    }
    for (size_t i = 0; i < main.sent.size(); ++i) {
        ASSERT_NE(main.sent[i], 0u) << i;
        if (i > 0) {
            EXPECT_GT(main.sent[i], main.sent[i - 1]);
        }
        EXPECT_GE(main.delays[i], 0);
        EXPECT_LT(main.delays[i], 2000000);
    }

    Viewer sub;
    int32_t subPlay = -1;
    EXPECT_EQ(FirstPictureSize(login, 1, &sub, &subPlay), std::make_pair(176, 144));
    // Stopped before the viewer goes, so no callback can reach it afterwards.
    EXPECT_EQ(PELION_StopRealPlay(subPlay), PELION_OK);
}

TEST_F(PelionTest, CameraDroppingTheStreamEndsItCleanly) {
    SimNet net(1, 11, {"--net-drop-after", "1"});
    int32_t login = PELION_Login(Info(net.Address(0)), nullptr, 0, 0, 0, 0);
    ASSERT_GE(login, 0);
    Viewer v;
    int32_t play = PELION_StartRealPlay(login, 0, 0, &Viewer::Callback, &v);
    ASSERT_GE(play, 0);
    ASSERT_TRUE(v.WaitCalls(3));
    std::this_thread::sleep_for(1500ms);
    int after = v.calls;
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(v.calls, after);  // no more data, and no crash
    EXPECT_EQ(PELION_StopRealPlay(play), PELION_OK);
    EXPECT_EQ(Send(login, kGetText, nullptr), 0);  // the login itself lives on
}

TEST_F(PelionTest, ConcurrentLoginsStreamsAndCommands) {
    SimNet net(2, 13);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 6; ++round) {
                int32_t login = PELION_Login(Info(net.Address(t % 2)), nullptr, 0, 0, 0, 0);
                if (login < 0) {
                    ++failures;
                    continue;
                }
                Viewer v;
                int32_t play = PELION_StartRealPlay(login, 0, 1, &Viewer::Callback, &v);
                if (Send(login, kGetText, nullptr) != 0)
                    ++failures;
                v.WaitCalls(1, 2s);
                // Alternate the two ways a stream ends.
                if (round % 2 && play >= 0 && PELION_StopRealPlay(play) != 0)
                    ++failures;
                if (PELION_LogOut(login) != 0)
                    ++failures;
                v.stopped = true;
                if (v.late != 0)
                    ++failures;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures, 0);
}

TEST(PelionRelease, CleanupJoinsEverything) {
    SimNet net(2, 12);
    std::this_thread::sleep_for(50ms);
    const int before = ThreadCount();
    ASSERT_EQ(PELION_Init(0), PELION_OK);
    Viewer a, b;
    for (int i = 0; i < 2; ++i) {
        int32_t login = PELION_Login(Info(net.Address(i)), nullptr, 0, 0, 0, 0);
        ASSERT_GE(login, 0);
        ASSERT_GE(PELION_StartRealPlay(login, 0, 0, &Viewer::Callback, i ? &b : &a), 0);
    }
    ASSERT_TRUE(a.WaitCalls(2));
    ASSERT_TRUE(b.WaitCalls(2));
    EXPECT_EQ(PELION_Cleanup(), PELION_OK);
    a.stopped = b.stopped = true;
    // The cameras' connection threads end as they see the SDK's sockets close.
    auto until = Clock::now() + 5s;
    while (ThreadCount() != before && Clock::now() < until) std::this_thread::sleep_for(20ms);
    EXPECT_EQ(ThreadCount(), before);
    EXPECT_EQ(a.late + b.late, 0);
    EXPECT_EQ(PELION_StartRealPlay(0, 0, 0, &Viewer::Callback, &a), -1);
    EXPECT_EQ(PELION_GetLastError(), PELION_ERR_NOT_INIT);
}

// A stream's stop, slowed down inside the connection layer, must not let another
// thread's log-out or clean-up return while the stream's thread still runs.
thread_local bool t_slowShutdown = false;
void SlowShutdown() {
    if (t_slowShutdown)
        std::this_thread::sleep_for(300ms);
}

struct SlowStopper {
    std::atomic<int> inside{0};
    std::atomic<int> calls{0};
    std::atomic<bool> stopping{false};
    bool stopSelf = true;

    void Stop(int32_t handle) {
        stopping = true;
        t_slowShutdown = true;
        PELION_StopRealPlay(handle);
        t_slowShutdown = false;
    }
    static void PELION_API Callback(int32_t h, const uint8_t*, uint32_t, uint32_t, void* user) {
        auto* s = static_cast<SlowStopper*>(user);
        ++s->inside;
        ++s->calls;
        if (s->stopSelf && !s->stopping)
            s->Stop(h);
        --s->inside;
    }
};

TEST(PelionRelease, SlowStopCannotEscapeLogOutOrCleanup) {
    SimNet net(1, 14);
    pelion::seams::beforeShutdown = &SlowShutdown;
    enum Case { kSelfThenLogOut, kSelfThenCleanup, kOtherThreadThenCleanup };
    for (Case c : {kSelfThenLogOut, kSelfThenCleanup, kOtherThreadThenCleanup}) {
        SCOPED_TRACE(c);
        ASSERT_EQ(PELION_Init(0), PELION_OK);
        int32_t login = PELION_Login(Info(net.Address(0)), nullptr, 0, 0, 0, 0);
        ASSERT_GE(login, 0);
        Viewer other;
        SlowStopper slow;
        slow.stopSelf = c != kOtherThreadThenCleanup;
        ASSERT_GE(PELION_StartRealPlay(login, 0, 1, &Viewer::Callback, &other), 0);
        int32_t play = PELION_StartRealPlay(login, 0, 1, &SlowStopper::Callback, &slow);
        ASSERT_GE(play, 0);
        std::thread stopper;
        if (!slow.stopSelf) {
            ASSERT_TRUE(other.WaitCalls(1));
            stopper = std::thread([&] { slow.Stop(play); });
        }
        auto until = Clock::now() + 5s;
        while (!slow.stopping && Clock::now() < until) std::this_thread::sleep_for(2ms);
        ASSERT_TRUE(slow.stopping);
        std::this_thread::sleep_for(50ms);  // well inside the slowed stop

        EXPECT_EQ(c == kSelfThenLogOut ? PELION_LogOut(login) : PELION_Cleanup(), PELION_OK);
        EXPECT_EQ(slow.inside, 0);
        EXPECT_EQ(pelion::seams::OpenConnections(), 0);
        other.stopped = true;
        const int calls = slow.calls;
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(slow.calls, calls);
        EXPECT_EQ(other.late, 0);
        if (stopper.joinable())
            stopper.join();
        PELION_Cleanup();
    }
    pelion::seams::beforeShutdown = nullptr;
}

}  // namespace
