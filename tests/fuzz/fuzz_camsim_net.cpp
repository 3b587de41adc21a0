// camsim's network camera reading the SDK wire protocol from a client whose
// bytes come from the input, over in-memory connections: login, text
// commands (the camera's JSON reader), log-out and stream requests. Every
// connection must end once the client has gone, and everything the camera
// sends must be well-formed frames with JSON text answers.
//
// Input: Byte options (mod 4: none, at most one login, negative answers,
// padded answers), then connections, one after the other: Byte (1: the client
// falls silent at the end instead of closing), then a piece with its bytes.
#include <cJSON.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "CameraModel.h"
#include "Camsim.h"
#include "FuzzInput.h"
#include "MemNet.h"
#include "PelionWire.h"

namespace {

namespace wire = pelion::wire;

void CheckAnswers(const std::string& out) {
    size_t at = 0;
    while (at < out.size()) {
        fuzz::Check(out.size() - at >= wire::kHeaderSize, "camera sent half a header");
        wire::Header h;
        const auto* p = reinterpret_cast<const uint8_t*>(out.data()) + at;
        fuzz::Check(wire::DecodeHeader(p, &h) && h.version == wire::kVersion,
                    "camera frame header");
        at += wire::kHeaderSize;
        fuzz::Check(h.length <= out.size() - at, "camera frame cut", h.length);
        fuzz::Check(h.type == wire::kLoginAnswer || h.type == wire::kTextAnswer ||
                        h.type == wire::kStreamAnswer || h.type == wire::kMedia,
                    "camera frame type", h.type);
        fuzz::Check(h.length >= 4, "answer without its result", h.length);
        if (h.type == wire::kTextAnswer) {
            const char* text = out.data() + at + 4;
            cJSON* json = cJSON_ParseWithLength(text, h.length - 4);
            fuzz::Check(json != nullptr, "text answer is not JSON");
            cJSON_Delete(json);
        }
        at += h.length;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The module announces its cameras on standard output each time it starts.
    int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    close(null);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    fuzz::memnet::Begin();
    auto module = camsim::MakeNetModule();
    std::vector<std::string> args;
    switch (in.Byte() % 4) {
        case 1:
            args = {"--net-max-logins", "1"};
            break;
        case 2:
            args = {"--net-negative"};
            break;
        case 3:
            args = {"--net-answer-pad", "5"};
            break;
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    for (int i = 0; i < static_cast<int>(argv.size());) {
        int used = module->ParseOption(static_cast<int>(argv.size()), argv.data(), i);
        fuzz::Check(used > 0, "option refused", i);
        i += used;
    }

    camsim::World world;
    camsim::NetCamera cam;
    cam.address = "127.0.0.2";
    cam.name = "fuzz";
    cam.identity = "00:11:22:33:44:55";
    cam.model = std::make_shared<camsim::CameraModel>(cam.name);
    const auto start = camsim::CameraModel::Clock::time_point{} + std::chrono::hours(1);
    cam.model->SetClock([start] { return start; });  // PTZ motion frozen: same input, same answers
    world.net.push_back(cam);
    fuzz::Check(module->Start(world), "camera not started");
    std::vector<int> listeners = fuzz::memnet::Listeners();
    fuzz::Check(listeners.size() == 1, "one camera, one listener",
                static_cast<long>(listeners.size()));

    for (int c = 0; c < 8 && !in.Empty(); ++c) {
        auto script = std::make_shared<fuzz::memnet::Script>();
        script->silent = in.Byte() & 1;
        script->inbound = in.Piece();
        fuzz::memnet::Offer(listeners[0], script);
        fuzz::Check(fuzz::memnet::WaitShutdown(script, 20000),
                    "connection not ended after the client left");
        CheckAnswers(script->outbound);
    }
    module->Stop();
    return 0;
}
