// One player port: input splitting on the caller's thread, a bounded queue of access units,
// and a thread that decodes them and draws the newest picture into the port's sink.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "PictureScaler.h"
#include "UnitSplitter.h"
#include "movra.h"

struct AVCodecContext;
struct AVFrame;

namespace movra {

class PlayerPort {
  public:
    // A running port, or null when the decoder, memory or the thread are not available.
    static std::shared_ptr<PlayerPort> Create();
    ~PlayerPort();
    PlayerPort(const PlayerPort&) = delete;
    PlayerPort& operator=(const PlayerPort&) = delete;

    int32_t Input(const uint8_t* data, uint32_t length, int64_t tag);
    int32_t SetCodec(int32_t codec);
    // Pictures go to sink or target from now on (at most one of them; neither detaches).
    int32_t SetOutput(const MV_RenderSink* sink, const MV_DrawTarget* target);
    // Detaches the sink, stops the thread and waits for it. Not from the port's own thread.
    void Close();
    void GetStats(MV_Stats* stats);
    // MV_GetLastFrame.
    int32_t GetLastFrame(const MV_Image* image, int32_t* width, int32_t* height);
    bool OnOwnThread() const { return std::this_thread::get_id() == threadId_; }

  private:
    PlayerPort();
    bool Start();
    bool OpenDecoder(int codec);
    void Enqueue(UnitBatch& batch);
    void Run();
    void Decode(const AVPacket* unit);
    void Present();
    void DrawIntoTarget();
    MV_Picture Describe(const uint32_t* pixels, int width, int height, int stride) const;

    // Input side, serialised for calls from several threads.
    std::mutex inputMutex_;
    UnitSplitter splitter_;
    std::atomic<bool> closing_{false};

    // The queue between the input and the port's thread.
    std::mutex queueMutex_;
    std::condition_variable queueWake_;
    std::deque<PacketPtr> queue_;
    size_t queueBytes_ = 0;
    bool overflowed_ = false;  // dropping until a key frame
    bool stop_ = false;

    // The sink or target (none while its functions are null; MV_PlayEx and MV_PlayInto refuse
    // one without them); the lock is held while a picture is drawn and presented so that
    // replacing or detaching them waits for a running call.
    std::mutex sinkMutex_;
    MV_RenderSink sink_{};
    MV_DrawTarget target_{};
    bool closed_ = false;

    // The port's thread only.
    AVCodecContext* decoder_ = nullptr;
    int decoderCodec_ = MV_CODEC_H264;
    AVFrame* decoded_ = nullptr;
    AVFrame* newest_ = nullptr;  // the newest picture, kept for display
    // Held while the port's thread replaces newest_ and while another thread copies it out;
    // the port's thread reads it without.
    std::mutex newestMutex_;
    PictureScaler copyScaler_;  // under newestMutex_
    bool newestShown_ = true;
    bool waitKey_ = false;  // after a decoding error
    std::chrono::steady_clock::time_point lastShown_{};
    PictureScaler scaler_;

    std::thread thread_;
    std::thread::id threadId_;

    std::atomic<uint64_t> bytesIn_{0};
    std::atomic<uint64_t> unitsIn_{0};
    std::atomic<uint64_t> unitsDropped_{0};
    std::atomic<uint64_t> picturesDecoded_{0};
    std::atomic<uint64_t> picturesPresented_{0};
    std::atomic<uint64_t> picturesSkipped_{0};
    std::atomic<uint64_t> decodeErrors_{0};
    std::atomic<uint32_t> queuedUnits_{0};
    std::atomic<uint32_t> queuedBytes_{0};
};

}  // namespace movra
