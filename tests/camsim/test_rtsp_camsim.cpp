// camsim's RTSP cameras seen by independent clients: ffprobe and ffmpeg read
// /main and /sub at the served sizes in either codec over TCP and UDP; a digest
// DESCRIBE written here checks the login; the fault switches do what they say on
// one camera while its neighbour stays good. Runs inside scripts/netns-run.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "CameraModel.h"
#include "Camsim.h"
#include "NetSimStamp.h"
#include "SimNetCameras.h"

extern "C" {
#include <libavutil/md5.h>
}

namespace {

// One camsim process; stopped when it goes out of scope.
class Camsim {
  public:
    explicit Camsim(const std::vector<std::string>& args) {
        char name[] = "/tmp/camsim-rtsp-XXXXXX";
        const int fd = mkstemp(name);
        log_ = name;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fd, 1);
            dup2(fd, 2);
            std::vector<char*> argv{const_cast<char*>(CAMSIM_PATH),
                                    const_cast<char*>("--no-discovery")};
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(CAMSIM_PATH, argv.data());
            _exit(127);
        }
        close(fd);
        for (int i = 0; i < 300 && Log().find("camsim: ready") == std::string::npos; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ~Camsim() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        unlink(log_.c_str());
    }
    std::string Log() const {
        std::ifstream in(log_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    bool Ready() const { return Log().find("camsim: ready") != std::string::npos; }

  private:
    pid_t pid_ = -1;
    std::string log_;
};

// Runs a shell command; its standard output and exit status.
std::string Shell(const std::string& command, int* status = nullptr) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p)
        return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int s = pclose(p);
    if (status)
        *status = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
    return out;
}

std::string Probe(const std::string& url, const std::string& transport) {
    return Shell("timeout 120 ffprobe -v error -rtsp_transport " + transport +
                 " -select_streams v:0 -show_entries stream=codec_name,width,height -of csv=p=0 " +
                 url);
}

// Decoded pictures of up to `seconds` of the stream; *status is ffmpeg's (124: it hung).
int CountFrames(const std::string& url, int seconds, int* status) {
    const std::string out =
        Shell("timeout 150 ffmpeg -nostdin -v quiet -rtsp_transport tcp -timeout 5000000 -i " +
                  url + " -t " + std::to_string(seconds) + " -f framecrc - 2>/dev/null",
              status);
    int frames = 0;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) frames += !line.empty() && line[0] != '#';
    return frames;
}

std::string Md5Hex(const std::string& text) {
    uint8_t d[16];
    av_md5_sum(d, reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()));
    char hex[33];
    for (int i = 0; i < 16; ++i) std::snprintf(hex + 2 * i, 3, "%02x", d[i]);
    return hex;
}

struct Answer {
    int code = 0;
    std::string head, body;
};

// DESCRIBE over one connection; with a user, answers a digest challenge once.
Answer Describe(const std::string& host, const std::string& path, const std::string& user = "",
                const std::string& password = "") {
    Answer a;
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(554);
    inet_pton(AF_INET, host.c_str(), &addr.sin_addr);
    timeval tv{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return a;
    }
    const std::string url = "rtsp://" + host + ":554" + path;
    int cseq = 1;
    std::string pending;
    auto exchange = [&](const std::string& extra) {
        const std::string req = "DESCRIBE " + url + " RTSP/1.0\r\nCSeq: " + std::to_string(cseq++) +
                                "\r\nAccept: application/sdp\r\n" + extra + "\r\n";
        send(fd, req.data(), req.size(), MSG_NOSIGNAL);
        Answer r;
        size_t end;
        char buf[4096];
        while ((end = pending.find("\r\n\r\n")) == std::string::npos) {
            const ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                return r;
            pending.append(buf, static_cast<size_t>(n));
        }
        r.head = pending.substr(0, end + 2);
        pending.erase(0, end + 4);
        std::smatch m;
        size_t length = 0;
        if (std::regex_search(r.head, m,
                              std::regex("Content-Length: *([0-9]+)", std::regex::icase)))
            length = std::stoul(m[1]);
        while (pending.size() < length) {
            const ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            pending.append(buf, static_cast<size_t>(n));
        }
        r.body = pending.substr(0, length);
        pending.erase(0, length);
        if (std::regex_search(r.head, m, std::regex("^RTSP/1.0 ([0-9]+)")))
            r.code = std::stoi(m[1]);
        return r;
    };
    a = exchange("");
    std::smatch realm, nonce;
    if (!user.empty() && a.code == 401 &&
        std::regex_search(a.head, realm, std::regex("realm=\"([^\"]*)\"")) &&
        std::regex_search(a.head, nonce, std::regex("nonce=\"([^\"]*)\""))) {
        const std::string ha1 = Md5Hex(user + ":" + realm[1].str() + ":" + password);
        const std::string ha2 = Md5Hex("DESCRIBE:" + url);
        const std::string response = Md5Hex(ha1 + ":" + nonce[1].str() + ":" + ha2);
        a = exchange("Authorization: Digest username=\"" + user + "\", realm=\"" + realm[1].str() +
                     "\", nonce=\"" + nonce[1].str() + "\", uri=\"" + url + "\", response=\"" +
                     response + "\"\r\n");
    }
    close(fd);
    return a;
}

TEST(RtspCamsim, BothPathsAtTheirSizesInEitherCodecOverTcpAndUdp) {
    struct Case {
        std::string codec, first, probeName;
    };
    for (const Case& c : {Case{"h264", "127.0.0.2", "h264"}, Case{"h265", "127.0.0.3", "hevc"}}) {
        SCOPED_TRACE(c.codec);
        Camsim sim({"--net", "1", "--net-first", c.first, "--net-video", "320x240@15",
                    "--rtsp-no-auth", "--net-codec", c.codec});
        ASSERT_TRUE(sim.Ready()) << sim.Log();
        // The start lines name the endpoints, never a login.
        EXPECT_NE(sim.Log().find("rtsp://" + c.first + ":554/main"), std::string::npos);
        for (const std::string transport : {"tcp", "udp"}) {
            EXPECT_EQ(Probe("rtsp://" + c.first + ":554/main", transport),
                      c.probeName + ",320,240\n")
                << transport;
            EXPECT_EQ(Probe("rtsp://" + c.first + ":554/sub", transport),
                      c.probeName + ",160,120\n")
                << transport;
        }
    }
    // Another port moves every camera; an unknown path is not served.
    Camsim moved(
        {"--net", "2", "--net-first", "127.0.0.4", "--rtsp-no-auth", "--rtsp-port", "8554"});
    ASSERT_TRUE(moved.Ready()) << moved.Log();
    EXPECT_EQ(Probe("rtsp://127.0.0.5:8554/sub", "tcp"), "h264,320,180\n");
    EXPECT_EQ(Probe("rtsp://127.0.0.5:554/sub", "tcp"), "");
    EXPECT_EQ(Probe("rtsp://127.0.0.5:8554/other", "tcp"), "");
}

TEST(RtspCamsim, DigestLoginWithTheSdkUserAndRefuseFault) {
    // The user comes from the option the SDK login reads; the password is the default.
    Camsim sim({"--net", "2", "--net-first", "127.0.0.6", "--net-user", "operator", "--rtsp-fault",
                "refuse", "--rtsp-fault-camera", "2"});
    ASSERT_TRUE(sim.Ready()) << sim.Log();
    EXPECT_EQ(sim.Log().find("quolt"), std::string::npos);

    const Answer none = Describe("127.0.0.6", "/main");
    EXPECT_EQ(none.code, 401);
    EXPECT_NE(none.head.find("WWW-Authenticate: Digest "), std::string::npos) << none.head;
    EXPECT_EQ(none.body.find("m=video"), std::string::npos);
    const Answer right = Describe("127.0.0.6", "/sub", "operator", "quolt");
    EXPECT_EQ(right.code, 200) << right.head;
    EXPECT_NE(right.body.find("m=video"), std::string::npos);
    EXPECT_EQ(Describe("127.0.0.6", "/main", "operator", "quolx").code, 401);
    EXPECT_EQ(Describe("127.0.0.6", "/main", "admin", "quolt").code, 401);
    // Refuse: the right answer to the challenge is turned away all the same.
    const Answer refused = Describe("127.0.0.7", "/main", "operator", "quolt");
    EXPECT_EQ(refused.code, 401);
    EXPECT_NE(refused.head.find("WWW-Authenticate: Digest "), std::string::npos);
}

TEST(RtspCamsim, FaultsHitOnlyTheirCamera) {
    {
        // no-sprop: parameter sets only in band, and a client still finds the size.
        Camsim sim({"--net", "2", "--net-first", "127.0.0.8", "--rtsp-no-auth", "--rtsp-fault",
                    "no-sprop", "--rtsp-fault-camera", "2"});
        ASSERT_TRUE(sim.Ready()) << sim.Log();
        const Answer good = Describe("127.0.0.8", "/main");
        const Answer bare = Describe("127.0.0.9", "/main");
        ASSERT_EQ(good.code, 200);
        ASSERT_EQ(bare.code, 200);
        EXPECT_NE(good.body.find("sprop-parameter-sets="), std::string::npos);
        EXPECT_EQ(bare.body.find("sprop-"), std::string::npos) << bare.body;
        EXPECT_NE(bare.body.find("packetization-mode=1"), std::string::npos);
        EXPECT_EQ(Probe("rtsp://127.0.0.9:554/main", "tcp"), "h264,640,360\n");
        EXPECT_EQ(Probe("rtsp://127.0.0.9:554/sub", "udp"), "h264,320,180\n");
    }
    {
        // stall: PLAY is answered, no picture ever comes, and the client gives up.
        Camsim sim({"--net", "2", "--net-first", "127.0.0.10", "--rtsp-no-auth", "--rtsp-fault",
                    "stall", "--rtsp-fault-camera", "1"});
        ASSERT_TRUE(sim.Ready()) << sim.Log();
        int status = 0;
        EXPECT_EQ(CountFrames("rtsp://127.0.0.10:554/main", 20, &status), 0);
        EXPECT_NE(status, 0);
        EXPECT_NE(status, 124) << "ffmpeg did not give up on a stalled stream";
        EXPECT_GT(CountFrames("rtsp://127.0.0.11:554/main", 2, &status), 0);
        EXPECT_EQ(status, 0);
    }
    {
        // drop=4: the session ends long before the 20 seconds asked for; a new one
        // plays again. Four seconds leave a loaded machine's ffmpeg time to probe.
        Camsim sim({"--net", "1", "--net-first", "127.0.0.12", "--net-fps", "10", "--rtsp-no-auth",
                    "--rtsp-fault", "drop=4"});
        ASSERT_TRUE(sim.Ready()) << sim.Log();
        for (int round = 0; round < 2; ++round) {
            int status = 0;
            const int frames = CountFrames("rtsp://127.0.0.12:554/sub", 20, &status);
            EXPECT_GT(frames, 0) << round;
            EXPECT_LT(frames, 100) << round;  // 10 seconds' worth at most
            EXPECT_NE(status, 124) << round;
        }
    }
}

// One decoded picture of a stream, as 8-bit grey.
std::string GrabGray(const std::string& url) {
    return Shell("timeout 120 ffmpeg -nostdin -v error -rtsp_transport tcp -i " + url +
                 " -frames:v 1 -f rawvideo -pix_fmt gray - 2>/dev/null");
}

double MeanRows(const std::string& gray, int width, int y0, int y1) {
    double sum = 0;
    for (size_t i = static_cast<size_t>(y0) * width; i < static_cast<size_t>(y1) * width; ++i)
        sum += static_cast<uint8_t>(gray[i]);
    return sum / ((y1 - y0) * width);
}

TEST(RtspCamsim, PictureShowsTheCameraStoreAndItsCaptureTime) {
    // In-process, so the test reaches the camera's parameter store that the SDK writes.
    SimNetCameras cams(1, "127.0.0.20", {"--net-video", "320x240@15", "--rtsp-no-auth"},
                       "IPC-STORE", &camsim::MakeRtspModule);
    ASSERT_TRUE(cams.Started()) << cams.BadOption();

    const uint64_t before = camsim::stamp::NowMicros() & 0xFFFFFFFFFFFFull;
    const std::string plain = GrabGray("rtsp://127.0.0.20:554/main");
    const uint64_t after = camsim::stamp::NowMicros() & 0xFFFFFFFFFFFFull;
    ASSERT_EQ(plain.size(), 320u * 240u);
    uint64_t captured = 0;
    ASSERT_TRUE(camsim::stamp::ReadStripe(reinterpret_cast<const uint8_t*>(plain.data()), 320, 240,
                                          320, &captured));
    EXPECT_GE(captured, before);
    EXPECT_LE(captured, after);

    const std::string set =
        "{\"Cmd\":\"ReqSetVideoParam\",\"wCmdId\":40001090,\"Content\":{\"ChanNum\":0,"
        "\"VideoParam\":{\"Luminance\":90}}}";
    ASSERT_NE(cams.Model(0).HandleJson(set).find("\"nResult\":0"), std::string::npos);
    const std::string brighter = GrabGray("rtsp://127.0.0.20:554/sub");
    ASSERT_EQ(brighter.size(), 160u * 120u);
    // Rows between the overlay lines: the scene only.
    EXPECT_GT(MeanRows(brighter, 160, 30, 90), MeanRows(plain, 320, 60, 180) + 20);
}

TEST(RtspCamsim, BadOptionsAreRefused) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--rtsp-fault", "sometimes"},
                                               {"--rtsp-fault", "drop=0"},
                                               {"--net-codec", "vp8"},
                                               {"--rtsp-port", "0"},
                                               {"--rtsp-fault-camera", "3"}}) {
        // Accepted by mistake, camsim would serve until the timeout (124).
        std::string command = "timeout 20 " + std::string(CAMSIM_PATH) +
                              " --no-discovery --net 2 --net-first 127.0.0.14";
        for (const auto& a : args) command += " " + a;
        int status = 0;
        Shell(command + " >/dev/null 2>&1", &status);
        EXPECT_TRUE(status == 1 || status == 2) << command << ": " << status;
    }
}

}  // namespace
