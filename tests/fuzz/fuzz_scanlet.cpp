// Discovery answers as the receive thread takes them from the socket, with the
// tick driven by the input. After every step the camera table must hand out
// terminated texts, agree with its own count, keep one slot per identity, and
// list every answer it accepted.
//
// Input: U32 start tick, then steps: a byte choosing the step and its data.
//   0xF0        a flood of U16 (mod 1100) distinct cameras (slow: once per input)
//   else mod 4: 0, 1 datagram: U16 length (mod 1100), then that many bytes
//               2    time passes: U16 * 8 ms
//               3    time jumps: U32 ms
#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "scanlet.h"
#include "scanlet_test_hooks.h"

namespace {

constexpr uint32_t kMagic = 0x48585847;  // "GXXH"
constexpr uint32_t kAnswerCode = 40002117;
constexpr size_t kRecordSize = 502;
constexpr int kSlots = 1000;

std::atomic<uint32_t> g_now{0};
uint32_t Tick() {
    return g_now.load();
}

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<DeviceInfo>& Listing() {
    static std::vector<DeviceInfo> v(kSlots + 1);
    return v;
}

int List() {
    auto& v = Listing();
    int count = kSlots;
    fuzz::Check(BSC_GetDevInfo(v.data(), &count) == 1, "GetDevInfo refused");
    return count;
}

// A text of the record as the library hands it out: up to width - 1 bytes.
std::string Cut(const uint8_t* record, size_t offset, size_t width) {
    std::string s;
    for (size_t i = offset; i < kRecordSize && s.size() < width - 1 && record[i]; ++i)
        s.push_back(static_cast<char>(record[i]));
    return s;
}

void CheckTable() {
    int alive = BSC_GetNum();
    int count = List();
    fuzz::Check(alive >= 0 && alive <= kSlots, "alive count out of range", alive);
    fuzz::Check(count == alive, "listing disagrees with the count", count, alive);
    const auto& v = Listing();
    std::vector<std::string> identities;
    for (int i = 0; i < count; ++i) {
        const DeviceInfo& d = v[static_cast<size_t>(i)];
        fuzz::Check(fuzz::Terminated(d.address, sizeof d.address) &&
                        fuzz::Terminated(d.info2, sizeof d.info2) &&
                        fuzz::Terminated(d.info3, sizeof d.info3) &&
                        fuzz::Terminated(d.identity, sizeof d.identity) &&
                        fuzz::Terminated(d.info5, sizeof d.info5) &&
                        fuzz::Terminated(d.info6, sizeof d.info6) &&
                        fuzz::Terminated(d.info7, sizeof d.info7) &&
                        fuzz::Terminated(d.info8, sizeof d.info8) &&
                        fuzz::Terminated(d.info9, sizeof d.info9),
                    "unterminated text", i);
        // Whole identities (not cut by the field) name one slot each.
        if (std::strlen(d.identity) < sizeof d.identity - 1)
            identities.emplace_back(d.identity);
    }
    std::sort(identities.begin(), identities.end());
    fuzz::Check(std::adjacent_find(identities.begin(), identities.end()) == identities.end(),
                "one identity in two slots");
    // A small array gets at most its capacity.
    DeviceInfo few[2];
    int capacity = 2;
    fuzz::Check(BSC_GetDevInfo(few, &capacity) == 1 && capacity == std::min(alive, 2),
                "short listing", capacity, alive);
}

// The record an answer carries, or false when the library must ignore it.
bool AcceptedRecord(const std::string& d, uint8_t record[kRecordSize]) {
    if (d.size() < 12 || d.size() > 1000)
        return false;
    const auto* p = reinterpret_cast<const uint8_t*>(d.data());
    auto prefix = static_cast<int32_t>(Le32(p + 4));
    if (Le32(p) != kMagic || prefix < 0 || static_cast<size_t>(prefix) > d.size())
        return false;
    std::memset(record, 0, kRecordSize);
    size_t n = std::min(d.size() - static_cast<size_t>(prefix), kRecordSize);
    std::memcpy(record, p + prefix, n);
    return Le32(record + 8) == kAnswerCode;
}

void Deliver(const std::string& datagram) {
    int aliveBefore = BSC_GetNum();
    // Exactly the datagram's bytes, so a read past its end is caught.
    std::vector<uint8_t> bytes(datagram.begin(), datagram.end());
    scanlet::test::Deliver(bytes.data(), bytes.size());
    uint8_t record[kRecordSize];
    if (!AcceptedRecord(datagram, record) || aliveBefore >= kSlots)
        return;  // with every slot alive a new camera is dropped
    std::string identity = Cut(record, 57, sizeof(DeviceInfo::identity));
    std::string address = Cut(record, 255, sizeof(DeviceInfo::address));
    int count = List();
    const auto& v = Listing();
    for (int i = 0; i < count; ++i) {
        if (identity == v[static_cast<size_t>(i)].identity &&
            address == v[static_cast<size_t>(i)].address)
            return;
    }
    fuzz::Fail("accepted answer not listed", static_cast<long>(datagram.size()));
}

void Flood(int cameras) {
    static unsigned serial = 0;
    std::string d(12 + kRecordSize, '\0');
    auto* p = reinterpret_cast<uint8_t*>(d.data());
    PutLe32(p, kMagic);
    PutLe32(p + 4, 12);
    PutLe32(p + 12 + 8, kAnswerCode);
    for (int i = 0; i < cameras; ++i) {
        std::string id = "flood-" + std::to_string(serial++ % 5000);
        std::memset(p + 12 + 57, 0, 20);
        std::memcpy(p + 12 + 57, id.data(), id.size());
        scanlet::test::Deliver(p, d.size());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    scanlet::test::SetTickSource(Tick);
    scanlet::test::ResetTable();
    g_now = in.U32();
    int steps = 0;
    bool flooded = false;
    while (!in.Empty() && steps++ < 256) {
        uint8_t step = in.Byte();
        if (step == 0xF0 && !flooded) {
            flooded = true;
            Flood(in.U16() % 1100);
            CheckTable();
            continue;
        }
        switch (step % 4) {
            case 0:
            case 1:
                Deliver(in.Take(in.U16() % 1100));
                break;
            case 2:
                g_now += static_cast<uint32_t>(in.U16()) * 8;
                break;
            case 3:
                g_now += in.U32();
                break;
        }
        CheckTable();
    }
    return 0;
}
