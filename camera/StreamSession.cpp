#include "StreamSession.h"

#include <algorithm>

#include "PanePlayerPort.h"
#include "movra.h"

namespace strevo {

namespace {

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

void PaneStreamSink::OnCodec(int32_t codec) {
    port_.Feed([&](int32_t port) { MV_SetStreamCodec(port, codec); });
}

void PaneStreamSink::OnData(const uint8_t* data, uint32_t length) {
    port_.Feed([&](int32_t port) { MV_VideoInputData(port, data, length); });
}

// Notes when data last came, on its way to the pane's sink.
class StreamSession::Gate final : public IStreamSink {
  public:
    Gate(IStreamSink& sink, std::atomic<int64_t>& last) : sink_(sink), last_(last) {}
    void OnCodec(int32_t codec) override { sink_.OnCodec(codec); }
    void OnData(const uint8_t* data, uint32_t length) override {
        last_.store(NowMs());
        sink_.OnData(data, length);
    }

  private:
    IStreamSink& sink_;
    std::atomic<int64_t>& last_;
};

StreamSession::StreamSession(ICamera& camera, int streamType, IStreamSink& sink, StateFn onState,
                             SessionTiming timing)
    : camera_(camera),
      streamType_(streamType),
      onState_(std::move(onState)),
      timing_(timing),
      gate_(std::make_unique<Gate>(sink, lastData_)) {}

StreamSession::~StreamSession() {
    Stop();
}

StreamOpenResult StreamSession::OpenNow() {
    lastData_.store(NowMs());
    return camera_.OpenStream(streamType_, gate_.get(), &stop_);
}

bool StreamSession::Start(bool opened) {
    if (thread_.joinable())
        return false;
    stop_ = false;
    try {
        thread_ = std::thread(&StreamSession::Run, this, opened);
    } catch (...) {
        return false;
    }
    return true;
}

void StreamSession::Stop() {
    {
        std::lock_guard lock(mu_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
    camera_.CloseStream();
}

bool StreamSession::Sleep(std::chrono::milliseconds ms) {
    std::unique_lock lock(mu_);
    return !wake_.wait_for(lock, ms, [this] { return stop_.load(); });
}

void StreamSession::Report(StreamState state, int32_t value) {
    if (!stop_ && onState_)
        onState_(state, value);
}

void StreamSession::Run(bool opened) {
    int waitSeconds = 1;
    while (!stop_) {
        if (!opened) {
            Report(StreamState::kConnecting, 0);
            lastData_.store(NowMs());
            const StreamOpenResult r = camera_.OpenStream(streamType_, gate_.get(), &stop_);
            if (stop_)
                break;
            if (r.code != 0) {
                camera_.CloseStream();
                if (r.loginRefused) {
                    Report(StreamState::kLoginFailed, r.code);
                    while (Sleep(std::chrono::hours(1))) {
                    }
                    break;
                }
            } else {
                opened = true;
            }
        }
        if (opened) {
            Report(StreamState::kPlaying, 0);
            const int64_t since = NowMs();
            lastData_.store(since);
            while (Sleep(std::chrono::milliseconds(100))) {
                if (camera_.StreamEnded() || NowMs() - lastData_.load() >= timing_.stallMs)
                    break;
            }
            camera_.CloseStream();
            opened = false;
            if (stop_)
                break;
            if (NowMs() - since >= timing_.steadyMs)
                waitSeconds = 1;
        }
        bool stopped = false;
        for (int left = waitSeconds; left > 0; --left) {
            Report(StreamState::kRetryWait, left);
            if (!Sleep(std::chrono::milliseconds(timing_.secondMs))) {
                stopped = true;
                break;
            }
        }
        if (stopped)
            break;
        waitSeconds = std::min(waitSeconds * 2, timing_.maxWaitSeconds);
    }
}

}  // namespace strevo
