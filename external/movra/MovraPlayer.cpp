// Placeholder until the decoder lands: every port request fails cleanly.
#include "movra.h"

extern "C" {

int32_t MV_API MV_OpenStream(int32_t, int32_t) {
    return MV_ERR_NO_RESOURCES;
}
int32_t MV_API MV_PlayEx(int32_t, const MV_RenderSink*) {
    return MV_ERR_BAD_PORT;
}
int32_t MV_API MV_VideoInputData(int32_t, const uint8_t*, uint32_t) {
    return MV_ERR_BAD_PORT;
}
int32_t MV_API MV_VideoInputDataTagged(int32_t, const uint8_t*, uint32_t, int64_t) {
    return MV_ERR_BAD_PORT;
}
int32_t MV_API MV_VideoClose(int32_t) {
    return MV_ERR_BAD_PORT;
}
int32_t MV_API MV_GetStats(int32_t, MV_Stats*) {
    return MV_ERR_BAD_PORT;
}
}
