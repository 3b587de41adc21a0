// The player's C interface over a fixed table of ports.
#include <climits>
#include <memory>
#include <mutex>

#include "PlayerPort.h"
#include "movra.h"

namespace {

using movra::PlayerPort;

// Port number = slot + MV_MAX_PORTS * generation; the generation advances when a slot's port
// closes, so an old number never reaches the slot's next stream.
constexpr int32_t kGenerations = INT32_MAX / MV_MAX_PORTS;

struct Slot {
    std::shared_ptr<PlayerPort> port;
    int32_t generation = 0;
    bool opening = false;
};

std::mutex g_tableMutex;
Slot g_slots[MV_MAX_PORTS];

int32_t PortNumber(int slot) {
    return slot + MV_MAX_PORTS * g_slots[slot].generation;
}

// The running port behind a number, or an error code.
int32_t Find(int32_t number, std::shared_ptr<PlayerPort>* port) {
    if (number < 0)
        return MV_ERR_BAD_PORT;
    std::lock_guard lock(g_tableMutex);
    const Slot& slot = g_slots[number % MV_MAX_PORTS];
    if (!slot.port || slot.generation != number / MV_MAX_PORTS)
        return MV_ERR_NOT_OPEN;
    *port = slot.port;
    return MV_OK;
}

// Where the port's pictures go from now on: a sink, a target, or neither.
int32_t SetOutput(int32_t number, const MV_RenderSink* sink, const MV_DrawTarget* target) {
    std::shared_ptr<PlayerPort> port;
    if (int32_t r = Find(number, &port); r < 0)
        return r;
    if (port->OnOwnThread())
        return MV_ERR_IN_CALLBACK;
    return port->SetOutput(sink, target);
}

}  // namespace

extern "C" {

int32_t MV_API MV_OpenStream(int32_t, int32_t) {
    int slot = -1;
    {
        std::lock_guard lock(g_tableMutex);
        for (int i = 0; i < MV_MAX_PORTS && slot < 0; ++i)
            if (!g_slots[i].port && !g_slots[i].opening)
                slot = i;
        if (slot < 0)
            return MV_ERR_NO_PORT;
        g_slots[slot].opening = true;
    }
    // Decoder and thread are set up outside the table lock: input to other ports goes on.
    std::shared_ptr<PlayerPort> port;
    try {
        port = PlayerPort::Create();
    } catch (...) {
    }
    std::lock_guard lock(g_tableMutex);
    g_slots[slot].opening = false;
    if (!port)
        return MV_ERR_NO_RESOURCES;
    g_slots[slot].port = std::move(port);
    return PortNumber(slot);
}

int32_t MV_API MV_PlayEx(int32_t number, const MV_RenderSink* window) {
    if (window && !window->present)
        return MV_ERR_BAD_ARGUMENT;
    return SetOutput(number, window, nullptr);
}

int32_t MV_API MV_PlayInto(int32_t number, const MV_DrawTarget* target) {
    if (target && (!target->lock || !target->unlock))
        return MV_ERR_BAD_ARGUMENT;
    return SetOutput(number, nullptr, target);
}

int32_t MV_API MV_VideoInputDataTagged(int32_t number, const uint8_t* data, uint32_t length,
                                       int64_t tag) {
    if (!data && length)
        return MV_ERR_BAD_ARGUMENT;
    std::shared_ptr<PlayerPort> port;
    if (int32_t r = Find(number, &port); r < 0)
        return r;
    try {
        return port->Input(data, length, tag);
    } catch (...) {
        return MV_ERR_NO_RESOURCES;
    }
}

int32_t MV_API MV_VideoInputData(int32_t number, const uint8_t* data, uint32_t length) {
    return MV_VideoInputDataTagged(number, data, length, 0);
}

int32_t MV_API MV_VideoClose(int32_t number) {
    std::shared_ptr<PlayerPort> port;
    if (number < 0)
        return MV_ERR_BAD_PORT;
    {
        std::lock_guard lock(g_tableMutex);
        Slot& slot = g_slots[number % MV_MAX_PORTS];
        if (!slot.port || slot.generation != number / MV_MAX_PORTS)
            return MV_ERR_NOT_OPEN;
        if (slot.port->OnOwnThread())
            return MV_ERR_IN_CALLBACK;
        port = std::move(slot.port);
        slot.generation = (slot.generation + 1) % kGenerations;
    }
    port->Close();
    return MV_OK;
}

int32_t MV_API MV_SetStreamCodec(int32_t number, int32_t codec) {
    if (codec != MV_CODEC_H264 && codec != MV_CODEC_H265)
        return MV_ERR_BAD_ARGUMENT;
    std::shared_ptr<PlayerPort> port;
    if (int32_t r = Find(number, &port); r < 0)
        return r;
    try {
        return port->SetCodec(codec);
    } catch (...) {
        return MV_ERR_NO_RESOURCES;
    }
}

int32_t MV_API MV_GetStats(int32_t number, MV_Stats* stats) {
    if (!stats)
        return MV_ERR_BAD_ARGUMENT;
    std::shared_ptr<PlayerPort> port;
    if (int32_t r = Find(number, &port); r < 0)
        return r;
    port->GetStats(stats);
    return MV_OK;
}

int32_t MV_API MV_GetLastFrame(int32_t number, const MV_Image* image, int32_t* width,
                               int32_t* height) {
    if (!width || !height)
        return MV_ERR_BAD_ARGUMENT;
    std::shared_ptr<PlayerPort> port;
    if (int32_t r = Find(number, &port); r < 0)
        return r;
    if (port->OnOwnThread())
        return MV_ERR_IN_CALLBACK;
    return port->GetLastFrame(image, width, height);
}

}  // extern "C"
