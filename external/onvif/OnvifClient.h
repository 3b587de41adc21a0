// An ONVIF camera client without Qt: SOAP 1.2 over plain HTTP (cpp-httplib),
// WS-Security UsernameToken with PasswordDigest on every authenticated call,
// HTTP digest when the camera answers 401. Every call is bounded by a connect
// limit and a read limit, returns a result code (0 success, negative failure)
// and leaves the details in LastError(); nothing throws across this interface.
//
// Not thread-safe: one thread uses a client at a time (give each worker its own).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace onvif {

enum : int32_t {
    kOk = 0,
    kErrAddress = -1,        // not an address this client can reach (host[:port] or http://...)
    kErrConnect = -2,        // nothing answers at the address
    kErrTimeout = -3,        // the camera took longer than the connect or read limit
    kErrAuth = -4,           // the camera refused the user name or password
    kErrFault = -5,          // the camera answered with a SOAP fault (see Error::fault*)
    kErrEmptyAnswer = -6,    // the camera answered 200 without a body
    kErrMalformed = -7,      // the answer is not the SOAP message expected
    kErrHttp = -8,           // an HTTP status other than 200, 400, 401 or 500
    kErrUnsupported = -9,    // the camera has no such service or capability
    kErrNotConnected = -10,  // Connect was not called or failed
    kErrArgument = -11,      // a value given to the call is out of range or unknown
    kErrNoResources = -12    // no random bytes for the nonce, out of memory
};

// A short English text for a code, for logs and the command line.
const char* ErrorText(int32_t code);

// What went wrong in the last call.
struct Error {
    int32_t code = kOk;
    std::string text;          // one line: ErrorText plus the details below, never a password
    int httpStatus = 0;        // 0 when no HTTP answer came
    std::string faultCode;     // e.g. "env:Sender" as sent (QName text)
    std::string faultSubcode;  // innermost subcode, e.g. "ter:NotAuthorized"
    std::string faultReason;
};

// Replace the host of the service and stream addresses a camera returns by the
// one connected to: cameras behind NAT, or ones that report 127.0.1.1.
enum class UseConnectedHost {
    kAuto,  // when the returned host differs and does not accept a connection
    kAlways,
    kNever
};

struct Options {
    // host, host:port or http://host[:port][/path]; the device service path
    // defaults to /onvif/device_service and the port to 80.
    std::string address;
    std::string user;  // empty: no login at all
    std::string password;
    int connectLimitMs = 2000;
    int readLimitMs = 5000;
    UseConnectedHost useConnectedHost = UseConnectedHost::kAuto;
};

// Service addresses (http URLs); empty for a service the camera lacks.
struct Services {
    std::string device, media, imaging, ptz;
    bool fromCapabilities = false;  // GetServices was refused, GetCapabilities answered
};

struct DeviceInfo {
    std::string manufacturer, model, firmwareVersion, serialNumber, hardwareId;
};

struct Profile {
    std::string token, name;
    std::string videoSourceToken;  // for the imaging calls; empty when none
    std::string encoding;          // "H264", "H265", "JPEG", ... as the camera says
    int width = 0, height = 0;
    std::string ptzConfigurationToken;  // empty: the profile has no PTZ
};

struct Range {
    double min = 0, max = 0;
};

// Imaging settings (tt:ImagingSettings20): only what the camera reported is
// set; a write sends only what is set.
struct ImagingSettings {
    std::optional<std::string> backlightMode;  // "OFF", "ON"
    std::optional<double> backlightLevel;
    std::optional<double> brightness, colorSaturation, contrast;
    std::optional<std::string> exposureMode;  // "AUTO", "MANUAL"
    std::optional<double> exposureTime, gain, iris;
    std::optional<std::string> focusMode;    // "AUTO", "MANUAL"
    std::optional<std::string> irCutFilter;  // "ON", "OFF", "AUTO"
    std::optional<double> sharpness;
    std::optional<std::string> wdrMode;  // "OFF", "ON"
    std::optional<double> wdrLevel;
    std::optional<std::string> whiteBalanceMode;  // "AUTO", "MANUAL"
    std::optional<double> crGain, cbGain;
};

// The ranges and choices the camera offers (tt:ImagingOptions20).
struct ImagingOptions {
    std::vector<std::string> backlightModes;
    std::optional<Range> backlightLevel;
    std::optional<Range> brightness, colorSaturation, contrast;
    std::vector<std::string> exposureModes;
    std::optional<Range> exposureTime, gain, iris;
    std::vector<std::string> focusModes;
    std::vector<std::string> irCutFilterModes;
    std::optional<Range> sharpness;
    std::vector<std::string> wdrModes;
    std::optional<Range> wdrLevel;
    std::vector<std::string> whiteBalanceModes;
    std::optional<Range> crGain, cbGain;  // YrGain, YbGain in the options
};

// The imaging settings by name, for tables and the command line: brightness,
// contrast, saturation, sharpness, backlight, backlight-level, exposure,
// exposure-time, gain, iris, focus, ircut, wdr, wdr-level, white-balance,
// cr-gain, cb-gain.
struct ImagingField {
    const char* name;
    bool numeric;  // false: a mode text
};
int ImagingFieldCount();
const ImagingField* ImagingFieldAt(int index);
const ImagingField* FindImagingField(const std::string& name);
// The field's value as text ("50.0", "AUTO"); nullopt when not set.
std::optional<std::string> GetImagingField(const ImagingSettings& s, const std::string& name);
// Sets a field from text; kErrArgument for an unknown name or a bad number.
int32_t SetImagingField(ImagingSettings* s, const std::string& name, const std::string& value);
// The field's range and choices in the options (empty when the camera has none).
std::optional<Range> ImagingFieldRange(const ImagingOptions& o, const std::string& name);
std::vector<std::string> ImagingFieldChoices(const ImagingOptions& o, const std::string& name);

struct FocusMoveOptions {
    std::optional<Range> continuousSpeed;  // set when the camera can move focus continuously
    std::optional<Range> absolutePosition, relativeDistance;
};

struct PtzOptions {
    std::optional<Range> panTiltX, panTiltY;  // continuous velocity space
    std::optional<Range> zoom;                // continuous zoom velocity
    std::optional<Range> timeout;             // seconds
};

struct PtzVelocity {
    std::optional<double> panX, panY;  // both or neither
    std::optional<double> zoom;
};

struct Preset {
    std::string token, name;
};

class Client {
  public:
    Client();
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Reads the camera's clock (unauthenticated GetSystemDateAndTime) and its
    // service addresses (GetServices, else GetCapabilities).
    int32_t Connect(const Options& options);
    bool Connected() const;
    const Services& ServiceAddresses() const;
    // Camera clock minus ours, in seconds, as read at Connect.
    int64_t ClockOffsetSeconds() const;
    // The last call's error (code kOk after a success).
    const Error& LastError() const;

    int32_t GetDeviceInformation(DeviceInfo* out);
    int32_t SystemReboot(std::string* message = nullptr);

    int32_t GetProfiles(std::vector<Profile>* out);
    // RTP over RTSP over TCP. The host is rewritten as the option says.
    int32_t GetStreamUri(const std::string& profileToken, std::string* uri);
    int32_t GetSnapshotUri(const std::string& profileToken, std::string* uri);

    int32_t GetImagingSettings(const std::string& videoSourceToken, ImagingSettings* out);
    int32_t GetImagingOptions(const std::string& videoSourceToken, ImagingOptions* out);
    int32_t SetImagingSettings(const std::string& videoSourceToken, const ImagingSettings& s,
                               bool forcePersistence = true);
    int32_t GetFocusMoveOptions(const std::string& videoSourceToken, FocusMoveOptions* out);
    // Continuous focus move at speed (the camera's range; sign: far positive).
    int32_t FocusMove(const std::string& videoSourceToken, double speed);
    int32_t FocusStop(const std::string& videoSourceToken);

    int32_t GetPtzOptions(const std::string& ptzConfigurationToken, PtzOptions* out);
    // timeoutSeconds 0: none sent (the camera's default applies).
    int32_t ContinuousMove(const std::string& profileToken, const PtzVelocity& v,
                           double timeoutSeconds = 0);
    // Stops pan/tilt and zoom; where the camera refuses Stop, a ContinuousMove
    // with zero velocity does it (StopWasEmulated then says so).
    int32_t Stop(const std::string& profileToken);
    bool StopWasEmulated() const;
    int32_t GetPresets(const std::string& profileToken, std::vector<Preset>* out);
    int32_t GotoPreset(const std::string& profileToken, const std::string& presetToken);
    // presetToken empty: a new preset; the camera's token comes back in tokenOut.
    int32_t SetPreset(const std::string& profileToken, const std::string& name,
                      const std::string& presetToken, std::string* tokenOut);
    int32_t RemovePreset(const std::string& profileToken, const std::string& presetToken);
    int32_t GotoHomePosition(const std::string& profileToken);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The reader of a SOAP answer, apart for tests and fuzzing: the HTTP status and
// body give kOk (body holds a Body with a child element), kErrFault (filled in
// error), kErrEmptyAnswer, kErrAuth (401, or a NotAuthorized / FailedAuthentication
// fault) or kErrMalformed.
int32_t ReadSoapAnswer(int httpStatus, const std::string& body, Error* error);

}  // namespace onvif
