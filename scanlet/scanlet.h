// scanlet: finds network cameras by UDP broadcast. The program links this
// library through the four functions below; nothing else is exported.
#pragma once

#include <stddef.h>

#if defined(SCANLET_STATIC)
#define SCANLET_API
#elif defined(_WIN32)
#if defined(SCANLET_BUILD)
#define SCANLET_API __declspec(dllexport)
#else
#define SCANLET_API __declspec(dllimport)
#endif
#else
#define SCANLET_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

// One camera as handed to the program. The caller zero-fills the array; every
// field is a NUL-terminated text cut to its width.
#pragma pack(push, 1)
typedef struct DeviceInfo {
    char address[36];  // login address, also the device tree label
    char info2[36];
    char info3[20];
    char identity[20];  // the library's key for one camera
    char info5[16];
    char info6[16];
    char info7[16];
    char info8[16];
    char info9[16];
} DeviceInfo;
#pragma pack(pop)

// 1 when the socket is set up and the receive thread runs, 0 on failure.
// Also starts the platform's socket library for the whole process.
SCANLET_API int BSC_Init(void);
// Number of cameras that answered within the last 15 seconds.
SCANLET_API int BSC_GetNum(void);
// Copies up to *count alive cameras into devices and stores the number written
// in *count. Returns 0 (nothing written) if either pointer is null, else 1.
SCANLET_API int BSC_GetDevInfo(DeviceInfo* devices, int* count);
// Stops the receive thread; 1 when it ended in time, else 0.
SCANLET_API int BSC_DeInit(void);

#ifdef __cplusplus
}

static_assert(sizeof(DeviceInfo) == 192, "DeviceInfo is a fixed 192-byte record");
static_assert(offsetof(DeviceInfo, address) == 0);
static_assert(offsetof(DeviceInfo, info2) == 36);
static_assert(offsetof(DeviceInfo, info3) == 72);
static_assert(offsetof(DeviceInfo, identity) == 92);
static_assert(offsetof(DeviceInfo, info5) == 112);
static_assert(offsetof(DeviceInfo, info6) == 128);
static_assert(offsetof(DeviceInfo, info7) == 144);
static_assert(offsetof(DeviceInfo, info8) == 160);
static_assert(offsetof(DeviceInfo, info9) == 176);
#endif
