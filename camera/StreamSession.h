// Keeps one pane's camera stream going: when the stream ends or brings nothing
// for kStallMs, it is closed and opened again after a growing wait (1, 2, 4 …
// 30 s), until the session is stopped. The pane keeps showing its player's
// last picture meanwhile; the session only reports what it is doing.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "Camera.h"

namespace strevo {

class PanePlayerPort;

enum class StreamState {
    kConnecting,   // opening
    kPlaying,      // data flows
    kRetryWait,    // value: seconds until the next try
    kLoginFailed,  // value: the camera's code; no more tries (waiting would not help)
};

// Feeds a pane's player port (MV_SetStreamCodec, MV_VideoInputData).
class PaneStreamSink final : public IStreamSink {
  public:
    explicit PaneStreamSink(PanePlayerPort& port) : port_(port) {}
    void OnCodec(int32_t codec) override;
    void OnData(const uint8_t* data, uint32_t length) override;

  private:
    PanePlayerPort& port_;
};

struct SessionTiming {
    int stallMs = 5000;   // no data this long: the stream is taken as dropped
    int secondMs = 1000;  // one second of the waits (shorter in tests)
    int maxWaitSeconds = 30;
    int steadyMs = 10000;  // a stream that played this long starts the waits at 1 s again
};

class StreamSession {
  public:
    // Reported on the session's thread (never after Stop has returned).
    using StateFn = std::function<void(StreamState state, int32_t value)>;

    StreamSession(ICamera& camera, int streamType, IStreamSink& sink, StateFn onState,
                  SessionTiming timing = {});
    ~StreamSession();
    StreamSession(const StreamSession&) = delete;
    StreamSession& operator=(const StreamSession&) = delete;

    // Opens the stream on the calling thread (the first open, whose failure
    // the caller shows itself).
    StreamOpenResult OpenNow();
    // Watches the stream from now on; opened: OpenNow succeeded, otherwise the
    // session begins with an open of its own.
    bool Start(bool opened);
    // Ends at once a wait and an RTSP step, an SDK step within its own limit;
    // the stream is closed when it returns.
    void Stop();

  private:
    class Gate;
    void Run(bool opened);
    // Waits up to ms or until stopped; false when stopped.
    bool Sleep(std::chrono::milliseconds ms);
    void Report(StreamState state, int32_t value);

    ICamera& camera_;
    int streamType_;
    StateFn onState_;
    SessionTiming timing_;
    std::atomic<bool> stop_{false};
    std::atomic<int64_t> lastData_{0};  // steady clock, milliseconds
    std::mutex mu_;
    std::condition_variable wake_;
    std::thread thread_;
    std::unique_ptr<IStreamSink> gate_;
};

}  // namespace strevo
