#include "OnvifClient.h"

#include <httplib.h>

#include <chrono>
#include <cstring>
#include <functional>

#include "OnvifAuth.h"
#include "OnvifNet.h"
#include "OnvifSoap.h"
#include "OnvifXml.h"

namespace onvif {

const char* ErrorText(int32_t code) {
    switch (code) {
        case kOk:
            return "success";
        case kErrAddress:
            return "not a camera address (host[:port] or http://host[:port]/path)";
        case kErrConnect:
            return "nothing answers at the camera's address";
        case kErrTimeout:
            return "the camera did not answer in time";
        case kErrAuth:
            return "the camera refused the user name or password";
        case kErrFault:
            return "the camera refused the request (SOAP fault)";
        case kErrEmptyAnswer:
            return "the camera answered with an empty message";
        case kErrMalformed:
            return "the camera's answer is not the message expected";
        case kErrHttp:
            return "the camera answered with an HTTP error";
        case kErrUnsupported:
            return "the camera does not offer this service";
        case kErrNotConnected:
            return "not connected to the camera";
        case kErrArgument:
            return "a value given is out of range or unknown";
        case kErrNoResources:
            return "out of resources (random bytes, memory)";
        default:
            return "unknown error";
    }
}

namespace {

using SteadyClock = std::chrono::steady_clock;

int64_t NowUnix() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::optional<Range> ReadRange(const xmlNode* node) {
    if (!node)
        return std::nullopt;
    const auto lo = FindText(node, ns::kSchema, "Min");
    const auto hi = FindText(node, ns::kSchema, "Max");
    const auto a = lo ? Number(*lo) : std::nullopt;
    const auto b = hi ? Number(*hi) : std::nullopt;
    if (!a || !b)
        return std::nullopt;
    return Range{*a, *b};
}

// One imaging field: where it sits in the settings and in the options.
struct FieldDef {
    ImagingField field;
    const char* group;       // child of ImagingSettings (schema order)
    const char* leaf;        // below the group; nullptr: the group holds the value
    const char* optionLeaf;  // name in the options; nullptr: same as leaf
    std::optional<double> ImagingSettings::*number;
    std::optional<std::string> ImagingSettings::*mode;
    std::optional<Range> ImagingOptions::*range;
    std::vector<std::string> ImagingOptions::*choices;
};

using S = ImagingSettings;
using O = ImagingOptions;
// In the schema's order, so a write can be emitted from this table.
const FieldDef kFields[] = {
    {{"backlight", false},
     "BacklightCompensation",
     "Mode",
     nullptr,
     nullptr,
     &S::backlightMode,
     nullptr,
     &O::backlightModes},
    {{"backlight-level", true},
     "BacklightCompensation",
     "Level",
     nullptr,
     &S::backlightLevel,
     nullptr,
     &O::backlightLevel,
     nullptr},
    {{"brightness", true},
     "Brightness",
     nullptr,
     nullptr,
     &S::brightness,
     nullptr,
     &O::brightness,
     nullptr},
    {{"saturation", true},
     "ColorSaturation",
     nullptr,
     nullptr,
     &S::colorSaturation,
     nullptr,
     &O::colorSaturation,
     nullptr},
    {{"contrast", true},
     "Contrast",
     nullptr,
     nullptr,
     &S::contrast,
     nullptr,
     &O::contrast,
     nullptr},
    {{"exposure", false},
     "Exposure",
     "Mode",
     nullptr,
     nullptr,
     &S::exposureMode,
     nullptr,
     &O::exposureModes},
    {{"exposure-time", true},
     "Exposure",
     "ExposureTime",
     nullptr,
     &S::exposureTime,
     nullptr,
     &O::exposureTime,
     nullptr},
    {{"gain", true}, "Exposure", "Gain", nullptr, &S::gain, nullptr, &O::gain, nullptr},
    {{"iris", true}, "Exposure", "Iris", nullptr, &S::iris, nullptr, &O::iris, nullptr},
    {{"focus", false},
     "Focus",
     "AutoFocusMode",
     "AutoFocusModes",
     nullptr,
     &S::focusMode,
     nullptr,
     &O::focusModes},
    {{"ircut", false},
     "IrCutFilter",
     nullptr,
     nullptr,
     nullptr,
     &S::irCutFilter,
     nullptr,
     &O::irCutFilterModes},
    {{"sharpness", true},
     "Sharpness",
     nullptr,
     nullptr,
     &S::sharpness,
     nullptr,
     &O::sharpness,
     nullptr},
    {{"wdr", false},
     "WideDynamicRange",
     "Mode",
     nullptr,
     nullptr,
     &S::wdrMode,
     nullptr,
     &O::wdrModes},
    {{"wdr-level", true},
     "WideDynamicRange",
     "Level",
     nullptr,
     &S::wdrLevel,
     nullptr,
     &O::wdrLevel,
     nullptr},
    {{"white-balance", false},
     "WhiteBalance",
     "Mode",
     nullptr,
     nullptr,
     &S::whiteBalanceMode,
     nullptr,
     &O::whiteBalanceModes},
    {{"cr-gain", true},
     "WhiteBalance",
     "CrGain",
     "YrGain",
     &S::crGain,
     nullptr,
     &O::crGain,
     nullptr},
    {{"cb-gain", true},
     "WhiteBalance",
     "CbGain",
     "YbGain",
     &S::cbGain,
     nullptr,
     &O::cbGain,
     nullptr},
};
constexpr int kFieldCount = static_cast<int>(sizeof kFields / sizeof kFields[0]);

const FieldDef* FindDef(const std::string& name) {
    for (const FieldDef& f : kFields)
        if (name == f.field.name)
            return &f;
    return nullptr;
}

// The element holding a field below an ImagingSettings or ImagingOptions node.
const xmlNode* FieldNode(const xmlNode* top, const FieldDef& f, bool options) {
    const xmlNode* g = Child(top, ns::kSchema, f.group);
    if (!g || !f.leaf)
        return g;
    return Child(g, ns::kSchema, options && f.optionLeaf ? f.optionLeaf : f.leaf);
}

struct Url {
    std::string scheme, host, path;
    int port = 0;
};

// scheme://host[:port][/path]; without a scheme, http.
bool ParseUrl(const std::string& text, Url* u, int defaultPort) {
    std::string rest = text;
    const size_t sep = rest.find("://");
    u->scheme = "http";
    if (sep != std::string::npos) {
        u->scheme = rest.substr(0, sep);
        rest = rest.substr(sep + 3);
    }
    const size_t slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    u->path = slash == std::string::npos ? "" : rest.substr(slash);
    const size_t at = authority.rfind('@');
    if (at != std::string::npos)
        authority = authority.substr(at + 1);
    const size_t colon = authority.rfind(':');
    u->port = defaultPort;
    if (colon != std::string::npos) {
        const std::string p = authority.substr(colon + 1);
        const auto n = Number(p);
        if (p.empty() || !n || *n < 1 || *n > 65535 || p.find('.') != std::string::npos)
            return false;
        u->port = static_cast<int>(*n);
        authority = authority.substr(0, colon);
    }
    u->host = authority;
    if (u->host.empty())
        return false;
    for (char c : u->host)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_'))
            return false;
    return true;
}

}  // namespace

int ImagingFieldCount() {
    return kFieldCount;
}

const ImagingField* ImagingFieldAt(int index) {
    return index >= 0 && index < kFieldCount ? &kFields[index].field : nullptr;
}

const ImagingField* FindImagingField(const std::string& name) {
    const FieldDef* f = FindDef(name);
    return f ? &f->field : nullptr;
}

std::optional<std::string> GetImagingField(const ImagingSettings& s, const std::string& name) {
    const FieldDef* f = FindDef(name);
    if (!f)
        return std::nullopt;
    if (f->number) {
        const auto& v = s.*(f->number);
        return v ? std::optional<std::string>(Format(*v)) : std::nullopt;
    }
    return s.*(f->mode);
}

int32_t SetImagingField(ImagingSettings* s, const std::string& name, const std::string& value) {
    const FieldDef* f = FindDef(name);
    if (!f || value.empty())
        return kErrArgument;
    if (f->number) {
        const auto v = Number(value);
        if (!v)
            return kErrArgument;
        s->*(f->number) = *v;
    } else {
        s->*(f->mode) = value;
    }
    return kOk;
}

std::optional<Range> ImagingFieldRange(const ImagingOptions& o, const std::string& name) {
    const FieldDef* f = FindDef(name);
    return f && f->range ? o.*(f->range) : std::nullopt;
}

std::vector<std::string> ImagingFieldChoices(const ImagingOptions& o, const std::string& name) {
    const FieldDef* f = FindDef(name);
    return f && f->choices ? o.*(f->choices) : std::vector<std::string>{};
}

namespace soap {

void ReadImagingSettings(const xmlNode* top, ImagingSettings* out) {
    *out = ImagingSettings{};
    for (const FieldDef& f : kFields) {
        const xmlNode* n = FieldNode(top, f, false);
        if (!n)
            continue;
        if (f.number)
            out->*(f.number) = Number(Text(n));
        else if (!Text(n).empty())
            out->*(f.mode) = Text(n);
    }
}

std::string ImagingSettingsXml(const ImagingSettings& s) {
    std::string xml;
    std::string open;  // the group element open now
    for (const FieldDef& f : kFields) {
        std::string value;
        if (f.number) {
            const auto& v = s.*(f.number);
            if (!v)
                continue;
            value = Format(*v);
        } else {
            const auto& v = s.*(f.mode);
            if (!v)
                continue;
            value = Escape(*v);
        }
        if (open != f.group) {
            if (!open.empty())
                xml += "</tt:" + open + ">";
            open.clear();
        }
        if (!f.leaf) {
            xml += std::string("<tt:") + f.group + ">" + value + "</tt:" + f.group + ">";
            continue;
        }
        if (open.empty()) {
            open = f.group;
            xml += "<tt:" + open + ">";
        }
        xml += std::string("<tt:") + f.leaf + ">" + value + "</tt:" + f.leaf + ">";
    }
    if (!open.empty())
        xml += "</tt:" + open + ">";
    return xml;
}

}  // namespace soap

int32_t ReadSoapAnswer(int httpStatus, const std::string& body, Error* error) {
    XmlDoc doc;
    return soap::Read(httpStatus, body, error, &doc, nullptr);
}

struct Client::Impl {
    Options options;
    Url device;  // the address connected to
    Services services;
    bool connected = false;
    int64_t clockOffset = 0;
    bool stopEmulated = false;
    Error error;
    // A digest challenge once a camera sent one; answered on every later call.
    std::map<std::string, std::string> challenge;
    uint32_t challengeCount = 0;
    std::map<std::string, std::unique_ptr<httplib::Client>> http;
    std::map<std::string, bool> reachable;  // host:port -> accepted a connection

    int32_t Fail(int32_t code, const std::string& detail = {}) {
        error.code = code;
        error.text = ErrorText(code);
        if (!detail.empty())
            error.text += ": " + detail;
        return code;
    }

    httplib::Client& HttpFor(const Url& u) {
        const std::string key = u.host + ":" + std::to_string(u.port);
        auto& c = http[key];
        if (!c) {
            c = std::make_unique<httplib::Client>(u.host, u.port);
            c->set_connection_timeout(std::chrono::milliseconds(options.connectLimitMs));
            c->set_read_timeout(std::chrono::milliseconds(options.readLimitMs));
            c->set_write_timeout(std::chrono::milliseconds(options.readLimitMs));
            c->set_keep_alive(true);
            // Headers and body go out apart: without this, Nagle and delayed ACKs add 40 ms.
            c->set_tcp_nodelay(true);
        }
        return *c;
    }

    // One HTTP exchange with the digest answered when asked. status 0: no answer.
    int32_t Post(const Url& u, const std::string& action, const std::string& body, int* status,
                 std::string* answer) {
        const std::string path = u.path.empty() ? "/" : u.path;
        const std::string type = "application/soap+xml; charset=utf-8; action=\"" + action + "\"";
        for (int attempt = 0; attempt < 2; ++attempt) {
            httplib::Headers headers;
            if (!challenge.empty() && !options.user.empty()) {
                const std::string auth = DigestAuthorization(
                    challenge, options.user, options.password, "POST", path, ++challengeCount);
                if (!auth.empty())
                    headers.emplace("Authorization", auth);
            }
            httplib::Client& c = HttpFor(u);
            const auto start = SteadyClock::now();
            auto res = c.Post(path.c_str(), headers, body, type.c_str());
            if (!res) {
                const auto err = res.error();
                const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                    SteadyClock::now() - start)
                                    .count();
                http.erase(u.host + ":" + std::to_string(u.port));
                *status = 0;
                if (err == httplib::Error::ConnectionTimeout ||
                    (err == httplib::Error::Read && ms + 50 >= options.readLimitMs))
                    return Fail(kErrTimeout, u.host + ":" + std::to_string(u.port));
                if (err == httplib::Error::Connection)
                    return Fail(kErrConnect, u.host + ":" + std::to_string(u.port));
                return Fail(kErrHttp, "the connection broke (" + httplib::to_string(err) + ")");
            }
            *status = res->status;
            *answer = res->body;
            if (res->status != 401 || options.user.empty())
                return kOk;
            // 401: answer a digest challenge once; a second 401 is a refusal.
            std::map<std::string, std::string> fresh;
            bool found = false;
            auto range = res->headers.equal_range("WWW-Authenticate");
            for (auto it = range.first; it != range.second && !found; ++it) {
                std::map<std::string, std::string> p;
                if (ParseDigestHeader(it->second, &p) &&
                    !HexDigest(p.count("algorithm") ? p["algorithm"] : "", "").empty()) {
                    fresh = p;
                    found = true;
                }
            }
            const bool stale =
                fresh.count("stale") && (fresh["stale"] == "true" || fresh["stale"] == "TRUE");
            if (!found || (attempt > 0 && !stale))
                return kOk;
            challenge = fresh;
            challengeCount = 0;
        }
        return kOk;
    }

    // A SOAP request to a service; answerBody gets the Body's first child.
    int32_t Call(const std::string& service, const char* action, const std::string& body,
                 bool authenticate, XmlDoc* doc, xmlNodePtr* answerBody) {
        Url u;
        if (service.empty())
            return Fail(kErrUnsupported);
        if (!ParseUrl(service, &u, 80) || u.scheme != "http")
            return Fail(kErrAddress, "the camera named a service address that is not plain HTTP");
        error = Error{};
        for (int attempt = 0;; ++attempt) {
            std::string header;
            if (authenticate && !options.user.empty()) {
                header =
                    UsernameTokenHeader(options.user, options.password, NowUnix() + clockOffset);
                if (header.empty())
                    return Fail(kErrNoResources, "no random bytes for the nonce");
            }
            const std::string envelope = soap::Envelope(header, body);
            int status = 0;
            std::string answer;
            if (const int32_t r = Post(u, action, envelope, &status, &answer); r != kOk)
                return r;
            const int32_t r = soap::Read(status, answer, &error, doc, answerBody);
            // NotAuthorized may be our clock: read the camera's once more.
            if (r == kErrAuth && status != 401 && authenticate && attempt == 0 &&
                !options.user.empty()) {
                const Error saved = error;
                if (ReadClock() == kOk)
                    continue;
                error = saved;
            }
            return r;
        }
    }

    int32_t ReadClock() {
        XmlDoc doc;
        xmlNodePtr body = nullptr;
        const int32_t r = Call(services.device, soap::kActionGetSystemDateAndTime,
                               "<tds:GetSystemDateAndTime/>", false, &doc, &body);
        if (r != kOk)
            return r;
        const xmlNode* utc = Find(body, ns::kSchema, "UTCDateTime");
        auto part = [&](const char* group, const char* name) {
            const auto t = FindText(Find(utc, ns::kSchema, group), ns::kSchema, name);
            const auto n = t ? Number(*t) : std::nullopt;
            return n ? static_cast<int>(*n) : -1;
        };
        const int64_t camera =
            UnixSeconds(part("Date", "Year"), part("Date", "Month"), part("Date", "Day"),
                        part("Time", "Hour"), part("Time", "Minute"), part("Time", "Second"));
        if (!utc || camera < 0)
            return Fail(kErrMalformed, "no UTC time in the camera's clock answer");
        clockOffset = camera - NowUnix();
        return kOk;
    }

    // The host of a returned address replaced by the connected one, if the
    // option says so.
    std::string Rewrite(const std::string& address, int defaultPort) {
        Url u;
        if (address.empty() || !ParseUrl(address, &u, defaultPort) || u.host == device.host)
            return address;
        bool replace = options.useConnectedHost == UseConnectedHost::kAlways;
        if (options.useConnectedHost == UseConnectedHost::kAuto) {
            const std::string key = u.host + ":" + std::to_string(u.port);
            auto it = reachable.find(key);
            if (it == reachable.end())
                it = reachable
                         .emplace(key, net::TcpReachable(u.host, u.port, options.connectLimitMs))
                         .first;
            replace = !it->second;
        }
        if (!replace)
            return address;
        const size_t sep = address.find("://");
        const size_t start = sep == std::string::npos ? 0 : sep + 3;
        size_t end = address.find('/', start);
        if (end == std::string::npos)
            end = address.size();
        std::string authority = address.substr(start, end - start);
        const size_t at = authority.rfind('@');
        const std::string userInfo = at == std::string::npos ? "" : authority.substr(0, at + 1);
        const std::string hostPort = at == std::string::npos ? authority : authority.substr(at + 1);
        const size_t colon = hostPort.rfind(':');
        const std::string port = colon == std::string::npos ? "" : hostPort.substr(colon);
        return address.substr(0, start) + userInfo + device.host + port + address.substr(end);
    }

    int32_t ReadServices() {
        XmlDoc doc;
        xmlNodePtr body = nullptr;
        int32_t r = Call(services.device, soap::kActionGetServices,
                         "<tds:GetServices><tds:IncludeCapability>false</tds:IncludeCapability>"
                         "</tds:GetServices>",
                         true, &doc, &body);
        if (r == kOk) {
            for (const xmlNode* s : FindAll(body, ns::kDevice, "Service")) {
                const std::string nsText = FindText(s, ns::kDevice, "Namespace").value_or("");
                const std::string addr = FindText(s, ns::kDevice, "XAddr").value_or("");
                if (nsText == ns::kDevice)
                    services.device = addr;
                else if (nsText == ns::kMedia)
                    services.media = addr;
                else if (nsText == ns::kImaging)
                    services.imaging = addr;
                else if (nsText == ns::kPtz)
                    services.ptz = addr;
            }
            return kOk;
        }
        if (r == kErrConnect || r == kErrTimeout || r == kErrAuth || r == kErrNoResources)
            return r;
        // Older cameras: the capabilities carry the same addresses.
        r = Call(services.device, soap::kActionGetCapabilities,
                 "<tds:GetCapabilities><tds:Category>All</tds:Category></tds:GetCapabilities>",
                 true, &doc, &body);
        if (r != kOk)
            return r;
        const xmlNode* caps = Find(body, ns::kDevice, "Capabilities");
        auto addr = [&](const char* name) {
            return FindText(Child(caps, ns::kSchema, name), ns::kSchema, "XAddr").value_or("");
        };
        services.device = addr("Device");
        services.media = addr("Media");
        services.imaging = addr("Imaging");
        services.ptz = addr("PTZ");
        services.fromCapabilities = true;
        return kOk;
    }

    // Calls that need a connection and one answer element.
    int32_t Simple(const std::string& service, const char* action, const std::string& body,
                   XmlDoc* doc, xmlNodePtr* answer) {
        if (!connected)
            return Fail(kErrNotConnected);
        return Call(service, action, body, true, doc, answer);
    }
};

Client::Client() : impl_(std::make_unique<Impl>()) {}
Client::~Client() = default;

int32_t Client::Connect(const Options& options) {
    Impl& m = *impl_;
    const Options keep = options;
    *impl_ = Impl{};
    m.options = keep;
    if (m.options.connectLimitMs <= 0 || m.options.readLimitMs <= 0)
        return m.Fail(kErrArgument, "the connect and read limits must be positive");
    if (!ParseUrl(m.options.address, &m.device, 80) || m.device.scheme != "http")
        return m.Fail(kErrAddress);
    if (m.device.path.empty() || m.device.path == "/")
        m.device.path = "/onvif/device_service";
    m.services.device =
        "http://" + m.device.host + ":" + std::to_string(m.device.port) + m.device.path;
    const std::string given = m.services.device;
    // Cameras that cannot tell the time still serve; the offset then stays 0.
    int32_t r = m.ReadClock();
    if (r == kErrConnect || r == kErrTimeout || r == kErrAddress)
        return r;
    r = m.ReadServices();
    if (r != kOk)
        return r;
    if (m.services.device.empty())
        m.services.device = given;
    for (std::string* s :
         {&m.services.device, &m.services.media, &m.services.imaging, &m.services.ptz})
        *s = m.Rewrite(*s, 80);
    m.connected = true;
    m.error = Error{};
    return kOk;
}

bool Client::Connected() const {
    return impl_->connected;
}
const Services& Client::ServiceAddresses() const {
    return impl_->services;
}
int64_t Client::ClockOffsetSeconds() const {
    return impl_->clockOffset;
}
const Error& Client::LastError() const {
    return impl_->error;
}
bool Client::StopWasEmulated() const {
    return impl_->stopEmulated;
}

namespace {

std::string Token(const char* element, const std::string& value) {
    return std::string("<") + element + ">" + Escape(value) + "</" + element + ">";
}

}  // namespace

int32_t Client::GetDeviceInformation(DeviceInfo* out) {
    XmlDoc doc;
    xmlNodePtr a = nullptr;
    const int32_t r = impl_->Simple(impl_->services.device, soap::kActionGetDeviceInformation,
                                    "<tds:GetDeviceInformation/>", &doc, &a);
    if (r != kOk)
        return r;
    *out = DeviceInfo{};
    out->manufacturer = FindText(a, ns::kDevice, "Manufacturer").value_or("");
    out->model = FindText(a, ns::kDevice, "Model").value_or("");
    out->firmwareVersion = FindText(a, ns::kDevice, "FirmwareVersion").value_or("");
    out->serialNumber = FindText(a, ns::kDevice, "SerialNumber").value_or("");
    out->hardwareId = FindText(a, ns::kDevice, "HardwareId").value_or("");
    return kOk;
}

int32_t Client::SystemReboot(std::string* message) {
    XmlDoc doc;
    xmlNodePtr a = nullptr;
    const int32_t r = impl_->Simple(impl_->services.device, soap::kActionSystemReboot,
                                    "<tds:SystemReboot/>", &doc, &a);
    if (r == kOk && message)
        *message = FindText(a, ns::kDevice, "Message").value_or("");
    return r;
}

int32_t Client::GetProfiles(std::vector<Profile>* out) {
    XmlDoc doc;
    xmlNodePtr a = nullptr;
    const int32_t r = impl_->Simple(impl_->services.media, soap::kActionGetProfiles,
                                    "<trt:GetProfiles/>", &doc, &a);
    if (r != kOk)
        return r;
    out->clear();
    for (const xmlNode* p : FindAll(a, ns::kMedia, "Profiles")) {
        Profile profile;
        profile.token = Attr(p, "token");
        profile.name = FindText(p, ns::kSchema, "Name").value_or("");
        profile.videoSourceToken =
            FindText(Child(p, ns::kSchema, "VideoSourceConfiguration"), ns::kSchema, "SourceToken")
                .value_or("");
        const xmlNode* enc = Child(p, ns::kSchema, "VideoEncoderConfiguration");
        profile.encoding = FindText(enc, ns::kSchema, "Encoding").value_or("");
        const xmlNode* res = Find(enc, ns::kSchema, "Resolution");
        profile.width =
            static_cast<int>(Number(FindText(res, ns::kSchema, "Width").value_or("")).value_or(0));
        profile.height =
            static_cast<int>(Number(FindText(res, ns::kSchema, "Height").value_or("")).value_or(0));
        profile.ptzConfigurationToken = Attr(Child(p, ns::kSchema, "PTZConfiguration"), "token");
        if (!profile.token.empty())
            out->push_back(std::move(profile));
    }
    return kOk;
}

int32_t Client::GetStreamUri(const std::string& profileToken, std::string* uri) {
    XmlDoc doc;
    xmlNodePtr a = nullptr;
    const int32_t r = impl_->Simple(
        impl_->services.media, soap::kActionGetStreamUri,
        "<trt:GetStreamUri><trt:StreamSetup><tt:Stream>RTP-Unicast</tt:Stream><tt:Transport>"
        "<tt:Protocol>RTSP</tt:Protocol></tt:Transport></trt:StreamSetup>" +
            Token("trt:ProfileToken", profileToken) + "</trt:GetStreamUri>",
        &doc, &a);
    if (r != kOk)
        return r;
    const auto u = FindText(a, ns::kSchema, "Uri");
    if (!u || u->empty())
        return impl_->Fail(kErrMalformed, "no stream address in the answer");
    *uri = impl_->Rewrite(*u, 554);
    return kOk;
}

int32_t Client::GetSnapshotUri(const std::string& profileToken, std::string* uri) {
    XmlDoc doc;
    xmlNodePtr a = nullptr;
    const int32_t r = impl_->Simple(
        impl_->services.media, soap::kActionGetSnapshotUri,
        "<trt:GetSnapshotUri>" + Token("trt:ProfileToken", profileToken) + "</trt:GetSnapshotUri>",
        &doc, &a);
    if (r != kOk)
        return r;
    const auto u = FindText(a, ns::kSchema, "Uri");
    if (!u || u->empty())
        return impl_->Fail(kErrMalformed, "no snapshot address in the answer");
    *uri = impl_->Rewrite(*u, 80);
    return kOk;
}

int32_t Client::GetImagingSettings(const std::string& source, ImagingSettings* out) {
    XmlDoc doc;
    xmlNodePtr a = nullptr;
    const int32_t r =
        impl_->Simple(impl_->services.imaging, soap::kActionGetImagingSettings,
                      "<timg:GetImagingSettings>" + Token("timg:VideoSourceToken", source) +
                          "</timg:GetImagingSettings>",
                      &doc, &a);
    if (r != kOk)
        return r;
    const xmlNode* top = Find(a, ns::kImaging, "ImagingSettings");
    if (!top)
        return impl_->Fail(kErrMalformed, "no imaging settings in the answer");
    soap::ReadImagingSettings(top, out);
    return kOk;
}

int32_t Client::GetImagingOptions(const std::string& source, ImagingOptions* out) {
    XmlDoc doc;
    xmlNodePtr a = nullptr;
    const int32_t r = impl_->Simple(
        impl_->services.imaging, soap::kActionGetOptions,
        "<timg:GetOptions>" + Token("timg:VideoSourceToken", source) + "</timg:GetOptions>", &doc,
        &a);
    if (r != kOk)
        return r;
    const xmlNode* top = Find(a, ns::kImaging, "ImagingOptions");
    if (!top)
        return impl_->Fail(kErrMalformed, "no imaging options in the answer");
    *out = ImagingOptions{};
    for (const FieldDef& f : kFields) {
        if (f.range) {
            out->*(f.range) = ReadRange(FieldNode(top, f, true));
            continue;
        }
        // Choices: every element of the name, e.g. Exposure/Mode repeated.
        const xmlNode* parent = top;
        const char* name = f.leaf;
        if (!f.leaf) {
            name = "IrCutFilterModes";
        } else {
            parent = Child(top, ns::kSchema, f.group);
            if (f.optionLeaf)
                name = f.optionLeaf;
        }
        for (xmlNodePtr c = parent ? parent->children : nullptr; c; c = c->next)
            if (Is(c, ns::kSchema, name) && !Text(c).empty())
                (out->*(f.choices)).push_back(Text(c));
    }
    return kOk;
}

int32_t Client::SetImagingSettings(const std::string& source, const ImagingSettings& s,
                                   bool forcePersistence) {
    std::string xml = "<timg:SetImagingSettings>" + Token("timg:VideoSourceToken", source) +
                      "<timg:ImagingSettings>";
    xml += soap::ImagingSettingsXml(s);
    xml += std::string("</timg:ImagingSettings><timg:ForcePersistence>") +
           (forcePersistence ? "true" : "false") +
           "</timg:ForcePersistence></timg:SetImagingSettings>";
    XmlDoc doc;
    xmlNodePtr a = nullptr;
    return impl_->Simple(impl_->services.imaging, soap::kActionSetImagingSettings, xml, &doc, &a);
}

int32_t Client::GetFocusMoveOptions(const std::string& source, FocusMoveOptions* out) {
    XmlDoc doc;
    xmlNodePtr a = nullptr;
    const int32_t r = impl_->Simple(
        impl_->services.imaging, soap::kActionGetMoveOptions,
        "<timg:GetMoveOptions>" + Token("timg:VideoSourceToken", source) + "</timg:GetMoveOptions>",
        &doc, &a);
    if (r != kOk)
        return r;
    *out = FocusMoveOptions{};
    const xmlNode* top = Find(a, ns::kImaging, "MoveOptions");
    out->continuousSpeed =
        ReadRange(Child(Child(top, ns::kSchema, "Continuous"), ns::kSchema, "Speed"));
    out->absolutePosition =
        ReadRange(Child(Child(top, ns::kSchema, "Absolute"), ns::kSchema, "Position"));
    out->relativeDistance =
        ReadRange(Child(Child(top, ns::kSchema, "Relative"), ns::kSchema, "Distance"));
    return kOk;
}

int32_t Client::FocusMove(const std::string& source, double speed) {
    XmlDoc doc;
    xmlNodePtr a = nullptr;
    return impl_->Simple(impl_->services.imaging, soap::kActionMove,
                         "<timg:Move>" + Token("timg:VideoSourceToken", source) +
                             "<timg:Focus><tt:Continuous><tt:Speed>" + Format(speed) +
                             "</tt:Speed></tt:Continuous></timg:Focus></timg:Move>",
                         &doc, &a);
}

int32_t Client::FocusStop(const std::string& source) {
    XmlDoc doc;
    xmlNodePtr a = nullptr;
    return impl_->Simple(impl_->services.imaging, soap::kActionImagingStop,
                         "<timg:Stop>" + Token("timg:VideoSourceToken", source) + "</timg:Stop>",
                         &doc, &a);
}

int32_t Client::GetPtzOptions(const std::string& configuration, PtzOptions* out) {
    XmlDoc doc;
    xmlNodePtr a = nullptr;
    const int32_t r = impl_->Simple(impl_->services.ptz, soap::kActionGetConfigurationOptions,
                                    "<tptz:GetConfigurationOptions>" +
                                        Token("tptz:ConfigurationToken", configuration) +
                                        "</tptz:GetConfigurationOptions>",
                                    &doc, &a);
    if (r != kOk)
        return r;
    *out = PtzOptions{};
    const xmlNode* spaces = Find(a, ns::kSchema, "Spaces");
    const xmlNode* pt = Child(spaces, ns::kSchema, "ContinuousPanTiltVelocitySpace");
    out->panTiltX = ReadRange(Child(pt, ns::kSchema, "XRange"));
    out->panTiltY = ReadRange(Child(pt, ns::kSchema, "YRange"));
    out->zoom = ReadRange(
        Child(Child(spaces, ns::kSchema, "ContinuousZoomVelocitySpace"), ns::kSchema, "XRange"));
    const xmlNode* t = Find(a, ns::kSchema, "PTZTimeout");
    if (t) {
        // xs:duration "PT1S" .. "PT60S": seconds only, as cameras send them.
        auto seconds = [](const std::optional<std::string>& d) -> std::optional<double> {
            if (!d || d->size() < 4 || d->rfind("PT", 0) != 0 || d->back() != 'S')
                return std::nullopt;
            return Number(d->substr(2, d->size() - 3));
        };
        const auto lo = seconds(FindText(t, ns::kSchema, "Min"));
        const auto hi = seconds(FindText(t, ns::kSchema, "Max"));
        if (lo && hi)
            out->timeout = Range{*lo, *hi};
    }
    return kOk;
}

namespace {

std::string Velocity(const PtzVelocity& v) {
    std::string xml;
    if (v.panX && v.panY)
        xml += "<tt:PanTilt x=\"" + Format(*v.panX) + "\" y=\"" + Format(*v.panY) + "\"/>";
    if (v.zoom)
        xml += "<tt:Zoom x=\"" + Format(*v.zoom) + "\"/>";
    return xml;
}

}  // namespace

int32_t Client::ContinuousMove(const std::string& profile, const PtzVelocity& v,
                               double timeoutSeconds) {
    if ((v.panX.has_value() != v.panY.has_value()) || (!v.panX && !v.zoom) || timeoutSeconds < 0)
        return impl_->Fail(kErrArgument, "a move needs pan and tilt together, or zoom");
    std::string xml = "<tptz:ContinuousMove>" + Token("tptz:ProfileToken", profile) +
                      "<tptz:Velocity>" + Velocity(v) + "</tptz:Velocity>";
    if (timeoutSeconds > 0)
        xml += "<tptz:Timeout>PT" + Format(timeoutSeconds) + "S</tptz:Timeout>";
    xml += "</tptz:ContinuousMove>";
    XmlDoc doc;
    xmlNodePtr a = nullptr;
    return impl_->Simple(impl_->services.ptz, soap::kActionContinuousMove, xml, &doc, &a);
}

int32_t Client::Stop(const std::string& profile) {
    impl_->stopEmulated = false;
    XmlDoc doc;
    xmlNodePtr a = nullptr;
    const int32_t r = impl_->Simple(impl_->services.ptz, soap::kActionPtzStop,
                                    "<tptz:Stop>" + Token("tptz:ProfileToken", profile) +
                                        "<tptz:PanTilt>true</tptz:PanTilt><tptz:Zoom>true"
                                        "</tptz:Zoom></tptz:Stop>",
                                    &doc, &a);
    if (r != kErrFault)
        return r;
    // Some cameras refuse Stop; a move at zero velocity halts them.
    PtzVelocity zero;
    zero.panX = 0;
    zero.panY = 0;
    zero.zoom = 0;
    const int32_t z = ContinuousMove(profile, zero);
    impl_->stopEmulated = z == kOk;
    return z;
}

int32_t Client::GetPresets(const std::string& profile, std::vector<Preset>* out) {
    XmlDoc doc;
    xmlNodePtr a = nullptr;
    const int32_t r = impl_->Simple(
        impl_->services.ptz, soap::kActionGetPresets,
        "<tptz:GetPresets>" + Token("tptz:ProfileToken", profile) + "</tptz:GetPresets>", &doc, &a);
    if (r != kOk)
        return r;
    out->clear();
    for (const xmlNode* p : FindAll(a, ns::kPtz, "Preset"))
        out->push_back({Attr(p, "token"), FindText(p, ns::kSchema, "Name").value_or("")});
    return kOk;
}

int32_t Client::GotoPreset(const std::string& profile, const std::string& preset) {
    XmlDoc doc;
    xmlNodePtr a = nullptr;
    return impl_->Simple(impl_->services.ptz, soap::kActionGotoPreset,
                         "<tptz:GotoPreset>" + Token("tptz:ProfileToken", profile) +
                             Token("tptz:PresetToken", preset) + "</tptz:GotoPreset>",
                         &doc, &a);
}

int32_t Client::SetPreset(const std::string& profile, const std::string& name,
                          const std::string& preset, std::string* tokenOut) {
    std::string xml = "<tptz:SetPreset>" + Token("tptz:ProfileToken", profile);
    if (!name.empty())
        xml += Token("tptz:PresetName", name);
    if (!preset.empty())
        xml += Token("tptz:PresetToken", preset);
    xml += "</tptz:SetPreset>";
    XmlDoc doc;
    xmlNodePtr a = nullptr;
    const int32_t r = impl_->Simple(impl_->services.ptz, soap::kActionSetPreset, xml, &doc, &a);
    if (r == kOk && tokenOut)
        *tokenOut = FindText(a, ns::kPtz, "PresetToken").value_or(preset);
    return r;
}

int32_t Client::RemovePreset(const std::string& profile, const std::string& preset) {
    XmlDoc doc;
    xmlNodePtr a = nullptr;
    return impl_->Simple(impl_->services.ptz, soap::kActionRemovePreset,
                         "<tptz:RemovePreset>" + Token("tptz:ProfileToken", profile) +
                             Token("tptz:PresetToken", preset) + "</tptz:RemovePreset>",
                         &doc, &a);
}

int32_t Client::GotoHomePosition(const std::string& profile) {
    XmlDoc doc;
    xmlNodePtr a = nullptr;
    return impl_->Simple(impl_->services.ptz, soap::kActionGotoHomePosition,
                         "<tptz:GotoHomePosition>" + Token("tptz:ProfileToken", profile) +
                             "</tptz:GotoHomePosition>",
                         &doc, &a);
}

}  // namespace onvif
