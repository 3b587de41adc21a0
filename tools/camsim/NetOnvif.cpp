// Network cameras over ONVIF (docs/camsim-onvif.md): device, media, imaging and
// PTZ services on cpp-httplib at http://ADDRESS:80/onvif/..., a WS-Discovery
// responder on 3702, both logins of ONVIF (UsernameToken digest, HTTP digest)
// with the camera's RTSP user and password. The parameter store and PTZ state
// are the camera's model, shared with the SDK side, so an ONVIF write shows in
// the picture; presets are kept per camera.
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CameraModel.h"
#include "Camsim.h"
#include "NetSimSocket.h"
#include "OnvifAuth.h"
#include "OnvifDiscovery.h"
#include "OnvifNet.h"
#include "OnvifSoap.h"
#include "OnvifXml.h"

namespace camsim {
namespace {

using onvif::Format;
using onvif::XmlDoc;
namespace ns = onvif::ns;

enum Fault : unsigned {
    kClock = 1,          // the camera's clock is two hours ahead
    kDigestOnly = 2,     // only HTTP digest logs in; UsernameTokens are ignored
    kSoapFault = 4,      // media, imaging and PTZ calls answer a SOAP fault
    kEmpty = 8,          // media, imaging and PTZ calls answer 200 with no body
    kNoStop = 16,        // PTZ Stop is refused
    kWrongAddress = 32,  // service and stream addresses name 127.0.1.1
    kNoServices = 64,    // GetServices is refused (GetCapabilities answers)
    kClockJump = 128     // the clock jumps two hours after the first authenticated request
};

struct FaultName {
    const char* name;
    unsigned bit;
};
constexpr FaultName kFaultNames[] = {{"clock", kClock},           {"digest-only", kDigestOnly},
                                     {"soap-fault", kSoapFault},  {"empty", kEmpty},
                                     {"no-stop", kNoStop},        {"wrong-address", kWrongAddress},
                                     {"no-services", kNoServices},  {"clock-jump", kClockJump}};

constexpr int kClockFaultSeconds = 2 * 3600;
constexpr int kCreatedToleranceSeconds = 300;
constexpr const char* kWrongHost = "127.0.1.1";

// One imaging setting in the camera's parameter store: ONVIF value = store * scale.
struct ImagingKey {
    const char* field;  // the client's field name
    const char* key;    // parameter store key
    double scale;
    double min, max;  // ONVIF range
    // Mode texts: store value for each choice, the first is the fallback.
    std::vector<std::pair<const char*, int>> modes;
};

const std::vector<ImagingKey>& ImagingKeys() {
    static const std::vector<ImagingKey> keys = {
        {"brightness", "Luminance", 1, 0, 100, {}},
        {"contrast", "Contrast", 1, 0, 100, {}},
        {"saturation", "Saturation", 1, 0, 100, {}},
        {"sharpness", "Hue", 1, 0, 100, {}},
        {"backlight", "bBacklightCompensation", 1, 0, 0, {{"OFF", 0}, {"ON", 1}}},
        {"exposure", "eExposureMode", 1, 0, 0, {{"AUTO", 0}, {"MANUAL", 1}}},
        // The store keeps shutter times in units of 10 µs; ONVIF says µs.
        {"exposure-time", "uiMShutterSpeed", 10, 10, 1000000, {}},
        {"gain", "ucManualGain", 1, 1, 255, {}},
        {"focus", "ucFocusMode", 1, 0, 0, {{"AUTO", 1}, {"MANUAL", 0}}},
        {"wdr", "eWDMode", 1, 0, 0, {{"OFF", 0}, {"ON", 1}}},
        {"wdr-level", "ucWDRStrength", 1, 0, 100, {}},
        {"white-balance", "eWBMode", 1, 0, 0, {{"AUTO", 1}, {"MANUAL", 0}}},
        {"cr-gain", "ucRGGain", 1, 0, 100, {}},
        {"cb-gain", "ucBGGain", 1, 0, 100, {}},
    };
    return keys;
}

struct PresetPos {
    std::string name;
    int pan = 0, tilt = 0, zoom = 0;
};

struct Camera {
    const NetCamera* cam = nullptr;
    unsigned faults = 0;
    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    std::string digestNonce;
    std::mutex mu;  // presets
    std::map<std::string, PresetPos> presets;
    int nextPreset = 1;
    onvif::net::Udp discovery;
    std::atomic<bool> clockJumped{false};
};

struct OnvifOptions {
    bool enabled = false;
    int port = 80;
    bool portGiven = false;
    int rtspPort = 554;
    unsigned faults = 0;
    int faultCamera = 0;
};

std::string Answer(const std::string& body) {
    return onvif::soap::Envelope({}, body);
}

int64_t NowUnix() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

class OnvifModule final : public Module {
  public:
    explicit OnvifModule(std::shared_ptr<const NetSettings> settings)
        : settings_(settings ? std::move(settings) : std::make_shared<NetSettings>()) {}
    ~OnvifModule() override { Stop(); }

    const char* Name() const override { return "Onvif"; }
    const char* Usage() const override {
        return "  --onvif               serve ONVIF (device, media, imaging, PTZ) and answer\n"
               "                        WS-Discovery; login as for RTSP (--net-user,\n"
               "                        --net-password)\n"
               "  --onvif-port P        ONVIF HTTP port of every network camera (default 80)\n"
               "  --onvif-fault F       clock: the camera's clock is 2 hours ahead;\n"
               "                        digest-only: only HTTP digest logs in; soap-fault:\n"
               "                        media, imaging and PTZ calls answer a SOAP fault;\n"
               "                        empty: they answer 200 with no body; no-stop: PTZ Stop\n"
               "                        is refused; wrong-address: service and stream\n"
               "                        addresses name 127.0.1.1; no-services: GetServices is\n"
               "                        refused; clock-jump: the clock jumps 2 hours ahead\n"
               "                        after the first authenticated request. May be given\n"
               "                        again\n"
               "  --onvif-fault-camera N the faults apply to the N-th network camera only\n";
    }

    int ParseOption(int argc, char** argv, int i) override {
        const std::string a = argv[i];
        auto number = [](const char* text, int lo, int hi, int* out) {
            char* end = nullptr;
            const long v = std::strtol(text, &end, 10);
            if (!text[0] || *end || v < lo || v > hi)
                return false;
            *out = static_cast<int>(v);
            return true;
        };
        // The RTSP module owns --rtsp-port; the stream addresses returned here
        // follow it, so it is read without being taken.
        if (a == "--rtsp-port" && i + 1 < argc) {
            number(argv[i + 1], 1, 65535, &options_.rtspPort);
            return 0;
        }
        if (a == "--onvif") {
            options_.enabled = true;
            return 1;
        }
        if (a != "--onvif-port" && a != "--onvif-fault" && a != "--onvif-fault-camera")
            return 0;
        if (i + 1 >= argc) {
            std::fprintf(stderr, "camsim: %s needs a value\n", a.c_str());
            return -1;
        }
        const char* v = argv[i + 1];
        if (a == "--onvif-port") {
            if (!number(v, 1, 65535, &options_.port)) {
                std::fprintf(stderr, "camsim: --onvif-port takes 1 to 65535\n");
                return -1;
            }
            options_.portGiven = true;
            return 2;
        }
        if (a == "--onvif-fault-camera") {
            if (!number(v, 1, 4000, &options_.faultCamera)) {
                std::fprintf(stderr, "camsim: --onvif-fault-camera takes 1 to 4000\n");
                return -1;
            }
            return 2;
        }
        for (const FaultName& f : kFaultNames) {
            if (f.name == std::string(v)) {
                options_.faults |= f.bit;
                return 2;
            }
        }
        std::fprintf(stderr,
                     "camsim: --onvif-fault takes clock, digest-only, soap-fault, empty, "
                     "no-stop, wrong-address, no-services or clock-jump\n");
        return -1;
    }

    bool Start(World& world) override {
        if (!options_.enabled || world.net.empty())
            return true;
        if (options_.faultCamera > static_cast<int>(world.net.size())) {
            std::fprintf(stderr, "camsim: --onvif-fault-camera %d: there are %zu network cameras\n",
                         options_.faultCamera, world.net.size());
            return false;
        }
        netio::RaiseFileLimit();
        cameras_.clear();
        for (size_t n = 0; n < world.net.size(); ++n) {
            auto c = std::make_unique<Camera>();
            c->cam = &world.net[n];
            c->faults = options_.faultCamera == 0 || options_.faultCamera == static_cast<int>(n) + 1
                            ? options_.faults
                            : 0;
            c->digestNonce = onvif::Base64(onvif::RandomBytes(16));
            c->server = std::make_unique<httplib::Server>();
            // A few workers per camera: enough for a move and a stop at once.
            c->server->new_task_queue = [] { return new httplib::ThreadPool(3); };
            c->server->set_keep_alive_timeout(2);
            c->server->set_tcp_nodelay(true);
            c->server->set_payload_max_length(1 << 20);
            Camera* cp = c.get();
            c->server->Post(".*", [this, cp](const httplib::Request& req, httplib::Response& res) {
                Handle(*cp, req, res);
            });
            if (!c->server->bind_to_port(c->cam->address, options_.port)) {
                std::fprintf(stderr, "camsim: onvif camera %s cannot listen on %s:%d\n",
                             c->cam->name.c_str(), c->cam->address.c_str(), options_.port);
                Stop();
                if (!options_.portGiven) {
                    std::fprintf(stderr,
                                 "camsim: ONVIF not served; run inside scripts/netns-run or give "
                                 "--onvif-port\n");
                    return true;
                }
                return false;
            }
            c->thread = std::thread([cp] { cp->server->listen_after_bind(); });
            cameras_.push_back(std::move(c));
        }
        // WS-Discovery multicast: only where loopback is the only link.
        if (OnlyLoopbackLinks())
            StartDiscovery();
        PrintEndpoints();
        return true;
    }

    void Stop() override {
        stopDiscovery_ = true;
        if (discoveryThread_.joinable())
            discoveryThread_.join();
        for (auto& c : cameras_) {
            c->server->stop();
            if (c->thread.joinable())
                c->thread.join();
        }
        cameras_.clear();
        group_.Close();
    }

  private:
    void StartDiscovery() {
        if (!group_.Open("", onvif::kDiscoveryPort, true) ||
            !group_.Join(onvif::kDiscoveryGroup, "127.0.0.1")) {
            std::fprintf(stderr, "camsim: WS-Discovery: cannot join %s on loopback\n",
                         onvif::kDiscoveryGroup);
            group_.Close();
        }
        for (auto& c : cameras_) c->discovery.Open(c->cam->address, onvif::kDiscoveryPort, true);
        stopDiscovery_ = false;
        discoveryThread_ = std::thread([this] { RunDiscovery(); });
    }

    void RunDiscovery() {
        std::vector<const onvif::net::Udp*> sockets{&group_};
        for (auto& c : cameras_) sockets.push_back(&c->discovery);
        while (!stopDiscovery_) {
            const int i =
                onvif::net::Udp::WaitAny(sockets.data(), static_cast<int>(sockets.size()), 100);
            if (i < 0)
                continue;
            std::string datagram, from, id;
            int port = 0;
            auto* s = const_cast<onvif::net::Udp*>(sockets[static_cast<size_t>(i)]);
            if (!s->Receive(&datagram, &from, &port, 0) || !onvif::ReadProbe(datagram, &id))
                continue;
            if (i == 0) {
                for (auto& c : cameras_) AnswerProbe(*c, id, from, port);
            } else {
                AnswerProbe(*cameras_[static_cast<size_t>(i - 1)], id, from, port);
            }
        }
    }

    void AnswerProbe(Camera& c, const std::string& id, const std::string& to, int port) {
        std::string name;
        for (unsigned char ch : c.cam->name) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", ch);
            name += std::isalnum(ch) || ch == '-' ? std::string(1, static_cast<char>(ch)) : hex;
        }
        const std::vector<std::string> scopes = {
            "onvif://www.onvif.org/type/video_encoder", "onvif://www.onvif.org/type/ptz",
            "onvif://www.onvif.org/name/" + name, "onvif://www.onvif.org/hardware/camsim"};
        c.discovery.SendTo(onvif::ProbeMatchesMessage(id, "urn:uuid:" + Endpoint(c),
                                                      ServiceAddress(c, "device_service"), scopes),
                           to, port);
    }

    static std::string Endpoint(const Camera& c) {
        // Stable per camera: made from its identity and address, so that two
        // camsims (whose cameras share names) never give the same endpoint.
        const std::string h = onvif::HexDigest("MD5", c.cam->identity + "@" + c.cam->address);
        return h.substr(0, 8) + "-" + h.substr(8, 4) + "-4" + h.substr(13, 3) + "-8" +
               h.substr(17, 3) + "-" + h.substr(20, 12);
    }

    std::string HostOf(const Camera& c) const {
        return c.faults & kWrongAddress ? kWrongHost : c.cam->address;
    }
    std::string ServiceAddress(const Camera& c, const char* service) const {
        return "http://" + HostOf(c) + ":" + std::to_string(options_.port) + "/onvif/" + service;
    }

    int64_t CameraClock(const Camera& c) const {
        return NowUnix() + (c.faults & kClock ? kClockFaultSeconds : 0) +
               (c.clockJumped.load() ? kClockFaultSeconds : 0);
    }

    // HTTP digest: a valid Authorization for our nonce.
    bool DigestOk(const Camera& c, const httplib::Request& req) const {
        std::map<std::string, std::string> p;
        if (!req.has_header("Authorization") ||
            !onvif::ParseDigestHeader(req.get_header_value("Authorization"), &p))
            return false;
        if (p["username"] != settings_->user || p["nonce"] != c.digestNonce ||
            p["realm"] != "camsim")
            return false;
        std::map<std::string, std::string> challenge = {
            {"realm", "camsim"}, {"nonce", c.digestNonce}, {"algorithm", p["algorithm"]}};
        if (!p["qop"].empty())
            challenge["qop"] = p["qop"];
        const std::string expected =
            onvif::DigestResponse(challenge, settings_->user, settings_->password, req.method,
                                  p["uri"], p["nc"], p["cnonce"]);
        return !expected.empty() && expected == p["response"];
    }

    // 1: a valid UsernameToken; 0: none; -1: one that fails.
    int TokenState(const Camera& c, const xmlNode* envelope) const {
        const xmlNode* token =
            onvif::Find(onvif::Child(envelope, ns::kSoap, "Header"), ns::kWsse, "UsernameToken");
        if (!token)
            return 0;
        const std::string user = onvif::FindText(token, ns::kWsse, "Username").value_or("");
        const std::string digest = onvif::FindText(token, ns::kWsse, "Password").value_or("");
        const std::string nonce =
            onvif::Unbase64(onvif::FindText(token, ns::kWsse, "Nonce").value_or(""));
        const std::string created = onvif::FindText(token, ns::kWsu, "Created").value_or("");
        int64_t t = 0;
        if (user != settings_->user || nonce.empty() || !onvif::ParseUtcText(created, &t) ||
            std::llabs(t - CameraClock(c)) > kCreatedToleranceSeconds)
            return -1;
        return onvif::PasswordDigest(nonce, created, settings_->password) == digest ? 1 : -1;
    }

    static void Challenge(const Camera& c, httplib::Response& res) {
        res.status = 401;
        res.set_header("WWW-Authenticate", "Digest realm=\"camsim\", qop=\"auth\", nonce=\"" +
                                               c.digestNonce + "\", algorithm=MD5");
    }
    static void Send(httplib::Response& res, int status, const std::string& body) {
        res.status = status;
        res.set_content(body, "application/soap+xml; charset=utf-8");
    }
    static void SendFault(httplib::Response& res, bool sender, const char* subcode,
                          const std::string& reason) {
        Send(res, sender ? 400 : 500,
             onvif::soap::Fault(sender ? "Sender" : "Receiver", subcode, reason));
    }

    void Handle(Camera& c, const httplib::Request& req, httplib::Response& res) {
        const XmlDoc doc = XmlDoc::Parse(req.body);
        const xmlNode* env = doc.Root();
        const xmlNode* body = onvif::Child(env, ns::kSoap, "Body");
        const xmlNode* call = nullptr;
        for (xmlNodePtr n = body ? body->children : nullptr; n && !call; n = n->next)
            if (n->type == XML_ELEMENT_NODE)
                call = n;
        if (!onvif::Is(env, ns::kSoap, "Envelope") || !call || !call->ns) {
            // HTTP clients send an empty request first to learn the digest challenge.
            if (!DigestOk(c, req))
                Challenge(c, res);
            else
                SendFault(res, true, "WellFormed", "not a SOAP 1.2 request");
            return;
        }
        const std::string service = reinterpret_cast<const char*>(call->ns->href);
        const std::string op = reinterpret_cast<const char*>(call->name);
        const bool open = service == ns::kDevice && op == "GetSystemDateAndTime";
        if (!open) {
            const bool digest = DigestOk(c, req);
            const int token = c.faults & kDigestOnly ? 0 : TokenState(c, env);
            if (!digest && token <= 0) {
                if (token < 0) {
                    SendFault(res, true, "NotAuthorized", "the user name or password is wrong");
                    return;
                }
                Challenge(c, res);
                return;
            }
            // Answered with the old clock; the next request meets the new one.
            if (c.faults & kClockJump)
                c.clockJumped = true;
        }
        if (service != ns::kDevice && (c.faults & kEmpty)) {
            res.status = 200;
            return;
        }
        if (service != ns::kDevice && (c.faults & kSoapFault)) {
            SendFault(res, false, "ActionFailed", "camsim: simulated failure");
            return;
        }
        std::string answer;
        if (service == ns::kDevice)
            answer = Device(c, op, call, res);
        else if (service == ns::kMedia)
            answer = Media(c, op, call);
        else if (service == ns::kImaging)
            answer = Imaging(c, op, call, res);
        else if (service == ns::kPtz)
            answer = Ptz(c, op, call, res);
        if (res.status >= 400 && !res.body.empty())
            return;
        if (answer.empty()) {
            SendFault(res, true, "ActionNotSupported", op + " is not supported");
            return;
        }
        Send(res, 200, Answer(answer));
    }

    std::string Device(Camera& c, const std::string& op, const xmlNode*, httplib::Response& res) {
        if (op == "GetSystemDateAndTime") {
            const std::string t = onvif::UtcText(CameraClock(c));  // YYYY-MM-DDTHH:MM:SSZ
            return "<tds:GetSystemDateAndTimeResponse><tds:SystemDateAndTime><tt:DateTimeType>"
                   "Manual</tt:DateTimeType><tt:DaylightSavings>false</tt:DaylightSavings>"
                   "<tt:TimeZone><tt:TZ>UTC0</tt:TZ></"
                   "tt:TimeZone><tt:UTCDateTime><tt:Date><tt:Year>" +
                   t.substr(0, 4) + "</tt:Year><tt:Month>" +
                   std::to_string(std::stoi(t.substr(5, 2))) + "</tt:Month><tt:Day>" +
                   std::to_string(std::stoi(t.substr(8, 2))) +
                   "</tt:Day></tt:Date><tt:Time><tt:Hour>" +
                   std::to_string(std::stoi(t.substr(11, 2))) + "</tt:Hour><tt:Minute>" +
                   std::to_string(std::stoi(t.substr(14, 2))) + "</tt:Minute><tt:Second>" +
                   std::to_string(std::stoi(t.substr(17, 2))) +
                   "</tt:Second></tt:Time></tt:UTCDateTime></tds:SystemDateAndTime>"
                   "</tds:GetSystemDateAndTimeResponse>";
        }
        if (op == "GetServices") {
            if (c.faults & kNoServices) {
                SendFault(res, true, "ActionNotSupported", "GetServices is not supported");
                return {};
            }
            std::string s = "<tds:GetServicesResponse>";
            const std::pair<const char*, const char*> services[] = {
                {ns::kDevice, "device_service"},
                {ns::kMedia, "media_service"},
                {ns::kImaging, "imaging_service"},
                {ns::kPtz, "ptz_service"}};
            for (const auto& [uri, path] : services)
                s += std::string("<tds:Service><tds:Namespace>") + uri +
                     "</tds:Namespace><tds:XAddr>" + ServiceAddress(c, path) +
                     "</tds:XAddr><tds:Version><tt:Major>2</tt:Major><tt:Minor>0</tt:Minor>"
                     "</tds:Version></tds:Service>";
            return s + "</tds:GetServicesResponse>";
        }
        if (op == "GetCapabilities") {
            return "<tds:GetCapabilitiesResponse><tds:Capabilities><tt:Device><tt:XAddr>" +
                   ServiceAddress(c, "device_service") +
                   "</tt:XAddr></tt:Device><tt:Imaging><tt:XAddr>" +
                   ServiceAddress(c, "imaging_service") +
                   "</tt:XAddr></tt:Imaging><tt:Media><tt:XAddr>" +
                   ServiceAddress(c, "media_service") +
                   "</tt:XAddr><tt:StreamingCapabilities><tt:RTPMulticast>false</tt:RTPMulticast>"
                   "<tt:RTP_TCP>true</tt:RTP_TCP><tt:RTP_RTSP_TCP>true</tt:RTP_RTSP_TCP>"
                   "</tt:StreamingCapabilities></tt:Media><tt:PTZ><tt:XAddr>" +
                   ServiceAddress(c, "ptz_service") +
                   "</tt:XAddr></tt:PTZ></tds:Capabilities></tds:GetCapabilitiesResponse>";
        }
        if (op == "GetDeviceInformation") {
            return "<tds:GetDeviceInformationResponse><tds:Manufacturer>Strevo</tds:Manufacturer>"
                   "<tds:Model>camsim IPC</tds:Model><tds:FirmwareVersion>1.0</tds:FirmwareVersion>"
                   "<tds:SerialNumber>" +
                   onvif::Escape(c.cam->identity) +
                   "</tds:SerialNumber><tds:HardwareId>camsim</tds:HardwareId>"
                   "</tds:GetDeviceInformationResponse>";
        }
        if (op == "SystemReboot") {
            // The simulated camera comes back at once: its PTZ stops.
            if (c.cam->model)
                c.cam->model->MoveVelocity(0, 0, 0);
            return "<tds:SystemRebootResponse><tds:Message>Rebooting in 1 second</tds:Message>"
                   "</tds:SystemRebootResponse>";
        }
        return {};
    }

    std::string ProfileXml(const Camera& c, bool sub) const {
        const int w = sub ? settings_->SubWidth() : settings_->width;
        const int h = sub ? settings_->SubHeight() : settings_->height;
        const std::string token = sub ? "sub" : "main";
        (void)c;
        return "<trt:Profiles token=\"" + token + "\" fixed=\"true\"><tt:Name>" + token +
               "</tt:Name><tt:VideoSourceConfiguration token=\"vsc\"><tt:Name>video</tt:Name>"
               "<tt:UseCount>2</tt:UseCount><tt:SourceToken>video</tt:SourceToken>"
               "<tt:Bounds x=\"0\" y=\"0\" width=\"" +
               std::to_string(settings_->width) + "\" height=\"" +
               std::to_string(settings_->height) +
               "\"/></tt:VideoSourceConfiguration><tt:VideoEncoderConfiguration token=\"enc-" +
               token + "\"><tt:Name>" + token +
               "</tt:Name><tt:UseCount>1</tt:UseCount>"
               "<tt:Encoding>H264</tt:Encoding><tt:Resolution><tt:Width>" +
               std::to_string(w) + "</tt:Width><tt:Height>" + std::to_string(h) +
               "</tt:Height></tt:Resolution><tt:Quality>5</tt:Quality><tt:RateControl>"
               "<tt:FrameRateLimit>" +
               std::to_string(settings_->fps) +
               "</tt:FrameRateLimit><tt:EncodingInterval>1</tt:EncodingInterval>"
               "<tt:BitrateLimit>2048</tt:BitrateLimit></tt:RateControl><tt:H264><tt:GovLength>" +
               std::to_string(settings_->fps * 2) +
               "</tt:GovLength><tt:H264Profile>Main</tt:H264Profile></tt:H264>"
               "<tt:SessionTimeout>PT60S</tt:SessionTimeout></tt:VideoEncoderConfiguration>"
               "<tt:PTZConfiguration token=\"ptz\"><tt:Name>ptz</tt:Name><tt:UseCount>2"
               "</tt:UseCount><tt:NodeToken>ptz-node</tt:NodeToken>"
               "<tt:DefaultContinuousPanTiltVelocitySpace>http://www.onvif.org/ver10/tptz/"
               "PanTiltSpaces/VelocityGenericSpace</tt:DefaultContinuousPanTiltVelocitySpace>"
               "<tt:DefaultContinuousZoomVelocitySpace>http://www.onvif.org/ver10/tptz/ZoomSpaces/"
               "VelocityGenericSpace</tt:DefaultContinuousZoomVelocitySpace>"
               "<tt:DefaultPTZTimeout>PT10S</tt:DefaultPTZTimeout></tt:PTZConfiguration>"
               "</trt:Profiles>";
    }

    std::string Media(const Camera& c, const std::string& op, const xmlNode* call) const {
        if (op == "GetProfiles")
            return "<trt:GetProfilesResponse>" + ProfileXml(c, false) + ProfileXml(c, true) +
                   "</trt:GetProfilesResponse>";
        if (op == "GetProfile") {
            const bool sub =
                onvif::FindText(call, ns::kMedia, "ProfileToken").value_or("") == "sub";
            return "<trt:GetProfileResponse>" + ProfileXml(c, sub) + "</trt:GetProfileResponse>";
        }
        if (op == "GetVideoSources") {
            return "<trt:GetVideoSourcesResponse><trt:VideoSources token=\"video\"><tt:Framerate>" +
                   std::to_string(settings_->fps) + "</tt:Framerate><tt:Resolution><tt:Width>" +
                   std::to_string(settings_->width) + "</tt:Width><tt:Height>" +
                   std::to_string(settings_->height) +
                   "</tt:Height></tt:Resolution></trt:VideoSources></trt:GetVideoSourcesResponse>";
        }
        if (op == "GetStreamUri" || op == "GetSnapshotUri") {
            const bool sub =
                onvif::FindText(call, ns::kMedia, "ProfileToken").value_or("") == "sub";
            const std::string uri = op == "GetStreamUri"
                                        ? "rtsp://" + HostOf(c) + ":" +
                                              std::to_string(options_.rtspPort) +
                                              (sub ? "/sub" : "/main")
                                        : "http://" + HostOf(c) + ":" +
                                              std::to_string(options_.port) + "/onvif/snapshot.jpg";
            return "<trt:" + op + "Response><trt:MediaUri><tt:Uri>" + onvif::Escape(uri) +
                   "</tt:Uri><tt:InvalidAfterConnect>false</tt:InvalidAfterConnect>"
                   "<tt:InvalidAfterReboot>false</tt:InvalidAfterReboot><tt:Timeout>PT0S"
                   "</tt:Timeout></trt:MediaUri></trt:" +
                   op + "Response>";
        }
        return {};
    }

    std::string Imaging(Camera& c, const std::string& op, const xmlNode* call,
                        httplib::Response& res) {
        CameraModel* model = c.cam->model.get();
        if (!model)
            return {};
        if (op == "GetImagingSettings") {
            onvif::ImagingSettings s;
            for (const ImagingKey& k : ImagingKeys()) {
                int32_t v = 0;
                if (!model->GetParam(k.key, &v))
                    continue;
                std::string text = Format(v * k.scale);
                if (!k.modes.empty()) {
                    text = k.modes.front().first;
                    for (const auto& [name, value] : k.modes)
                        if (value == v)
                            text = name;
                }
                onvif::SetImagingField(&s, k.field, text);
            }
            return "<timg:GetImagingSettingsResponse><timg:ImagingSettings>" +
                   onvif::soap::ImagingSettingsXml(s) +
                   "</timg:ImagingSettings></timg:GetImagingSettingsResponse>";
        }
        if (op == "GetOptions") {
            auto range = [](const char* name, const ImagingKey& k) {
                return std::string("<tt:") + name + "><tt:Min>" + Format(k.min) +
                       "</tt:Min><tt:Max>" + Format(k.max) + "</tt:Max></tt:" + name + ">";
            };
            auto modes = [](const char* name, const ImagingKey& k) {
                std::string s;
                for (const auto& m : k.modes)
                    s += std::string("<tt:") + name + ">" + m.first + "</tt:" + name + ">";
                return s;
            };
            auto key = [](const char* field) -> const ImagingKey& {
                for (const ImagingKey& k : ImagingKeys())
                    if (std::string(k.field) == field)
                        return k;
                return ImagingKeys().front();
            };
            return "<timg:GetOptionsResponse><timg:ImagingOptions><tt:BacklightCompensation>" +
                   modes("Mode", key("backlight")) + "</tt:BacklightCompensation>" +
                   range("Brightness", key("brightness")) +
                   range("ColorSaturation", key("saturation")) +
                   range("Contrast", key("contrast")) + "<tt:Exposure>" +
                   modes("Mode", key("exposure")) + range("ExposureTime", key("exposure-time")) +
                   range("Gain", key("gain")) + "</tt:Exposure><tt:Focus>" +
                   modes("AutoFocusModes", key("focus")) + "</tt:Focus>" +
                   range("Sharpness", key("sharpness")) + "<tt:WideDynamicRange>" +
                   modes("Mode", key("wdr")) + range("Level", key("wdr-level")) +
                   "</tt:WideDynamicRange><tt:WhiteBalance>" + modes("Mode", key("white-balance")) +
                   range("YrGain", key("cr-gain")) + range("YbGain", key("cb-gain")) +
                   "</tt:WhiteBalance></timg:ImagingOptions></timg:GetOptionsResponse>";
        }
        if (op == "SetImagingSettings") {
            onvif::ImagingSettings s;
            onvif::soap::ReadImagingSettings(onvif::Find(call, ns::kImaging, "ImagingSettings"),
                                             &s);
            // All or nothing, as the SDK side: a bad value refuses the request.
            std::string json = "{\"Cmd\":\"ReqSetVideoParam\",\"Content\":{\"VideoParam\":{";
            bool first = true;
            for (const ImagingKey& k : ImagingKeys()) {
                const auto text = onvif::GetImagingField(s, k.field);
                if (!text)
                    continue;
                int32_t stored = 0;
                if (!k.modes.empty()) {
                    bool found = false;
                    for (const auto& [name, value] : k.modes)
                        if (*text == name)
                            stored = value, found = true;
                    if (!found) {
                        SendFault(res, true, "InvalidArgVal",
                                  std::string(k.field) + ": no such mode");
                        return {};
                    }
                } else {
                    const double v = onvif::Number(*text).value_or(k.min - 1);
                    if (v < k.min || v > k.max) {
                        SendFault(res, true, "InvalidArgVal",
                                  std::string(k.field) + " is out of range");
                        return {};
                    }
                    stored = static_cast<int32_t>(std::lround(v / k.scale));
                }
                json +=
                    std::string(first ? "" : ",") + "\"" + k.key + "\":" + std::to_string(stored);
                first = false;
            }
            json += "}}}";
            model->HandleJson(json);
            return "<timg:SetImagingSettingsResponse/>";
        }
        if (op == "GetMoveOptions")
            return "<timg:GetMoveOptionsResponse><timg:MoveOptions><tt:Continuous><tt:Speed><tt:"
                   "Min>"
                   "-1.0</tt:Min><tt:Max>1.0</tt:Max></tt:Speed></tt:Continuous></timg:MoveOptions>"
                   "</timg:GetMoveOptionsResponse>";
        if (op == "Move") {
            const auto speed = onvif::FindText(
                onvif::Find(onvif::Find(call, ns::kImaging, "Focus"), ns::kSchema, "Continuous"),
                ns::kSchema, "Speed");
            const auto v = speed ? onvif::Number(*speed) : std::nullopt;
            if (!v || *v < -1 || *v > 1) {
                SendFault(res, true, "InvalidArgVal", "only a continuous focus move at -1 to 1");
                return {};
            }
            model->MoveFocus(*v);
            return "<timg:MoveResponse/>";
        }
        if (op == "Stop") {
            model->MoveFocus(0);
            return "<timg:StopResponse/>";
        }
        return {};
    }

    std::string Ptz(Camera& c, const std::string& op, const xmlNode* call, httplib::Response& res) {
        CameraModel* model = c.cam->model.get();
        if (!model)
            return {};
        if (op == "GetConfigurationOptions")
            return "<tptz:GetConfigurationOptionsResponse><tptz:PTZConfigurationOptions><tt:Spaces>"
                   "<tt:ContinuousPanTiltVelocitySpace><tt:URI>http://www.onvif.org/ver10/tptz/"
                   "PanTiltSpaces/VelocityGenericSpace</tt:URI><tt:XRange><tt:Min>-1.0</tt:Min>"
                   "<tt:Max>1.0</tt:Max></tt:XRange><tt:YRange><tt:Min>-1.0</tt:Min><tt:Max>1.0"
                   "</tt:Max></tt:YRange></tt:ContinuousPanTiltVelocitySpace>"
                   "<tt:ContinuousZoomVelocitySpace><tt:URI>http://www.onvif.org/ver10/tptz/"
                   "ZoomSpaces/VelocityGenericSpace</tt:URI><tt:XRange><tt:Min>-1.0</"
                   "tt:Min><tt:Max>"
                   "1.0</tt:Max></tt:XRange></tt:ContinuousZoomVelocitySpace></tt:Spaces>"
                   "<tt:PTZTimeout><tt:Min>PT1S</tt:Min><tt:Max>PT60S</tt:Max></tt:PTZTimeout>"
                   "</tptz:PTZConfigurationOptions></tptz:GetConfigurationOptionsResponse>";
        if (op == "ContinuousMove") {
            const xmlNode* vel = onvif::Find(call, ns::kPtz, "Velocity");
            const xmlNode* pt = onvif::Find(vel, ns::kSchema, "PanTilt");
            const xmlNode* z = onvif::Find(vel, ns::kSchema, "Zoom");
            auto attr = [](const xmlNode* n, const char* name) {
                return onvif::Number(onvif::Attr(n, name));
            };
            const auto x = attr(pt, "x"), y = attr(pt, "y"), zx = attr(z, "x");
            if ((!pt && !z) || (pt && (!x || !y)) || (z && !zx) || std::fabs(x.value_or(0)) > 1 ||
                std::fabs(y.value_or(0)) > 1 || std::fabs(zx.value_or(0)) > 1) {
                SendFault(res, true, "InvalidArgVal", "velocity outside -1 to 1");
                return {};
            }
            model->MoveVelocity(x.value_or(0), y.value_or(0), zx.value_or(0));
            return "<tptz:ContinuousMoveResponse/>";
        }
        if (op == "Stop") {
            if (c.faults & kNoStop) {
                SendFault(res, true, "ActionNotSupported", "Stop is not supported");
                return {};
            }
            model->MoveVelocity(0, 0, 0);
            return "<tptz:StopResponse/>";
        }
        if (op == "GetPresets") {
            std::lock_guard<std::mutex> lock(c.mu);
            std::string s = "<tptz:GetPresetsResponse>";
            for (const auto& [token, p] : c.presets)
                s += "<tptz:Preset token=\"" + onvif::Escape(token) + "\"><tt:Name>" +
                     onvif::Escape(p.name) + "</tt:Name></tptz:Preset>";
            return s + "</tptz:GetPresetsResponse>";
        }
        const std::string token = onvif::FindText(call, ns::kPtz, "PresetToken").value_or("");
        if (op == "SetPreset") {
            std::lock_guard<std::mutex> lock(c.mu);
            std::string t = token;
            if (t.empty()) {
                // The lowest free number, as operators count presets.
                for (int n = 1;; ++n)
                    if (!c.presets.count(std::to_string(n))) {
                        t = std::to_string(n);
                        break;
                    }
            } else if (!c.presets.count(t) && c.presets.size() >= 256) {
                SendFault(res, false, "TooManyPresets", "no room for another preset");
                return {};
            }
            const CameraSnapshot snap = model->Snapshot();
            PresetPos& p = c.presets[t];
            p.name = onvif::FindText(call, ns::kPtz, "PresetName")
                         .value_or(p.name.empty() ? "Preset " + t : p.name);
            p.pan = snap.pan;
            p.tilt = snap.tilt;
            p.zoom = snap.zoom;
            return "<tptz:SetPresetResponse><tptz:PresetToken>" + onvif::Escape(t) +
                   "</tptz:PresetToken></tptz:SetPresetResponse>";
        }
        if (op == "GotoPreset" || op == "RemovePreset") {
            std::lock_guard<std::mutex> lock(c.mu);
            auto it = c.presets.find(token);
            if (it == c.presets.end()) {
                SendFault(res, true, "NoToken", "no preset " + token);
                return {};
            }
            if (op == "GotoPreset") {
                model->SetPosition(it->second.pan, it->second.tilt, it->second.zoom);
                return "<tptz:GotoPresetResponse/>";
            }
            c.presets.erase(it);
            return "<tptz:RemovePresetResponse/>";
        }
        if (op == "GotoHomePosition") {
            model->SetPosition(0, 0, 0);
            return "<tptz:GotoHomePositionResponse/>";
        }
        return {};
    }

    void PrintEndpoints() const {
        if (cameras_.empty())
            return;
        if (cameras_.size() <= 8) {
            for (const auto& c : cameras_)
                std::printf("camsim: onvif camera %s at http://%s:%d/onvif/device_service\n",
                            c->cam->name.c_str(), c->cam->address.c_str(), options_.port);
        } else {
            std::printf("camsim: %zu onvif cameras at http://%s:%d to %s:%d\n", cameras_.size(),
                        cameras_.front()->cam->address.c_str(), options_.port,
                        cameras_.back()->cam->address.c_str(), options_.port);
        }
        if (options_.faults) {
            std::string names;
            for (const FaultName& f : kFaultNames)
                if (options_.faults & f.bit)
                    names += std::string(" ") + f.name;
            std::printf("camsim: onvif faults on %s:%s\n",
                        options_.faultCamera ? cameras_[options_.faultCamera - 1]->cam->name.c_str()
                                             : "every camera",
                        names.c_str());
        }
        std::fflush(stdout);
    }

    std::shared_ptr<const NetSettings> settings_;
    OnvifOptions options_;
    std::vector<std::unique_ptr<Camera>> cameras_;
    onvif::net::Udp group_;
    std::atomic<bool> stopDiscovery_{false};
    std::thread discoveryThread_;
};

}  // namespace

std::unique_ptr<Module> MakeOnvifModule(std::shared_ptr<const NetSettings> shared) {
    return std::make_unique<OnvifModule>(std::move(shared));
}

}  // namespace camsim
