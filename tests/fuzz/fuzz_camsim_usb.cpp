// camsim's HID link read from a client whose bytes come from the input: the
// request line, then length-prefixed reports (the camera's FDTH request
// reader and its command handling). After the input's reports the harness
// sends one well-formed request of its own; camsim must answer it, so a
// request that stalls or kills the link is found, and every answer report must
// be well-formed. Runs on loopback inside the private network namespace.
//
// Input: Byte report length of camera 1 (18 + n), Byte request line (mod 4:
// open camera 0, open camera 1, list, or a piece with any line of up to 6000
// bytes), then reports:
// U16 length (mod 700) and that many bytes.
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "CameraModel.h"
#include "Camsim.h"
#include "FuzzHid.h"
#include "FuzzInput.h"
#include "LoopbackClient.h"
#include "UsbSim.h"

namespace {

constexpr uint32_t kSentinel = 0xFFFFFFF0u;  // a command code no camera knows
constexpr int kWaitMs = 20000;               // far past any answer, even on a loaded machine

camsim::UsbCamera Camera(const char* name, int reportLength) {
    camsim::UsbCamera c;
    c.name = name;
    c.model = "CAMSIM-U1";
    c.serial = "SN0001";
    c.buildDate = "2024-01-01";
    c.reportLength = reportLength;
    c.state = std::make_shared<camsim::CameraModel>(name);
    const auto start = camsim::CameraModel::Clock::time_point{} + std::chrono::hours(1);
    c.state->SetClock([start] { return start; });
    return c;
}

// Reads answer reports until the sentinel's answer; checks each on the way.
void ReadAnswers(fuzz::LoopbackClient& client, size_t L) {
    std::string buf;
    for (;;) {
        int rc = client.ReadUntil(&buf, 2, kWaitMs);
        if (rc == 0)
            return;  // the camera dropped the link (unplugged by a command)
        fuzz::Check(rc == 1, "camsim stopped answering");
        size_t size = fuzz::GetLe(buf, 0, 2);
        rc = client.ReadUntil(&buf, 2 + size, kWaitMs);
        fuzz::Check(rc == 1, "answer report cut off");
        std::string r = buf.substr(2, size);
        buf.erase(0, 2 + size);
        fuzz::Check(r.size() == L, "answer report length", static_cast<long>(r.size()),
                    static_cast<long>(L));
        fuzz::Check(fuzz::GetLe(r, 1, 4) == strevo::kFrameMagic, "answer report without magic");
        fuzz::Check(fuzz::GetLe(r, 9, 2) <= L - 17, "answer chunk longer than its report",
                    fuzz::GetLe(r, 9, 2));
        if (fuzz::GetLe(r, 5, 4) == kSentinel && fuzz::GetLe(r, 11, 2) == 1)
            return;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    const size_t lengths[2] = {65, 18u + in.Byte()};
    camsim::UsbSimServer server;
    int port = server.Start({Camera("fuzz-0", 65), Camera("fuzz-1", static_cast<int>(lengths[1]))});
    fuzz::Check(port > 0, "HID link not served");
    for (size_t i = 0; i < 2; ++i) server.SetUpgradeTiming(i, 0, 0);  // flash and reboot at once
    fuzz::LoopbackClient client(port);
    fuzz::Check(client.Ok(), "HID link not reachable");

    int mode = in.Byte() % 4;
    std::string line = mode == 0   ? "OPEN camsim-usb-0"
                       : mode == 1 ? "OPEN camsim-usb-1"
                       : mode == 2 ? "LIST"
                                   : "";
    if (mode == 3) {
        // Any line without a line feed of its own, also one past the longest
        // that camsim reads (refused, then closed).
        for (char c : in.Piece().substr(0, 6000))
            if (c != '\n')
                line.push_back(c);
    }
    // camsim may refuse an over-long line before all of it is sent.
    fuzz::Check(client.Send(line + "\n") || line.size() > 4096, "request line not sent");
    std::string reply;
    int rc = client.ReadUntil(&reply, 1, kWaitMs);
    while (rc == 1 && reply.find('\n') == std::string::npos)
        rc = client.ReadUntil(&reply, reply.size() + 1, kWaitMs);
    fuzz::Check(rc != -1, "no answer to the request line");
    std::string first = reply.substr(0, reply.find('\n'));
    fuzz::Check(!reply.empty(), "link closed without an answer");
    if (first != "OK") {
        // A refusal is one line, a device list several; the server closes after either.
        fuzz::Check(client.ReadUntil(&reply, SIZE_MAX, kWaitMs) == 0,
                    "link not closed after the reply");
        fuzz::Check(first.rfind("ERR ", 0) != 0 || reply.size() == first.size() + 1,
                    "refusal longer than one line");
        server.Stop();
        return 0;
    }
    size_t L = lengths[line == "OPEN camsim-usb-0" || line == "OPEN camsim-usb-0\r" ? 0 : 1];
    std::string requests;
    while (!in.Empty()) {
        std::string report = in.Take(in.U16() % 700);
        if (report.size() >= 9 && fuzz::GetLe(report, 5, 4) == kSentinel)
            report[5] ^= 1;  // the sentinel is the harness's own
        requests += fuzz::Prefixed(report);
    }
    std::string sentinel(L, '\0');
    fuzz::PutLe(sentinel, 1, strevo::kFrameMagic, 4);
    fuzz::PutLe(sentinel, 5, kSentinel, 4);
    fuzz::PutLe(sentinel, 11, 1, 2);
    fuzz::Check(client.Send(requests + fuzz::Prefixed(sentinel)), "reports not sent");
    ReadAnswers(client, L);
    server.Stop();
    return 0;
}
