// Network camera SDK: library set-up, login, live stream and JSON text commands.
// The wire protocol behind these calls is described in docs/sdk-protocol.md.
#pragma once

#include <stdint.h>

#if defined(_WIN32)
#define PELION_API __stdcall
#else
#define PELION_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

#pragma pack(push, 1)
typedef struct LoginInfo {
    char ip[20];        // camera address, NUL-terminated
    uint16_t port;      // TCP port, little-endian (36666)
    char user[17];      // NUL-terminated
    char password[24];  // NUL-terminated
} LoginInfo;
#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(LoginInfo) == 63, "LoginInfo is 63 bytes");
#endif

#define PELION_DEFAULT_PORT 36666
#define PELION_DEVICE_INFO_SIZE 288

// What PELION_Login writes into its 288-byte device-information buffer (may be NULL).
// Texts are NUL-terminated UTF-8; unused bytes are zero.
#pragma pack(push, 1)
typedef struct PELION_DEVICE_INFO {
    char name[64];             // camera name
    char model[32];            // product model
    char serial[32];           // serial number
    char firmware[32];         // firmware version text
    uint32_t protocolVersion;  // wire protocol version the camera speaks
    uint32_t channelCount;     // video channels (1 for our cameras)
    uint8_t reserved[120];
} PELION_DEVICE_INFO;
#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(PELION_DEVICE_INFO) == PELION_DEVICE_INFO_SIZE, "device info is 288 bytes");
#endif

// Time limits: connecting, and waiting for any answer of the camera (login, stream
// start, text command). A stream that delivers nothing for the idle limit is ended.
#define PELION_CONNECT_TIMEOUT_MS 3000
#define PELION_ANSWER_TIMEOUT_MS 5000
#define PELION_STREAM_IDLE_TIMEOUT_MS 10000

// Error codes. Failing calls return -1 (handles) or the code itself (other calls);
// PELION_GetLastError gives the calling thread's code of its last SDK call (0 after success).
#define PELION_OK 0
#define PELION_ERR_NOT_INIT (-2)         // PELION_Init not called, or after PELION_Cleanup
#define PELION_ERR_BAD_HANDLE (-3)       // unknown login or real-play handle
#define PELION_ERR_BAD_ARGUMENT (-4)     // null pointer, bad address text, bad length
#define PELION_ERR_REFUSED (-5)          // connection refused (nothing listens there)
#define PELION_ERR_CONNECT_TIMEOUT (-6)  // no connection within PELION_CONNECT_TIMEOUT_MS
#define PELION_ERR_TIMEOUT (-7)          // no answer within PELION_ANSWER_TIMEOUT_MS
#define PELION_ERR_NETWORK (-8)          // send or receive failed, connection lost
#define PELION_ERR_PASSWORD (-9)         // wrong user name or password
#define PELION_ERR_BUSY (-10)            // camera accepts no more logins or streams
#define PELION_ERR_PROTOCOL (-11)        // camera sent something that is not this protocol
#define PELION_ERR_VERSION (-12)         // camera does not speak this protocol version
#define PELION_ERR_NO_RESOURCES (-13)    // out of handles, memory or threads
#define PELION_ERR_BUFFER_SMALL (-14)    // answer truncated to the caller's buffer
#define PELION_ERR_CHANNEL (-15)         // camera has no such channel or stream type
#define PELION_ERR_SESSION (-16)         // camera no longer knows the login (stream start)

// Data types passed to the stream callback.
#define PELION_DATA_H264 2   // H.264 Annex B, one access unit per call
#define PELION_DATA_MPEG4 3  // MPEG-4 Part 2 elementary stream, one frame per call

// Stream callback: real-play handle, stream data, its length in bytes, data type
// (PELION_DATA_*), and the user pointer given to PELION_StartRealPlay. Runs on the
// stream's own thread; the data is valid only during the call.
typedef void(PELION_API* PELION_StreamCallback)(int32_t realPlayHandle, const uint8_t* data,
                                                uint32_t length, uint32_t dataType, void* user);

int32_t PELION_API PELION_Init(int32_t reserved);
int32_t PELION_API PELION_Cleanup(void);
// Returns a login handle (0 or more) or -1; PELION_GetLastError tells why.
int32_t PELION_API PELION_Login(LoginInfo info, void* deviceInfo, int32_t reserved1,
                                int32_t reserved2, int32_t reserved3, int32_t reserved4);
// Returns a real-play handle (0 or more) or -1. Channel 0; stream type 0 is the main
// stream, 1 the sub stream.
int32_t PELION_API PELION_StartRealPlay(int32_t loginHandle, int32_t channel, int32_t streamType,
                                        PELION_StreamCallback callback, void* user);
// Returns once no callback of the stream can run any more (from inside that stream's own
// callback: returns at once, and no further callback follows the running one).
int32_t PELION_API PELION_StopRealPlay(int32_t realPlayHandle);
// Also stops the login's streams, as PELION_StopRealPlay would.
int32_t PELION_API PELION_LogOut(int32_t loginHandle);
// Sends one text command and waits for its answer. textLen counts the terminating NUL;
// the text ends at the first NUL or after textLen bytes. *answerLen: in, the buffer's
// capacity; out, the bytes stored including the NUL (never more than the capacity).
// Returns 0 when the answer fits; when it does not, the buffer holds its first
// capacity-1 bytes and a NUL and the result is PELION_ERR_BUFFER_SMALL.
int32_t PELION_API PELION_SendRobotText(int32_t loginHandle, const char* text, int32_t textLen,
                                        char* answer, int32_t* answerLen);
int32_t PELION_API PELION_GetLastError(void);

#ifdef __cplusplus
}
#endif
