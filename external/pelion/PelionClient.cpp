// The network camera SDK client: one control connection per login, one more
// connection per live stream (docs/sdk-protocol.md).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "PELION_SDK.h"
#include "PelionSocket.h"
#include "PelionWire.h"

namespace {

using pelion::TcpConnection;
namespace wire = pelion::wire;
using Clock = std::chrono::steady_clock;

constexpr int32_t kMaxHandles = 4096;
constexpr int kLogoutSendMs = 500;

thread_local int32_t t_lastError = 0;

int32_t Done(int32_t code) {
    t_lastError = code;
    return code;
}

int RemainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// Codes a camera may put in an answer's result field; anything else is a protocol error.
int32_t CameraCode(int32_t code) {
    switch (code) {
        case PELION_ERR_PASSWORD:
        case PELION_ERR_BUSY:
        case PELION_ERR_VERSION:
        case PELION_ERR_CHANNEL:
        case PELION_ERR_SESSION:
        case PELION_ERR_BAD_ARGUMENT:
        case PELION_ERR_NO_RESOURCES:
            return code;
        default:
            return PELION_ERR_PROTOCOL;
    }
}

struct Frame {
    wire::Header header;
    std::vector<uint8_t> payload;
};

int32_t SendFrame(TcpConnection& c, uint8_t type, uint32_t sequence, const void* payload,
                  size_t length, int timeoutMs) {
    std::vector<uint8_t> bytes(wire::kHeaderSize + length);
    wire::Header h;
    h.type = type;
    h.sequence = sequence;
    h.length = static_cast<uint32_t>(length);
    wire::EncodeHeader(h, bytes.data());
    if (length > 0)
        std::memcpy(bytes.data() + wire::kHeaderSize, payload, length);
    return c.SendAll(bytes.data(), bytes.size(), timeoutMs);  // one write: Nagle is off
}

// Receives one whole frame within timeoutMs. *midFrame tells, on failure, whether part
// of a frame was consumed, which leaves the connection unusable.
int32_t RecvFrame(TcpConnection& c, Frame* f, uint32_t maxPayload, int timeoutMs, bool* midFrame) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    uint8_t head[wire::kHeaderSize];
    *midFrame = false;
    int32_t r = c.RecvAll(head, 1, timeoutMs);
    if (r != 0)
        return r;
    *midFrame = true;
    r = c.RecvAll(head + 1, wire::kHeaderSize - 1, RemainingMs(deadline));
    if (r != 0)
        return r;
    if (!wire::DecodeHeader(head, &f->header))
        return PELION_ERR_PROTOCOL;
    if (f->header.version != wire::kVersion)
        return PELION_ERR_VERSION;
    if (f->header.length > maxPayload)
        return PELION_ERR_PROTOCOL;
    f->payload.resize(f->header.length);
    if (f->header.length > 0) {
        r = c.RecvAll(f->payload.data(), f->payload.size(), RemainingMs(deadline));
        if (r != 0)
            return r;
    }
    *midFrame = false;
    return 0;
}

// Receives the one answer to a connection's first request. A refusal needs only its
// result field; an acceptance needs successLength bytes.
int32_t RecvFirstAnswer(TcpConnection& c, uint8_t type, size_t successLength, Frame* f) {
    bool midFrame = false;
    int32_t r = RecvFrame(c, f, wire::kMaxControlPayload, PELION_ANSWER_TIMEOUT_MS, &midFrame);
    if (r != 0)
        return r;
    if (f->header.type != type || f->header.sequence != 1 || f->payload.size() < 4)
        return PELION_ERR_PROTOCOL;
    int32_t result = static_cast<int32_t>(wire::Get32(f->payload.data()));
    if (result != 0)
        return CameraCode(result);
    return f->payload.size() < successLength ? PELION_ERR_PROTOCOL : 0;
}

struct Login {
    std::string ip;
    uint16_t port = 0;
    uint32_t token = 0;
    std::mutex io;  // one request at a time on the control connection
    TcpConnection control;
    uint32_t sequence = 1;  // guarded by io
    bool broken = false;    // guarded by io: connection lost or out of step
    std::atomic<bool> closing{false};
};

struct RealPlay {
    int32_t handle = -1;
    int32_t loginHandle = -1;
    PELION_StreamCallback callback = nullptr;
    void* user = nullptr;
    TcpConnection conn;
    std::thread thread;
    std::atomic<bool> stop{false};
    std::atomic<bool> ended{false};
    std::mutex joinMu;  // held while joining: a second joiner waits for the first
};

struct Sdk {
    std::mutex mu;
    bool initialised = false;
    std::map<int32_t, std::shared_ptr<RealPlay>> plays;
    std::map<int32_t, std::shared_ptr<Login>> logins;
    int32_t nextLogin = 0;
    int32_t nextPlay = 0;
    // Streams taken out of the table whose threads have not been joined yet. A stream
    // leaves the table and enters this list in one locked step, so log-out and
    // clean-up always find it until it is joined.
    std::vector<std::shared_ptr<RealPlay>> stopping;
};

// Never destroyed: stream threads may outlive static destruction if the caller
// skips PELION_Cleanup.
Sdk& Global() {
    static Sdk* sdk = new Sdk;
    return *sdk;
}

// Handles go round the range so that a stale handle is unlikely to name a new login.
template <class Map>
int32_t AllocateHandle(const Map& map, int32_t* next) {
    for (int32_t i = 0; i < kMaxHandles; ++i) {
        int32_t h = (*next + i) % kMaxHandles;
        if (map.find(h) == map.end()) {
            *next = (h + 1) % kMaxHandles;
            return h;
        }
    }
    return -1;
}

std::string FieldText(const char* field, size_t size) {
    return std::string(field, strnlen(field, size));
}

thread_local const RealPlay* t_stream = nullptr;  // the stream whose thread this is

bool OnOwnThread(const RealPlay& play) {
    return t_stream == &play;
}

void StreamThread(std::shared_ptr<RealPlay> play) {
    t_stream = play.get();
    Frame frame;
    while (!play->stop.load()) {
        bool midFrame = false;
        if (RecvFrame(play->conn, &frame, wire::kMaxMediaPayload, PELION_STREAM_IDLE_TIMEOUT_MS,
                      &midFrame) != 0)
            break;  // camera gone, silent too long, or stopped
        if (frame.header.type != wire::kMedia || frame.payload.size() < wire::kMediaPrefixSize)
            break;
        if (play->stop.load())
            break;
        uint32_t dataType = wire::Get32(frame.payload.data());
        play->callback(play->handle, frame.payload.data() + wire::kMediaPrefixSize,
                       static_cast<uint32_t>(frame.payload.size() - wire::kMediaPrefixSize),
                       dataType, play->user);
    }
    play->ended.store(true);
}

// Under sdk.mu: moves a stream that has just left the table onto the stopping
// list and wakes its thread. The socket is shut down here, before anyone can
// find the stream on the list and close it.
void BeginStop(Sdk& sdk, const std::shared_ptr<RealPlay>& play) {
    play->stop.store(true);
    play->conn.Shutdown();
    sdk.stopping.push_back(play);
}

// Joins the streams' threads, closes their connections and drops them from the
// stopping list. Several threads may finish the same stream at once; a stream's
// own thread is skipped (it ends after its callback returns and is joined later).
void FinishStops(const std::vector<std::shared_ptr<RealPlay>>& plays) {
    std::vector<std::shared_ptr<RealPlay>> done;
    for (const auto& play : plays) {
        if (OnOwnThread(*play))
            continue;
        std::lock_guard<std::mutex> join(play->joinMu);
        if (play->thread.joinable())
            play->thread.join();
        play->conn.Close();
        done.push_back(play);
    }
    if (done.empty())
        return;
    Sdk& sdk = Global();
    std::lock_guard<std::mutex> lock(sdk.mu);
    std::erase_if(sdk.stopping, [&](const auto& p) {
        return std::find(done.begin(), done.end(), p) != done.end();
    });
}

// The stopping streams whose threads have already ended (all: every one).
std::vector<std::shared_ptr<RealPlay>> StoppingStreams(bool all) {
    Sdk& sdk = Global();
    std::lock_guard<std::mutex> lock(sdk.mu);
    std::vector<std::shared_ptr<RealPlay>> out;
    for (const auto& p : sdk.stopping)
        if (all || p->ended.load())
            out.push_back(p);
    return out;
}

void EndLogin(const std::shared_ptr<Login>& login) {
    login->closing.store(true);
    std::unique_lock<std::mutex> io(login->io, std::try_to_lock);
    if (io.owns_lock()) {
        // Courtesy only: the camera also ends the session when the connection closes.
        if (!login->broken)
            SendFrame(login->control, wire::kLogout, ++login->sequence, nullptr, 0, kLogoutSendMs);
    } else {
        login->control.Shutdown();  // wakes the command in flight, which then fails
        io.lock();
    }
    login->control.Shutdown();
    login->control.Close();
}

std::shared_ptr<Login> FindLogin(int32_t handle, int32_t* error) {
    Sdk& sdk = Global();
    std::lock_guard<std::mutex> lock(sdk.mu);
    if (!sdk.initialised) {
        *error = PELION_ERR_NOT_INIT;
        return nullptr;
    }
    auto it = sdk.logins.find(handle);
    if (it == sdk.logins.end()) {
        *error = PELION_ERR_BAD_HANDLE;
        return nullptr;
    }
    return it->second;
}

}  // namespace

extern "C" {

int32_t PELION_API PELION_Init(int32_t) {
    Sdk& sdk = Global();
    std::lock_guard<std::mutex> lock(sdk.mu);
    if (!sdk.initialised) {
        int32_t r = pelion::SocketsStartup();
        if (r != 0)
            return Done(r);
        sdk.initialised = true;
    }
    return Done(PELION_OK);
}

int32_t PELION_API PELION_Cleanup(void) {
    Sdk& sdk = Global();
    std::map<int32_t, std::shared_ptr<Login>> logins;
    std::vector<std::shared_ptr<RealPlay>> plays;
    bool wasInitialised;
    {
        std::lock_guard<std::mutex> lock(sdk.mu);
        wasInitialised = sdk.initialised;
        sdk.initialised = false;
        logins.swap(sdk.logins);
        for (auto& [h, play] : sdk.plays) BeginStop(sdk, play);
        sdk.plays.clear();
        plays = sdk.stopping;  // also those stopped elsewhere and not joined yet
    }
    FinishStops(plays);
    for (auto& [h, login] : logins) EndLogin(login);
    if (wasInitialised)
        pelion::SocketsCleanup();
    return Done(PELION_OK);
}

int32_t PELION_API PELION_Login(LoginInfo info, void* deviceInfo, int32_t, int32_t, int32_t,
                                int32_t) {
    {
        Sdk& sdk = Global();
        std::lock_guard<std::mutex> lock(sdk.mu);
        if (!sdk.initialised) {
            Done(PELION_ERR_NOT_INIT);
            return -1;
        }
    }
    auto login = std::make_shared<Login>();
    login->ip = FieldText(info.ip, sizeof info.ip);
    uint8_t portBytes[2];
    std::memcpy(portBytes, reinterpret_cast<const char*>(&info) + offsetof(LoginInfo, port), 2);
    login->port = static_cast<uint16_t>(portBytes[0] | portBytes[1] << 8);
    if (login->port == 0)
        login->port = PELION_DEFAULT_PORT;
    std::string user = FieldText(info.user, sizeof info.user);
    std::string password = FieldText(info.password, sizeof info.password);

    int32_t r = login->control.Connect(login->ip.c_str(), login->port, PELION_CONNECT_TIMEOUT_MS);
    if (r != 0) {
        Done(r);
        return -1;
    }
    uint8_t request[wire::kLoginRequestSize] = {};
    std::memcpy(request, user.data(), std::min(user.size(), wire::kUserSize - 1));
    std::memcpy(request + wire::kUserSize, password.data(),
                std::min(password.size(), wire::kPasswordSize - 1));
    r = SendFrame(login->control, wire::kLoginRequest, 1, request, sizeof request,
                  PELION_ANSWER_TIMEOUT_MS);
    Frame answer;
    if (r == 0)
        r = RecvFirstAnswer(login->control, wire::kLoginAnswer, 8, &answer);
    if (r != 0) {
        Done(r);
        return -1;
    }
    login->token = wire::Get32(answer.payload.data() + 4);
    if (deviceInfo) {
        std::memset(deviceInfo, 0, PELION_DEVICE_INFO_SIZE);
        size_t n = std::min<size_t>(answer.payload.size() - 8, PELION_DEVICE_INFO_SIZE);
        std::memcpy(deviceInfo, answer.payload.data() + 8, n);
    }

    Sdk& sdk = Global();
    std::lock_guard<std::mutex> lock(sdk.mu);
    if (!sdk.initialised) {
        Done(PELION_ERR_NOT_INIT);
        return -1;
    }
    int32_t handle = AllocateHandle(sdk.logins, &sdk.nextLogin);
    if (handle < 0) {
        Done(PELION_ERR_NO_RESOURCES);
        return -1;
    }
    sdk.logins[handle] = login;
    Done(PELION_OK);
    return handle;
}

int32_t PELION_API PELION_StartRealPlay(int32_t loginHandle, int32_t channel, int32_t streamType,
                                        PELION_StreamCallback callback, void* user) {
    FinishStops(StoppingStreams(false));
    int32_t error = 0;
    auto login = FindLogin(loginHandle, &error);
    if (!login) {
        Done(error);
        return -1;
    }
    if (!callback || channel < 0 || streamType < 0) {
        Done(PELION_ERR_BAD_ARGUMENT);
        return -1;
    }
    auto play = std::make_shared<RealPlay>();
    play->loginHandle = loginHandle;
    play->callback = callback;
    play->user = user;
    int32_t r = play->conn.Connect(login->ip.c_str(), login->port, PELION_CONNECT_TIMEOUT_MS);
    if (r == 0) {
        uint8_t request[wire::kStreamRequestSize];
        wire::Put32(request, login->token);
        wire::Put32(request + 4, static_cast<uint32_t>(channel));
        wire::Put32(request + 8, static_cast<uint32_t>(streamType));
        r = SendFrame(play->conn, wire::kStreamRequest, 1, request, sizeof request,
                      PELION_ANSWER_TIMEOUT_MS);
    }
    Frame answer;
    if (r == 0)
        r = RecvFirstAnswer(play->conn, wire::kStreamAnswer, 4, &answer);
    if (r != 0) {
        Done(r);
        return -1;
    }

    Sdk& sdk = Global();
    std::lock_guard<std::mutex> lock(sdk.mu);
    if (!sdk.initialised || sdk.logins.find(loginHandle) == sdk.logins.end()) {
        Done(sdk.initialised ? PELION_ERR_BAD_HANDLE : PELION_ERR_NOT_INIT);  // logged out
        return -1;
    }
    int32_t handle = AllocateHandle(sdk.plays, &sdk.nextPlay);
    if (handle < 0) {
        Done(PELION_ERR_NO_RESOURCES);
        return -1;
    }
    play->handle = handle;
    try {
        play->thread = std::thread(StreamThread, play);
    } catch (const std::system_error&) {
        Done(PELION_ERR_NO_RESOURCES);
        return -1;
    }
    sdk.plays[handle] = play;
    Done(PELION_OK);
    return handle;
}

int32_t PELION_API PELION_StopRealPlay(int32_t realPlayHandle) {
    std::shared_ptr<RealPlay> play;
    {
        Sdk& sdk = Global();
        std::lock_guard<std::mutex> lock(sdk.mu);
        if (!sdk.initialised)
            return Done(PELION_ERR_NOT_INIT);
        auto it = sdk.plays.find(realPlayHandle);
        if (it == sdk.plays.end())
            return Done(PELION_ERR_BAD_HANDLE);
        play = it->second;
        sdk.plays.erase(it);
        BeginStop(sdk, play);
    }
    FinishStops({play});  // outside the lock: a running callback may call into the SDK
    FinishStops(StoppingStreams(false));
    return Done(PELION_OK);
}

int32_t PELION_API PELION_LogOut(int32_t loginHandle) {
    std::shared_ptr<Login> login;
    std::vector<std::shared_ptr<RealPlay>> plays;
    {
        Sdk& sdk = Global();
        std::lock_guard<std::mutex> lock(sdk.mu);
        if (!sdk.initialised)
            return Done(PELION_ERR_NOT_INIT);
        auto it = sdk.logins.find(loginHandle);
        if (it == sdk.logins.end())
            return Done(PELION_ERR_BAD_HANDLE);
        login = it->second;
        sdk.logins.erase(it);
        for (auto p = sdk.plays.begin(); p != sdk.plays.end();) {
            if (p->second->loginHandle == loginHandle) {
                BeginStop(sdk, p->second);
                p = sdk.plays.erase(p);
            } else {
                ++p;
            }
        }
        // The login's streams being stopped by another thread (or their own) count too.
        for (const auto& p : sdk.stopping)
            if (p->loginHandle == loginHandle)
                plays.push_back(p);
    }
    FinishStops(plays);
    EndLogin(login);
    FinishStops(StoppingStreams(false));
    return Done(PELION_OK);
}

int32_t PELION_API PELION_SendRobotText(int32_t loginHandle, const char* text, int32_t textLen,
                                        char* answer, int32_t* answerLen) {
    int32_t error = 0;
    auto login = FindLogin(loginHandle, &error);
    if (!login)
        return Done(error);
    if (!text || textLen <= 0)
        return Done(PELION_ERR_BAD_ARGUMENT);
    size_t length = strnlen(text, static_cast<size_t>(textLen));
    if (length > wire::kMaxControlPayload)
        return Done(PELION_ERR_BAD_ARGUMENT);

    std::lock_guard<std::mutex> io(login->io);
    if (login->closing.load())
        return Done(PELION_ERR_BAD_HANDLE);
    if (login->broken)
        return Done(PELION_ERR_NETWORK);
    uint32_t sequence = ++login->sequence;
    auto deadline = Clock::now() + std::chrono::milliseconds(PELION_ANSWER_TIMEOUT_MS);
    int32_t r = SendFrame(login->control, wire::kTextRequest, sequence, text, length,
                          PELION_ANSWER_TIMEOUT_MS);
    if (r != 0) {
        login->broken = true;
        return Done(r);
    }
    Frame frame;
    for (bool first = true;; first = false) {
        // A camera that keeps sending stale answers must not hold the caller
        // past the limit.
        if (!first && Clock::now() >= deadline)
            return Done(PELION_ERR_TIMEOUT);
        bool midFrame = false;
        r = RecvFrame(login->control, &frame, wire::kMaxControlPayload, RemainingMs(deadline),
                      &midFrame);
        if (r != 0) {
            // A late answer is skipped by its sequence number next time, but a
            // half-read frame leaves no way back into step.
            if (r != PELION_ERR_TIMEOUT || midFrame)
                login->broken = true;
            if (login->closing.load())
                return Done(PELION_ERR_BAD_HANDLE);
            return Done(r);
        }
        if (frame.header.type != wire::kTextAnswer || frame.payload.size() < 4) {
            login->broken = true;
            return Done(PELION_ERR_PROTOCOL);
        }
        if (frame.header.sequence == sequence)
            break;  // older ones answer timed-out requests
    }
    int32_t status = static_cast<int32_t>(wire::Get32(frame.payload.data()));
    if (status != 0)
        return Done(CameraCode(status));

    const char* body = reinterpret_cast<const char*>(frame.payload.data()) + 4;
    size_t bodyLength = frame.payload.size() - 4;
    if (!answer || !answerLen) {
        if (answerLen)
            *answerLen = 0;
        return Done(PELION_OK);
    }
    // The out length is what was stored, never more than the capacity: a
    // caller that passes it on unchanged to its next call cannot overrun.
    int32_t capacity = *answerLen;
    if (capacity <= 0) {
        *answerLen = 0;
        return Done(PELION_ERR_BUFFER_SMALL);
    }
    size_t copied = std::min(bodyLength, static_cast<size_t>(capacity - 1));
    std::memcpy(answer, body, copied);
    answer[copied] = '\0';
    *answerLen = static_cast<int32_t>(copied + 1);
    return Done(copied == bodyLength ? PELION_OK : PELION_ERR_BUFFER_SMALL);
}

int32_t PELION_API PELION_GetLastError(void) {
    return t_lastError;
}

}  // extern "C"
