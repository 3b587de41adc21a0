// The stream player's input path: stream data in pieces of any size and
// content (splitting into access units, the bounded queue, waiting for a key
// frame after damage), pictures handed to a sink or drawn into the program's
// image, of any size, and a port closed and opened again in the middle. FFmpeg's decoder itself is
// fuzzed elsewhere; here the player around it must keep its limits and counters, and nothing may
// reach the sink once the port is closed.
//
// Input: Byte target width / 8, Byte target height / 8 (0: a hidden target),
// Byte options (1 tagged input, 2 reopen the port after half the pieces, 4 no
// size function, 8 draw into an image instead of a sink, 16 H.265, 32 change the
// codec after a third of the pieces), then pieces: U16 length (mod 8192) and
// that many bytes.
#include <atomic>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "movra.h"

namespace {

struct Sink {
    int32_t width = 0, height = 0;
    std::atomic<bool> closed{false};
    std::atomic<int> presented{0};
    std::mutex mu;
    std::set<int64_t> tags{0};
};

void Size(void* user, int32_t* width, int32_t* height) {
    auto* s = static_cast<Sink*>(user);
    *width = s->width;
    *height = s->height;
}

void Present(void* user, const MV_Picture* p) {
    auto* s = static_cast<Sink*>(user);
    fuzz::Check(!s->closed.load(), "picture after the port was closed");
    fuzz::Check(p && p->pixels && p->width > 0 && p->height > 0, "empty picture");
    fuzz::Check(p->width <= MV_MAX_TARGET_SIDE && p->height <= MV_MAX_TARGET_SIDE,
                "picture too large", p->width, p->height);
    fuzz::Check(p->stride >= p->width * 4, "stride shorter than a row", p->stride, p->width);
    fuzz::Check(p->videoX >= 0 && p->videoY >= 0 && p->videoWidth >= 0 && p->videoHeight >= 0 &&
                    p->videoX + p->videoWidth <= p->width &&
                    p->videoY + p->videoHeight <= p->height,
                "video outside the target");
    {
        std::lock_guard<std::mutex> lock(s->mu);
        fuzz::Check(s->tags.count(p->tag) == 1, "tag that was never given",
                    static_cast<long>(p->tag));
    }
    uint32_t sum = 0;  // every pixel must be readable
    for (int32_t y = 0; y < p->height; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(
            reinterpret_cast<const uint8_t*>(p->pixels) +
            static_cast<size_t>(y) * static_cast<size_t>(p->stride));
        for (int32_t x = 0; x < p->width; ++x) sum += row[x];
    }
    (void)sum;
    ++s->presented;
}

// The program's image for MV_PlayInto: rows padded, a guard after the last
// one; the player may write only the image's own pixels.
constexpr uint32_t kCanary = 0x5a5a5a5au;
constexpr int32_t kPad = 3;
constexpr size_t kGuard = 64;

struct Target {
    Sink* sink = nullptr;
    std::vector<uint32_t> buffer;
    int32_t stridePixels = 0;
    bool locked = false;
};

bool GuardIntact(const Target& t, int32_t width, int32_t height) {
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = width; x < t.stridePixels; ++x)
            if (t.buffer[static_cast<size_t>(y) * t.stridePixels + x] != kCanary)
                return false;
    for (size_t i = static_cast<size_t>(height) * t.stridePixels; i < t.buffer.size(); ++i)
        if (t.buffer[i] != kCanary)
            return false;
    return true;
}

int32_t LockImage(void* user, MV_Image* image) {
    auto* t = static_cast<Target*>(user);
    fuzz::Check(!t->sink->closed.load(), "target locked after the port was closed");
    fuzz::Check(!t->locked, "target locked twice");
    const int32_t width = t->sink->width, height = t->sink->height;
    if (width == 0 || height == 0)
        return 0;
    t->locked = true;
    image->pixels = t->buffer.data();
    image->width = width;
    image->height = height;
    image->stride = t->stridePixels * 4;
    return 1;
}

void UnlockImage(void* user, const MV_Picture* p) {
    auto* t = static_cast<Target*>(user);
    fuzz::Check(t->locked, "target unlocked without a lock");
    t->locked = false;
    const int32_t width = t->sink->width, height = t->sink->height;
    fuzz::Check(GuardIntact(*t, width, height), "write outside the image");
    if (!p)
        return;
    fuzz::Check(p->pixels == t->buffer.data() && p->width == width && p->height == height &&
                    p->stride == t->stridePixels * 4,
                "picture is not the image it was drawn into");
    Present(t->sink, p);
}

void CheckStats(int32_t port, uint64_t bytesIn) {
    MV_Stats st;
    fuzz::Check(MV_GetStats(port, &st) == MV_OK, "statistics refused");
    fuzz::Check(st.bytesIn == bytesIn, "bytes counted", static_cast<long>(st.bytesIn),
                static_cast<long>(bytesIn));
    fuzz::Check(st.unitsDropped <= st.unitsIn, "more units dropped than found");
    fuzz::Check(st.queuedUnits <= MV_QUEUE_MAX_UNITS && st.queuedBytes <= MV_QUEUE_MAX_BYTES,
                "queue over its limit", st.queuedUnits, st.queuedBytes);
    fuzz::Check(st.picturesPresented <= st.picturesDecoded, "more pictures shown than decoded");
}

// Points the port at the sink, or at the image when there is one.
void Show(int32_t port, Sink& sink, bool sizeFunction, Target* target) {
    if (target) {
        MV_DrawTarget draw{target, LockImage, UnlockImage};
        fuzz::Check(MV_PlayInto(port, &draw) == MV_OK, "target refused");
        return;
    }
    MV_RenderSink window{&sink, sizeFunction ? Size : nullptr, Present};
    fuzz::Check(MV_PlayEx(port, &window) == MV_OK, "sink refused");
}

int32_t Open(Sink& sink, bool sizeFunction, Target* target) {
    int32_t port = MV_OpenStream(0, 0);
    fuzz::Check(port >= 0, "no port", port);
    Show(port, sink, sizeFunction, target);
    return port;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    Sink sink;
    sink.width = in.Byte() * 8;
    sink.height = in.Byte() * 8;
    uint8_t options = in.Byte();
    const bool tagged = options & 1, reopen = options & 2, sizeFunction = !(options & 4);
    Target image;
    Target* target = nullptr;
    if (options & 8) {
        image.sink = &sink;
        image.stridePixels = sink.width + kPad;
        image.buffer.assign(static_cast<size_t>(image.stridePixels) * sink.height + kGuard,
                            kCanary);
        target = &image;
    }

    std::vector<std::string> pieces;
    while (!in.Empty()) pieces.push_back(in.Take(in.U16() % 8192));

    const int32_t codec = options & 16 ? MV_CODEC_H265 : MV_CODEC_H264;
    int32_t port = Open(sink, sizeFunction, target);
    fuzz::Check(MV_SetStreamCodec(port, codec) == MV_OK, "codec refused", codec);
    uint64_t bytesIn = 0;
    for (size_t i = 0; i < pieces.size(); ++i) {
        if ((options & 32) && i == pieces.size() / 3)
            fuzz::Check(MV_SetStreamCodec(port, MV_CODEC_H265 - codec) == MV_OK,
                        "codec change refused");
        if (reopen && i == pieces.size() / 2) {
            fuzz::Check(MV_VideoClose(port) == MV_OK, "close failed");
            int32_t old = port;
            port = MV_OpenStream(0, 0);
            fuzz::Check(port >= 0 && port != old, "reopened port reuses the old number", port, old);
            // The closed stream's number no longer feeds anything.
            fuzz::Check(MV_VideoInputData(old, reinterpret_cast<const uint8_t*>("\0\0\1"), 3) < 0,
                        "data accepted for a closed port");
            Show(port, sink, sizeFunction, target);
            bytesIn = 0;
        }
        const auto* bytes = reinterpret_cast<const uint8_t*>(pieces[i].data());
        const auto length = static_cast<uint32_t>(pieces[i].size());
        int32_t rc;
        if (tagged) {
            {
                std::lock_guard<std::mutex> lock(sink.mu);
                sink.tags.insert(static_cast<int64_t>(i + 1));
            }
            rc = MV_VideoInputDataTagged(port, bytes, length, static_cast<int64_t>(i + 1));
        } else {
            rc = MV_VideoInputData(port, bytes, length);
        }
        fuzz::Check(rc == MV_OK, "input refused", rc);
        bytesIn += length;
        CheckStats(port, bytesIn);
    }
    fuzz::Check(MV_VideoClose(port) == MV_OK, "close failed");
    sink.closed = true;
    fuzz::Check(MV_VideoInputData(port, reinterpret_cast<const uint8_t*>("\0\0\1"), 3) < 0,
                "data accepted after close");
    return 0;
}
