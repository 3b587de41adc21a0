// The SDK client's frame reader on its login, text and stream connections,
// with the camera's bytes from the input over in-memory connections. Answers
// must stay inside the caller's buffer and end in a NUL, the stream callback
// gets only whole media data, and every connection is closed in the end.
//
// Input: Byte flags (1 the control connection falls silent at its end rather
// than closing, 2 the same for the stream, 4 start a stream), Byte number of
// text commands (mod 6), per command Byte options (mod 4: which text; 4 no
// answer buffer, 8 no answer length) and U16 answer capacity (mod 5000), then a
// piece with the control connection's bytes (login answer, text answers); the
// rest is the stream connection's (stream answer, media frames).
#include <atomic>
#include <cstring>
#include <memory>
#include <string>

#include "FuzzInput.h"
#include "MemNet.h"
#include "NetCommands.h"
#include "PELION_SDK.h"
#include "PelionSocket.h"
#include "PelionWire.h"
#include "VideoParam.h"

namespace {

namespace wire = pelion::wire;

struct StreamSeen {
    std::atomic<int> calls{0};
    std::atomic<uint32_t> sum{0};
};

void OnStream(int32_t, const uint8_t* data, uint32_t length, uint32_t, void* user) {
    auto* seen = static_cast<StreamSeen*>(user);
    fuzz::Check(length <= wire::kMaxMediaPayload, "media longer than a frame may be", length);
    uint32_t sum = 0;
    for (uint32_t i = 0; i < length; ++i) sum += data[i];  // every byte must be readable
    seen->sum += sum;
    ++seen->calls;
}

const char* Text(int which) {
    static const std::string item = [] {
        std::string t;
        strevo::BuildSetItemText(strevo::MakeVideoParamItem("Luminance", 50).c_str(), &t);
        return t;
    }();
    switch (which % 4) {
        case 0:
            return strevo::kNetGetVideoParamText;
        case 1:
            return strevo::kGetFocusNearText;
        case 2:
            return strevo::kSetDefaultParamText;
        default:
            return item.c_str();
    }
}

// The client's own frames on the control connection: well-formed, numbered 1, 2, ...
void CheckSent(const std::string& out) {
    size_t at = 0;
    uint32_t expect = 1;
    while (at < out.size()) {
        fuzz::Check(out.size() - at >= wire::kHeaderSize, "client sent half a header");
        wire::Header h;
        fuzz::Check(wire::DecodeHeader(reinterpret_cast<const uint8_t*>(out.data()) + at, &h),
                    "client frame without magic");
        fuzz::Check(h.version == wire::kVersion, "client frame version", h.version);
        at += wire::kHeaderSize;
        fuzz::Check(h.length <= out.size() - at, "client frame cut", h.length);
        at += h.length;
        if (h.type != wire::kLogout)
            fuzz::Check(h.sequence == expect, "request out of sequence", h.sequence, expect);
        ++expect;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    uint8_t flags = in.Byte();
    int commands = in.Byte() % 6;
    uint8_t options[6];
    uint32_t capacities[6];
    for (int i = 0; i < commands; ++i) {
        options[i] = in.Byte();
        capacities[i] = in.U16() % 5000;
    }
    auto control = std::make_shared<fuzz::memnet::Script>();
    control->inbound = in.Piece();
    control->silent = flags & 1;
    auto stream = std::make_shared<fuzz::memnet::Script>();
    stream->inbound = in.Rest();
    stream->silent = flags & 2;

    fuzz::memnet::Begin();
    fuzz::memnet::Queue(control);
    PELION_Init(0);
    LoginInfo login = strevo::ProgramLoginInfo("127.0.0.2");
    std::unique_ptr<uint8_t[]> deviceInfo(new uint8_t[PELION_DEVICE_INFO_SIZE]);
    int32_t handle = PELION_Login(login, deviceInfo.get(), 0, 0, 0, 0);
    if (handle < 0) {
        fuzz::Check(PELION_GetLastError() < 0, "failed login without an error");
        fuzz::Check(pelion::seams::OpenConnections() == 0, "failed login left its connection open");
    } else {
        for (int i = 0; i < commands; ++i) {
            const char* text = Text(options[i]);
            int32_t capacity = static_cast<int32_t>(capacities[i]);
            std::unique_ptr<char[]> answer((options[i] & 4) ? nullptr : new char[capacities[i]]);
            int32_t length = capacity;
            int32_t rc =
                PELION_SendRobotText(handle, text, static_cast<int32_t>(std::strlen(text) + 1),
                                     answer.get(), (options[i] & 8) ? nullptr : &length);
            if ((options[i] & 8) || (rc != PELION_OK && rc != PELION_ERR_BUFFER_SMALL))
                continue;
            fuzz::Check(length >= 0 && length <= capacity, "answer length beyond the buffer",
                        length, capacity);
            if (answer && length > 0)
                fuzz::Check(answer[length - 1] == '\0' &&
                                std::strlen(answer.get()) < static_cast<size_t>(length),
                            "answer not terminated where its length says", length);
            if (!answer)
                fuzz::Check(length == 0, "answer length without a buffer", length);
        }
        if (flags & 4) {
            StreamSeen seen;
            fuzz::memnet::Queue(stream);
            int32_t play = PELION_StartRealPlay(handle, 0, 0, OnStream, &seen);
            if (play >= 0) {
                // Let the stream read everything it was sent before it is stopped.
                fuzz::Check(fuzz::memnet::WaitReaderGone(stream, 20000),
                            "stream thread did not end");
                fuzz::Check(PELION_StopRealPlay(play) == PELION_OK, "stream stop failed");
            }
            fuzz::Check(pelion::seams::OpenConnections() == 1, "stream connection left open",
                        pelion::seams::OpenConnections());
        }
        fuzz::Check(PELION_LogOut(handle) == PELION_OK, "log-out failed");
    }
    CheckSent(control->outbound);
    PELION_Cleanup();
    fuzz::Check(pelion::seams::OpenConnections() == 0, "connections left open",
                pelion::seams::OpenConnections());
    return 0;
}
