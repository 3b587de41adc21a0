// An RTSP camera stream on libavformat: connects, negotiates and hands over the
// video's access units one by one, as H.264 or H.265 Annex B. It decodes
// nothing; whoever reads it feeds a player port, writes a file or counts.
//
// Every blocking step (connect and DESCRIBE/SETUP/PLAY, reading the stream
// information, each read) is bounded twice by libavformat's interrupt
// callback: by a deadline per call and by the caller's stop flag, so a close
// never waits longer than one call's limit and a silent camera gives an error.
//
// Not thread-safe: one thread opens, reads and closes. Stop may be set from any
// thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace rtsp {

// Same values as the player's MV_CODEC_H264 / MV_CODEC_H265.
enum Codec : int32_t { kCodecH264 = 0, kCodecH265 = 1 };

enum class Transport { kTcp, kUdp };

// Result codes: 0 success, negative failure.
enum : int32_t {
    kOk = 0,
    kErrUrl = -1,          // not an rtsp:// address this program accepts
    kErrConnect = -2,      // nothing answers at the address (refused, unreachable)
    kErrTimeout = -3,      // a step took longer than its limit (silent camera, stall)
    kErrAuth = -4,         // the camera refused the user name or password (401)
    kErrNotFound = -5,     // the camera has no stream at that path (404)
    kErrNoVideo = -6,      // no H.264 or H.265 video in the stream
    kErrStopped = -7,      // the stop flag was set
    kErrEnded = -8,        // the camera ended the stream (end of file, connection closed)
    kErrNetwork = -9,      // any other transport or protocol failure
    kErrNoResources = -10  // out of memory
};

// A short English text for a code, for logs and the command line.
const char* ErrorText(int32_t code);

struct Options {
    // rtsp://[user[:password]@]host[:port]/path. Credentials given below take the
    // place of any in the URL; libavformat answers basic and digest challenges.
    std::string url;
    std::string user;
    std::string password;
    Transport transport = Transport::kTcp;
    int callLimitMs = 5000;  // each blocking call
};

struct StreamInfo {
    int32_t codec = kCodecH264;
    int32_t width = 0;  // 0 when the stream did not say
    int32_t height = 0;
    double fps = 0;  // 0 when unknown
    Transport transport = Transport::kTcp;
};

// One access unit, valid until the next Read or Close.
struct Unit {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    bool key = false;
    int64_t ptsMicros = 0;  // the stream's time stamp, 0 when none
};

class Source {
  public:
    Source();
    ~Source();
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    // Connects and starts playing; stop (may be null) ends a waiting call at once.
    int32_t Open(const Options& options, const std::atomic<bool>* stop, StreamInfo* info);
    // The next video access unit, Annex B, with the parameter sets in front of
    // every key frame whether or not the camera sends them in band. kErrEnded
    // when no stream is open.
    int32_t Read(Unit* unit);
    void Close();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Splits an rtsp:// URL; false when it is not one (other schemes, no host, a port
// outside 1-65535, control characters or spaces, broken escapes). Credentials are
// percent-decoded. parts may be null to check only.
struct UrlParts {
    std::string user;
    std::string password;
    std::string host;
    int port = 554;
    std::string path;  // from the first '/' after the host, "/" when none
    bool hasCredentials = false;
};
bool ParseUrl(const std::string& url, UrlParts* parts);
// The URL with the given credentials in place of any it holds (percent-encoded);
// none when both are empty. Empty when ParseUrl refuses the URL or the
// credentials hold control characters.
std::string WithCredentials(const std::string& url, const std::string& user,
                            const std::string& password);
// The URL with any credentials removed: the form that may be logged or shown.
// Empty when ParseUrl refuses the URL, so nothing of a mistyped one leaks.
std::string WithoutCredentials(const std::string& url);

}  // namespace rtsp
