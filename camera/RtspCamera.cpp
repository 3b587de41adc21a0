// A camera known only by its RTSP URL: the stream, nothing else.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "Camera.h"
#include "RtspSource.h"

namespace strevo {

namespace {

class RtspCamera final : public ICamera {
  public:
    RtspCamera(const std::string& url, const Credentials& credentials, bool udp)
        : shown_(rtsp::WithoutCredentials(url)) {
        options_.url = url;
        options_.user = credentials.user;
        options_.password = credentials.password;
        options_.transport = udp ? rtsp::Transport::kUdp : rtsp::Transport::kTcp;
    }
    ~RtspCamera() override { CloseStream(); }

    CameraKind Kind() const override { return CameraKind::kRtsp; }
    uint32_t Caps() const override { return kCapStream; }
    const std::string& Address() const override { return shown_; }

    // The source is opened and read on a thread of its own, so that the
    // caller's stop and the camera's own (CloseStream) both end a blocked step.
    StreamOpenResult OpenStream(int, IStreamSink* sink, const std::atomic<bool>* stop) override {
        CloseStream();
        stop_ = false;
        ended_ = false;
        openCode_ = 1;  // pending
        try {
            reader_ = std::thread(&RtspCamera::Read, this, sink);
        } catch (...) {
            return StreamOpenResult{rtsp::kErrNoResources, false, false};
        }
        std::unique_lock lock(mu_);
        while (openCode_ == 1) {
            if (stop && stop->load())
                stop_ = true;
            wake_.wait_for(lock, std::chrono::milliseconds(50));
        }
        StreamOpenResult result;
        result.code = openCode_;
        result.loginRefused = openCode_ == rtsp::kErrAuth;
        return result;
    }

    bool StreamEnded() const override { return ended_.load(); }

    void CloseStream() override {
        stop_ = true;
        if (reader_.joinable())
            reader_.join();
    }

  private:
    void Read(IStreamSink* sink) {
        rtsp::Source source;
        rtsp::StreamInfo info;
        const int32_t rc = source.Open(options_, &stop_, &info);
        if (rc == rtsp::kOk)
            sink->OnCodec(info.codec);
        {
            std::lock_guard lock(mu_);
            openCode_ = rc;
        }
        wake_.notify_all();
        if (rc != rtsp::kOk) {
            ended_ = true;
            return;
        }
        rtsp::Unit unit;
        while (!stop_ && source.Read(&unit) == rtsp::kOk) sink->OnData(unit.data, unit.size);
        source.Close();
        ended_ = true;
    }

    rtsp::Options options_;
    std::string shown_;
    std::thread reader_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> ended_{false};
    std::mutex mu_;
    std::condition_variable wake_;
    int32_t openCode_ = 0;
};

}  // namespace

std::unique_ptr<ICamera> MakeRtspCamera(const std::string& url, const Credentials& credentials,
                                        bool udp) {
    return std::make_unique<RtspCamera>(url, credentials, udp);
}

}  // namespace strevo
