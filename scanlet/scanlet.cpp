// scanlet: broadcasts the camera search request and keeps a table of the
// cameras that answered.
#include "scanlet.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>

#include "scanlet_sys.h"
#ifdef SCANLET_TEST_HOOKS
#include "scanlet_test_hooks.h"
#endif

namespace scanlet {
namespace {

constexpr std::uint32_t kMagic = 0x48585847;  // "GXXH"
constexpr std::uint32_t kHeaderLength = 12;
constexpr std::uint32_t kSearchCommand = 40001117;
constexpr std::uint32_t kSearchAnswer = 40002117;
constexpr std::uint16_t kRequestPort = 6001;
constexpr std::uint16_t kAnswerPort = 6002;
constexpr std::uint32_t kBroadcast = 0xFFFFFFFFu;
constexpr int kReceiveTimeoutMs = 1000;
constexpr std::size_t kReceiveSize = 1000;
constexpr std::size_t kRecordSize = 502;
constexpr std::size_t kAnswerCodeOffset = 8;
constexpr std::size_t kIdentityOffset = 57;
constexpr std::int32_t kMaxPrefix = 0x100000;
constexpr int kSlotCount = 1000;
constexpr std::uint32_t kAliveMs = 15000;
constexpr std::uint32_t kRequestEveryMs = 6000;
constexpr std::uint32_t kSweepEveryMs = 1000;
constexpr auto kStopWait = std::chrono::seconds(30);

struct TextField {
    std::size_t recordOffset;
    std::size_t infoOffset;
    std::size_t width;
};

constexpr TextField kFields[] = {
    {255, offsetof(DeviceInfo, address), sizeof(DeviceInfo::address)},
    {288, offsetof(DeviceInfo, info2), sizeof(DeviceInfo::info2)},
    {16, offsetof(DeviceInfo, info3), sizeof(DeviceInfo::info3)},
    {kIdentityOffset, offsetof(DeviceInfo, identity), sizeof(DeviceInfo::identity)},
    {75, offsetof(DeviceInfo, info5), sizeof(DeviceInfo::info5)},
    {91, offsetof(DeviceInfo, info6), sizeof(DeviceInfo::info6)},
    {107, offsetof(DeviceInfo, info7), sizeof(DeviceInfo::info7)},
    {123, offsetof(DeviceInfo, info8), sizeof(DeviceInfo::info8)},
    {139, offsetof(DeviceInfo, info9), sizeof(DeviceInfo::info9)},
};

struct Slot {
    std::uint8_t record[kRecordSize];
    std::uint32_t time;  // tick of the last accepted answer
    // Set once the slot has been seen dead, so a slot that stays silent for
    // 2^32 ms does not come back to life when the tick difference wraps.
    bool expired;
};

struct Table {
    std::mutex lock;
    Slot slots[kSlotCount];
    int count = 0;  // slots in use, filled in order
    std::uint32_t lastSweep = 0;
};

struct Control {
    std::mutex lock;  // serialises start and stop
    std::condition_variable ended;
    bool running = false;     // started and not yet asked to stop
    bool threadLive = false;  // the receive thread has not finished
    std::thread thread;
    std::atomic<bool> stop{false};
};

// Allocated once and never freed: the receive thread may outlive static
// destruction if the program exits without stopping the library. The slots
// are left unwritten (no "()"): only slots below count are read, each filled
// whole when taken, so the pages of slots never taken are never made resident.
Table& TheTable() {
    static Table* table = new Table;
    return *table;
}

Control& TheControl() {
    static Control* control = new Control();
    return *control;
}

#ifdef SCANLET_TEST_HOOKS
std::atomic<std::uint32_t (*)()> g_tickSource{nullptr};
std::uint32_t Now() {
    auto tick = g_tickSource.load();
    return tick ? tick() : sys::Tick();
}
#else
std::uint32_t Now() {
    return sys::Tick();
}
#endif

std::uint32_t ReadLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void WriteLe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Alive within 15 s of its last answer; marks the slot expired once it is not.
bool Alive(Slot& slot, std::uint32_t now) {
    if (slot.expired)
        return false;
    if (now - slot.time > kAliveMs) {
        slot.expired = true;
        return false;
    }
    return true;
}

// Identity texts compared up to their NUL, but never past the record's end.
bool SameIdentity(const std::uint8_t* a, const std::uint8_t* b) {
    return std::strncmp(reinterpret_cast<const char*>(a + kIdentityOffset),
                        reinterpret_cast<const char*>(b + kIdentityOffset),
                        kRecordSize - kIdentityOffset) == 0;
}

void Fill(Slot& slot, const std::uint8_t* record, std::uint32_t now) {
    std::memcpy(slot.record, record, kRecordSize);
    slot.time = now;
    slot.expired = false;
}

void Store(const std::uint8_t* record) {
    Table& t = TheTable();
    std::lock_guard<std::mutex> guard(t.lock);
    std::uint32_t now = Now();
    for (int i = 0; i < t.count; ++i) {
        if (SameIdentity(t.slots[i].record, record)) {
            Fill(t.slots[i], record, now);
            return;
        }
    }
    if (t.count < kSlotCount) {
        Fill(t.slots[t.count++], record, now);
        return;
    }
    // Table full: a new camera takes the slot that has been silent longest,
    // provided it is dead; while all 1000 are alive the answer is dropped.
    Slot* oldest = nullptr;
    for (Slot& s : t.slots) {
        if (Alive(s, now))
            continue;
        if (!oldest || now - s.time > now - oldest->time)
            oldest = &s;
    }
    if (oldest)
        Fill(*oldest, record, now);
}

void Sweep() {
    Table& t = TheTable();
    std::lock_guard<std::mutex> guard(t.lock);
    std::uint32_t now = Now();
    if (now - t.lastSweep < kSweepEveryMs)
        return;
    t.lastSweep = now;
    for (int i = 0; i < t.count; ++i) Alive(t.slots[i], now);
}

void HandleDatagram(const std::uint8_t* data, std::size_t size) {
    if (size < kHeaderLength || ReadLe32(data) != kMagic)
        return;
    auto prefix = static_cast<std::int32_t>(ReadLe32(data + 4));
    if (prefix < 0 || prefix > kMaxPrefix || static_cast<std::size_t>(prefix) > size)
        return;
    std::uint8_t record[kRecordSize] = {};
    std::size_t available = size - static_cast<std::size_t>(prefix);
    std::memcpy(record, data + prefix, available < kRecordSize ? available : kRecordSize);
    if (ReadLe32(record + kAnswerCodeOffset) != kSearchAnswer)
        return;
    Store(record);
}

// One pass of the receive loop over what the socket gave (n < 0: nothing).
void Received(const std::uint8_t* buffer, int n) {
    if (n >= static_cast<int>(kHeaderLength))
        HandleDatagram(buffer, static_cast<std::size_t>(n));
    Sweep();
}

void ReceiveLoop(sys::Socket socket) {
    Control& c = TheControl();
    std::uint8_t request[13] = {};
    WriteLe32(request, kMagic);
    WriteLe32(request + 4, kHeaderLength);
    WriteLe32(request + 8, kSearchCommand);
    // A flag rather than "last send = 0": a tick below 6000 must not hold back
    // the first request.
    bool sent = false;
    std::uint32_t lastSend = 0;
    std::uint8_t buffer[kReceiveSize];
    while (!c.stop.load()) {
        std::uint32_t now = Now();
        if (!sent || now - lastSend > kRequestEveryMs) {
            sys::SendTo(socket, request, sizeof request, kBroadcast, kRequestPort);
            lastSend = now;
            sent = true;
        }
        std::memset(buffer, 0, sizeof buffer);
        Received(buffer, sys::Receive(socket, buffer, sizeof buffer));
    }
    sys::Close(socket);
    {
        std::lock_guard<std::mutex> guard(c.lock);
        c.threadLive = false;
    }
    c.ended.notify_all();
}

}  // namespace

#ifdef SCANLET_TEST_HOOKS
namespace test {

void SetTickSource(std::uint32_t (*tick)()) {
    g_tickSource.store(tick);
}

void Deliver(const void* data, std::size_t size) {
    // A datagram longer than the receive buffer fails the receive.
    Received(static_cast<const std::uint8_t*>(data),
             size <= kReceiveSize ? static_cast<int>(size) : -1);
}

void ResetTable() {
    Table& t = TheTable();
    std::lock_guard<std::mutex> guard(t.lock);
    std::memset(t.slots, 0, sizeof t.slots);
    t.count = 0;
    t.lastSweep = 0;
}

}  // namespace test
#endif

}  // namespace scanlet

using namespace scanlet;

extern "C" SCANLET_API int BSC_Init(void) {
    Control& c = TheControl();
    std::lock_guard<std::mutex> guard(c.lock);
    // One receive thread per process: a second start while running is a no-op,
    // and a thread that missed its stop deadline blocks a restart.
    if (c.running)
        return 1;
    if (c.threadLive)
        return 0;
    if (!sys::StartSockets())
        return 0;
    sys::Socket socket = sys::OpenBroadcastSocket(kAnswerPort, kReceiveTimeoutMs);
    if (socket == sys::kNoSocket)
        return 0;
    TheTable();  // construct before the thread uses it
    c.stop.store(false);
    try {
        c.thread = std::thread(ReceiveLoop, socket);
    } catch (...) {
        sys::Close(socket);
        return 0;
    }
    c.running = true;
    c.threadLive = true;
    return 1;
}

extern "C" SCANLET_API int BSC_GetNum(void) {
    Table& t = TheTable();
    std::lock_guard<std::mutex> guard(t.lock);
    std::uint32_t now = Now();
    int alive = 0;
    for (int i = 0; i < t.count; ++i) alive += Alive(t.slots[i], now) ? 1 : 0;
    return alive;
}

extern "C" SCANLET_API int BSC_GetDevInfo(DeviceInfo* devices, int* count) {
    if (!devices || !count)
        return 0;
    Table& t = TheTable();
    std::lock_guard<std::mutex> guard(t.lock);
    std::uint32_t now = Now();
    int capacity = *count;
    int written = 0;
    for (int i = 0; i < t.count && written < capacity; ++i) {
        Slot& slot = t.slots[i];
        if (!Alive(slot, now))
            continue;
        auto* out = reinterpret_cast<char*>(&devices[written++]);
        std::memset(out, 0, sizeof(DeviceInfo));
        for (const TextField& f : kFields) {
            // Each text is cut to its field and to the record, NUL or not.
            std::size_t limit = f.width - 1;
            if (kRecordSize - f.recordOffset < limit)
                limit = kRecordSize - f.recordOffset;
            const auto* src = reinterpret_cast<const char*>(slot.record + f.recordOffset);
            std::size_t len = 0;
            while (len < limit && src[len] != '\0') ++len;
            std::memcpy(out + f.infoOffset, src, len);
        }
    }
    *count = written;
    return 1;
}

extern "C" SCANLET_API int BSC_DeInit(void) {
    Control& c = TheControl();
    std::unique_lock<std::mutex> lock(c.lock);
    if (!c.running)
        return 1;
    c.running = false;
    c.stop.store(true);
    bool ended = c.ended.wait_for(lock, kStopWait, [&c] { return !c.threadLive; });
    if (ended) {
        c.thread.join();
    } else {
        c.thread.detach();  // it still closes its socket once its receive returns
    }
    return ended ? 1 : 0;
}
