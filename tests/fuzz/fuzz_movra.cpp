// The stream player's input path: stream data in pieces of any size and
// content (splitting into access units, the bounded queue, waiting for a key
// frame after damage), pictures drawn into a sink of any size, and a port
// closed and opened again in the middle. FFmpeg's decoder itself is fuzzed
// elsewhere; here the player around it must keep its limits and counters, and
// nothing may reach the sink once the port is closed.
//
// Input: Byte target width / 8, Byte target height / 8 (0: a hidden target),
// Byte options (1 tagged input, 2 reopen the port after half the pieces, 4 no
// size function), then pieces: U16 length (mod 8192) and that many bytes.
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

// Opens a port drawing into the sink.
int32_t Open(Sink& sink, bool sizeFunction) {
    int32_t port = MV_OpenStream(0, 0);
    fuzz::Check(port >= 0, "no port", port);
    MV_RenderSink window{&sink, sizeFunction ? Size : nullptr, Present};
    fuzz::Check(MV_PlayEx(port, &window) == MV_OK, "sink refused");
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

    std::vector<std::string> pieces;
    while (!in.Empty()) pieces.push_back(in.Take(in.U16() % 8192));

    int32_t port = Open(sink, sizeFunction);
    uint64_t bytesIn = 0;
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (reopen && i == pieces.size() / 2) {
            fuzz::Check(MV_VideoClose(port) == MV_OK, "close failed");
            int32_t old = port;
            port = MV_OpenStream(0, 0);
            fuzz::Check(port >= 0 && port != old, "reopened port reuses the old number", port, old);
            // The closed stream's number no longer feeds anything.
            fuzz::Check(MV_VideoInputData(old, reinterpret_cast<const uint8_t*>("\0\0\1"), 3) < 0,
                        "data accepted for a closed port");
            MV_RenderSink window{&sink, sizeFunction ? Size : nullptr, Present};
            fuzz::Check(MV_PlayEx(port, &window) == MV_OK, "sink refused");
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
