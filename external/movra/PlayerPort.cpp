#include "PlayerPort.h"

#include <algorithm>
#include <new>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

namespace movra {

namespace {

using Clock = std::chrono::steady_clock;

// While the decoder is behind, a picture is still shown at least this often.
constexpr auto kLongestHold = std::chrono::milliseconds(50);

const AVCodec* FindDecoder(int codec) {
    return avcodec_find_decoder(codec == MV_CODEC_H265 ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264);
}

}  // namespace

PlayerPort::PlayerPort() = default;

std::shared_ptr<PlayerPort> PlayerPort::Create() {
    static std::once_flag quiet;
    std::call_once(quiet, [] {
        // Damaged input is counted per port; the decoder's own complaints would flood stderr.
        if (av_log_get_level() > AV_LOG_FATAL)
            av_log_set_level(AV_LOG_FATAL);
    });
    std::shared_ptr<PlayerPort> port(new (std::nothrow) PlayerPort());
    if (!port || !port->Start())
        return nullptr;
    return port;
}

bool PlayerPort::OpenDecoder(int codec) {
    avcodec_free_context(&decoder_);
    decoderCodec_ = codec;
    const AVCodec* decoder = FindDecoder(codec);
    if (!decoder || !(decoder_ = avcodec_alloc_context3(decoder)))
        return false;
    // Every picture out as soon as it is decoded: no reordering delay, no frame threads.
    decoder_->flags |= AV_CODEC_FLAG_LOW_DELAY;
    // Pictures from before a key frame refer to pictures this port never saw.
    decoder_->flags &= ~AV_CODEC_FLAG_OUTPUT_CORRUPT;
    decoder_->thread_count = 1;
    if (avcodec_open2(decoder_, decoder, nullptr) < 0) {
        avcodec_free_context(&decoder_);
        return false;
    }
    return true;
}

bool PlayerPort::Start() {
    if (!splitter_.Open())
        return false;
    decoded_ = av_frame_alloc();
    newest_ = av_frame_alloc();
    if (!decoded_ || !newest_ || !OpenDecoder(MV_CODEC_H264))
        return false;
    try {
        thread_ = std::thread(&PlayerPort::Run, this);
    } catch (...) {
        return false;
    }
    threadId_ = thread_.get_id();
    return true;
}

PlayerPort::~PlayerPort() {
    Close();
    if (thread_.joinable())
        thread_.detach();  // only when the last reference went away on the port's own thread
    av_frame_free(&newest_);
    av_frame_free(&decoded_);
    avcodec_free_context(&decoder_);
}

void PlayerPort::Close() {
    closing_ = true;
    {
        std::lock_guard lock(sinkMutex_);
        sink_ = MV_RenderSink{};
        target_ = MV_DrawTarget{};
        closed_ = true;
    }
    {
        std::lock_guard lock(queueMutex_);
        stop_ = true;
        queue_.clear();
        queueBytes_ = 0;
    }
    queueWake_.notify_all();
    if (thread_.joinable() && !OnOwnThread())
        thread_.join();
}

int32_t PlayerPort::Input(const uint8_t* data, uint32_t length, int64_t tag) {
    if (closing_)
        return MV_ERR_NOT_OPEN;
    UnitBatch batch;
    std::lock_guard lock(inputMutex_);
    bytesIn_ += length;
    splitter_.Feed(data, length, tag, &batch);
    unitsIn_ += batch.found;
    unitsDropped_ += batch.dropped;
    // Queued under the input lock so that units of concurrent calls keep their order.
    if (!batch.units.empty())
        Enqueue(batch);
    return MV_OK;
}

int32_t PlayerPort::SetCodec(int32_t codec) {
    if (codec != MV_CODEC_H264 && codec != MV_CODEC_H265)
        return MV_ERR_BAD_ARGUMENT;
    if (closing_)
        return MV_ERR_NOT_OPEN;
    std::lock_guard lock(inputMutex_);
    if (codec == splitter_.codec())
        return MV_OK;
    if (!FindDecoder(codec))
        return MV_ERR_NO_RESOURCES;
    if (!splitter_.SetCodec(codec))
        return MV_ERR_NO_RESOURCES;
    // What is queued belongs to the old codec; the port's thread reopens its decoder at the
    // first unit of the new one.
    uint64_t dropped = 0;
    {
        std::lock_guard queueLock(queueMutex_);
        dropped = queue_.size();
        queue_.clear();
        queueBytes_ = 0;
        overflowed_ = false;
        queuedUnits_ = 0;
        queuedBytes_ = 0;
    }
    unitsDropped_ += dropped;
    return MV_OK;
}

void PlayerPort::Enqueue(UnitBatch& batch) {
    uint64_t dropped = 0;
    {
        std::lock_guard lock(queueMutex_);
        for (PacketPtr& unit : batch.units) {
            const size_t size = static_cast<size_t>(unit->size);
            const bool key = unit->flags & AV_PKT_FLAG_KEY;
            const bool full = queue_.size() >= MV_QUEUE_MAX_UNITS ||
                              (!queue_.empty() && queueBytes_ + size > MV_QUEUE_MAX_BYTES);
            if (stop_) {
                ++dropped;
                continue;
            }
            if (overflowed_ || full) {
                if (!key) {
                    // Later units refer to this one: drop everything up to the next key frame.
                    overflowed_ = true;
                    ++dropped;
                    continue;
                }
                // Nothing still queued is needed to decode a key frame; showing it sooner is.
                dropped += queue_.size();
                queue_.clear();
                queueBytes_ = 0;
                overflowed_ = false;
            }
            queueBytes_ += size;
            queue_.push_back(std::move(unit));
        }
        queuedUnits_ = static_cast<uint32_t>(queue_.size());
        queuedBytes_ = static_cast<uint32_t>(queueBytes_);
    }
    unitsDropped_ += dropped;
    queueWake_.notify_one();
}

int32_t PlayerPort::SetOutput(const MV_RenderSink* sink, const MV_DrawTarget* target) {
    std::lock_guard lock(sinkMutex_);
    if (closed_)
        return MV_ERR_NOT_OPEN;
    sink_ = sink ? *sink : MV_RenderSink{};
    target_ = target ? *target : MV_DrawTarget{};
    return MV_OK;
}

void PlayerPort::GetStats(MV_Stats* stats) {
    stats->bytesIn = bytesIn_;
    stats->unitsIn = unitsIn_;
    stats->unitsDropped = unitsDropped_;
    stats->picturesDecoded = picturesDecoded_;
    stats->picturesPresented = picturesPresented_;
    stats->picturesSkipped = picturesSkipped_;
    stats->decodeErrors = decodeErrors_;
    stats->queuedUnits = queuedUnits_;
    stats->queuedBytes = queuedBytes_;
}

int32_t PlayerPort::GetLastFrame(const MV_Image* image, int32_t* width, int32_t* height) {
    std::lock_guard lock(newestMutex_);
    if (!newest_->width || !newest_->height)
        return MV_ERR_NO_PICTURE;
    *width = newest_->width;
    *height = newest_->height;
    if (!image)
        return MV_OK;
    if (!image->pixels || image->width < newest_->width || image->height < newest_->height ||
        image->stride < newest_->width * 4)
        return MV_ERR_BAD_ARGUMENT;
    // The picture's own pixels: no bars, whatever its sample aspect says.
    Image into{image->pixels, newest_->width, newest_->height, image->stride};
    // A shallow copy: the port's thread may read newest_ meanwhile (not under the lock).
    AVFrame square = *newest_;
    square.sample_aspect_ratio = AVRational{1, 1};
    return copyScaler_.DrawInto(&square, into) ? MV_OK : MV_ERR_NO_RESOURCES;
}

void PlayerPort::Run() {
    for (;;) {
        PacketPtr unit;
        {
            std::unique_lock lock(queueMutex_);
            while (!stop_ && queue_.empty()) {
                if (!newestShown_) {
                    // Caught up: show the picture that was held back for a newer one.
                    lock.unlock();
                    Present();
                    lock.lock();
                    continue;
                }
                queueWake_.wait(lock);
            }
            if (stop_)
                return;
            unit = std::move(queue_.front());
            queue_.pop_front();
            queueBytes_ -= static_cast<size_t>(unit->size);
            queuedUnits_ = static_cast<uint32_t>(queue_.size());
            queuedBytes_ = static_cast<uint32_t>(queueBytes_);
        }
        Decode(unit.get());
        unit.reset();
        // A picture that the next queued one replaces is not worth converting, unless the
        // decoder has been behind for a while.
        if (!newestShown_ && (queuedUnits_ == 0 || Clock::now() - lastShown_ >= kLongestHold))
            Present();
    }
}

void PlayerPort::Decode(const AVPacket* unit) {
    if (unit->stream_index != decoderCodec_ || !decoder_) {
        // The splitter hands over a key frame first after a change of codec.
        waitKey_ = false;
        if (!OpenDecoder(unit->stream_index)) {
            ++decodeErrors_;
            return;
        }
    }
    if (waitKey_ && !(unit->flags & AV_PKT_FLAG_KEY)) {
        ++unitsDropped_;
        return;
    }
    waitKey_ = false;
    if (avcodec_send_packet(decoder_, unit) < 0) {
        ++decodeErrors_;
        waitKey_ = true;
    }
    while (avcodec_receive_frame(decoder_, decoded_) >= 0) {
        if (decoded_->decode_error_flags || (decoded_->flags & AV_FRAME_FLAG_CORRUPT)) {
            // Concealed damage would spread to every picture up to the next key frame.
            ++decodeErrors_;
            waitKey_ = true;
            av_frame_unref(decoded_);
            continue;
        }
        ++picturesDecoded_;
        if (!newestShown_)
            ++picturesSkipped_;
        {
            std::lock_guard lock(newestMutex_);
            av_frame_unref(newest_);
            av_frame_move_ref(newest_, decoded_);
        }
        newestShown_ = false;
    }
}

void PlayerPort::Present() {
    newestShown_ = true;
    lastShown_ = Clock::now();
    std::lock_guard lock(sinkMutex_);
    if (!newest_->width)
        return;
    if (target_.lock) {
        DrawIntoTarget();
        return;
    }
    if (!sink_.present)
        return;
    int32_t width = newest_->width;
    int32_t height = newest_->height;
    if (sink_.size) {
        width = height = 0;
        sink_.size(sink_.user, &width, &height);
    }
    width = std::min<int32_t>(width, MV_MAX_TARGET_SIDE);
    height = std::min<int32_t>(height, MV_MAX_TARGET_SIDE);
    if (width <= 0 || height <= 0 || !scaler_.Draw(newest_, width, height))
        return;
    const MV_Picture picture =
        Describe(scaler_.pixels(), scaler_.width(), scaler_.height(), scaler_.stride());
    sink_.present(sink_.user, &picture);
    ++picturesPresented_;
}

void PlayerPort::DrawIntoTarget() {
    // The image's size is read under the program's lock and drawn before it is let go, so a
    // resize of the target can never leave the player writing to the old size.
    MV_Image locked{};
    if (!target_.lock(target_.user, &locked))
        return;
    Image image;
    image.pixels = locked.pixels;
    image.width = std::min<int32_t>(locked.width, MV_MAX_TARGET_SIDE);
    image.height = std::min<int32_t>(locked.height, MV_MAX_TARGET_SIDE);
    image.stride = locked.stride;
    if (!scaler_.DrawInto(newest_, image)) {
        target_.unlock(target_.user, nullptr);
        return;
    }
    const MV_Picture picture = Describe(image.pixels, image.width, image.height, image.stride);
    target_.unlock(target_.user, &picture);
    ++picturesPresented_;
}

MV_Picture PlayerPort::Describe(const uint32_t* pixels, int width, int height, int stride) const {
    MV_Picture picture{};
    picture.pixels = pixels;
    picture.width = width;
    picture.height = height;
    picture.stride = stride;
    picture.tag = newest_->pts == AV_NOPTS_VALUE ? 0 : newest_->pts;
    picture.videoX = scaler_.video().x;
    picture.videoY = scaler_.video().y;
    picture.videoWidth = scaler_.video().width;
    picture.videoHeight = scaler_.video().height;
    picture.sourceWidth = newest_->width;
    picture.sourceHeight = newest_->height;
    return picture;
}

}  // namespace movra
