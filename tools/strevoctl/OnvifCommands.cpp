// onvif ...: ONVIF cameras through the ONVIF client: discovery, information,
// imaging settings, PTZ with presets, reboot.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "Commands.h"
#include "OnvifChannel.h"
#include "OnvifParamMap.h"
#include "VideoParam.h"
#include "OnvifClient.h"
#include "OnvifDiscovery.h"

namespace strevoctl {

const char* const kOnvifHelp =
    "  onvif discover [--seconds N] [--to ADDRESS]\n"
    "                              WS-Discovery probe (multicast, or to one ADDRESS) for\n"
    "                              N seconds (default 2, 1 to 60); one tab-separated line\n"
    "                              per camera: address, name, device service, endpoint\n"
    "  onvif info ADDRESS          device information, services, profiles, stream URIs\n"
    "  onvif get ADDRESS [--page | PAGEKEY...]\n"
    "                              imaging settings, with the camera's ranges and modes;\n"
    "                              with --page or PAGEKEYs, the image pages' values\n"
    "                              (as ip get) of the keys the camera has a setting for\n"
    "  onvif set ADDRESS KEY=VALUE...\n"
    "                              write imaging settings; KEY one of brightness,\n"
    "                              contrast, saturation, sharpness, backlight,\n"
    "                              backlight-level, exposure, exposure-time, gain, iris,\n"
    "                              focus, ircut, wdr, wdr-level, white-balance, cr-gain,\n"
    "                              cb-gain (numbers in the camera's range, modes as AUTO),\n"
    "                              or a page key as ip set takes it, spelt as there\n"
    "                              (Luminance=40 eWBMode=1), scaled into the camera's range\n"
    "  onvif ptz ADDRESS ACTION [SPEED] [--ms N]\n"
    "                              move for N ms (default 500, 1 to 60000), then stop;\n"
    "                              SPEED 1 to 8 (default 5); ACTION Up, Down, Left,\n"
    "                              Right, LeftUp, RightUp, LeftDown, RightDown, ZoomTele,\n"
    "                              ZoomWide, FocusNear, FocusFar, Stop or Home\n"
    "  onvif presets ADDRESS       list the presets: token and name\n"
    "  onvif preset ADDRESS goto|set|remove N\n"
    "                              call, store (the current position) or delete preset N\n"
    "  onvif reboot ADDRESS        restart the camera\n"
    "    ADDRESS is HOST[:PORT] or http://HOST[:PORT]/PATH (port 80 by default); options:\n"
    "    --user U, --password-file F, --password P  the login, as for rtsp (the\n"
    "                              environment variable STREVO_PASSWORD otherwise)\n";

namespace {

int OnvifUsage(const std::string& what) {
    std::fprintf(stderr, "strevoctl: %s\nusage:\n%s", what.c_str(), kOnvifHelp);
    return 2;
}

bool ParseInt(const std::string& v, long lo, long hi, int* out) {
    char* end = nullptr;
    const long n = std::strtol(v.c_str(), &end, 10);
    if (v.empty() || *end || n < lo || n > hi)
        return false;
    *out = static_cast<int>(n);
    return true;
}

int CallFailed(const onvif::Client& c, const std::string& what) {
    return Fail(what + ": " + c.LastError().text, c.LastError().code);
}

struct Camera {
    onvif::Client client;
    onvif::Profile profile;  // the first video profile
};

// Connects and reads the profiles; 0 or the exit status.
int Open(const std::string& address, const Credentials& login, Camera* cam,
         std::vector<onvif::Profile>* all = nullptr) {
    onvif::Options o;
    o.address = address;
    o.user = login.user;
    o.password = login.password;
    if (o.user.empty() && !o.password.empty())
        o.user = "admin";
    if (cam->client.Connect(o) != onvif::kOk)
        return CallFailed(cam->client, "cannot connect to " + address);
    std::vector<onvif::Profile> profiles;
    if (cam->client.GetProfiles(&profiles) != onvif::kOk)
        return CallFailed(cam->client, "cannot read the profiles");
    if (profiles.empty())
        return Fail("the camera has no media profile", onvif::kErrUnsupported);
    cam->profile = profiles.front();
    for (const auto& p : profiles)
        if (p.encoding == "H264" || p.encoding == "H265") {
            cam->profile = p;
            break;
        }
    if (all)
        *all = profiles;
    return 0;
}

int Discover(const Args& args) {
    onvif::DiscoveryOptions o;
    int seconds = 2;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--seconds" && i + 1 < args.size()) {
            if (!ParseInt(args[++i], 1, 60, &seconds))
                return OnvifUsage("--seconds takes 1 to 60");
        } else if (args[i] == "--to" && i + 1 < args.size()) {
            o.target = args[++i];
        } else {
            return OnvifUsage("unknown argument '" + args[i] + "'");
        }
    }
    o.waitMs = seconds * 1000;
    std::vector<onvif::DiscoveredCamera> found;
    if (const int32_t r = onvif::Discover(o, &found); r != onvif::kOk)
        return Fail(std::string("discovery failed: ") + onvif::ErrorText(r), r);
    for (const auto& c : found)
        std::printf("%s\t%s\t%s\t%s\n", c.from.c_str(), c.name.c_str(), c.xaddrs.front().c_str(),
                    c.endpoint.c_str());
    std::fflush(stdout);
    return 0;
}

int Info(const std::string& address, const Credentials& login) {
    Camera cam;
    std::vector<onvif::Profile> profiles;
    if (int s = Open(address, login, &cam, &profiles))
        return s;
    onvif::Client& c = cam.client;
    onvif::DeviceInfo info;
    if (c.GetDeviceInformation(&info) != onvif::kOk)
        return CallFailed(c, "cannot read the device information");
    std::printf("manufacturer=%s\nmodel=%s\nfirmware=%s\nserial=%s\nhardware=%s\n",
                info.manufacturer.c_str(), info.model.c_str(), info.firmwareVersion.c_str(),
                info.serialNumber.c_str(), info.hardwareId.c_str());
    const onvif::Services& s = c.ServiceAddresses();
    std::printf("device=%s\nmedia=%s\nimaging=%s\nptz=%s\nclock-offset=%lld\n", s.device.c_str(),
                s.media.c_str(), s.imaging.c_str(), s.ptz.c_str(),
                static_cast<long long>(c.ClockOffsetSeconds()));
    for (const auto& p : profiles) {
        std::string uri;
        if (c.GetStreamUri(p.token, &uri) != onvif::kOk)
            uri = "(" + c.LastError().text + ")";
        std::printf("profile=%s\t%s\t%dx%d\tptz=%s\t%s\n", p.token.c_str(), p.encoding.c_str(),
                    p.width, p.height, p.ptzConfigurationToken.empty() ? "no" : "yes", uri.c_str());
    }
    return 0;
}

// The image pages' record keys, spelt as the record spells them (the
// lower-case names are the ONVIF settings').
const strevo::VideoParamField* PageKey(const std::string& key) {
    const strevo::VideoParamField* f = strevo::FindVideoParamField(key);
    return f && key == f->key ? f : nullptr;
}

strevo::Credentials ChannelLogin(const Credentials& login) {
    return strevo::Credentials{login.user.empty() && !login.password.empty() ? "admin" : login.user,
                               login.password};
}

int ChannelFailed(const strevo::OnvifSession& session, const std::string& what, int32_t rc) {
    if (rc == onvif::kErrUnsupported)
        return Fail(what + ": the camera has no such setting", rc);
    if (rc == onvif::kErrArgument)
        return Fail(what + ": a value the camera cannot take", rc);
    return Fail(what + ": " + session.LastError().text, rc);
}

// The page values the camera has: every one (keys empty) or those named.
int GetPage(const std::string& address, const Args& keys, const Credentials& login) {
    strevo::OnvifSession session(address, ChannelLogin(login));
    strevo::OnvifParamChannel channel(&session);
    strevo::VideoParam p{};
    if (const int32_t rc = channel.GetVideoParam(&p); rc < 0)
        return ChannelFailed(session, "cannot read the imaging settings", rc);
    int status = 0;
    for (const strevo::VideoParamField& f : strevo::VideoParamFieldsByOffset()) {
        bool named = keys.empty();
        for (const std::string& k : keys) named |= k == f.key;
        if (!named)
            continue;
        if (channel.HasSetting(f.key)) {
            std::printf("%s=%d\n", f.key, strevo::GetFieldValue(p, f));
        } else if (!keys.empty()) {
            std::fprintf(stderr, "strevoctl: %s: the camera has no such setting\n", f.key);
            status = 1;
        }
    }
    return status;
}

int Get(const std::string& address, const Args& rest, const Credentials& login) {
    Args keys;
    bool page = false;
    for (const std::string& a : rest) {
        if (a == "--page")
            page = true;
        else if (PageKey(a))
            keys.push_back(a);
        else
            return OnvifUsage("unknown parameter '" + a + "'");
    }
    if (page || !keys.empty())
        return GetPage(address, keys, login);
    Camera cam;
    if (int s = Open(address, login, &cam))
        return s;
    onvif::ImagingSettings settings;
    onvif::ImagingOptions options;
    if (cam.client.GetImagingSettings(cam.profile.videoSourceToken, &settings) != onvif::kOk)
        return CallFailed(cam.client, "cannot read the imaging settings");
    // Without options the values still show.
    const bool haveOptions =
        cam.client.GetImagingOptions(cam.profile.videoSourceToken, &options) == onvif::kOk;
    for (int i = 0; i < onvif::ImagingFieldCount(); ++i) {
        const onvif::ImagingField* f = onvif::ImagingFieldAt(i);
        const auto v = onvif::GetImagingField(settings, f->name);
        if (!v)
            continue;
        std::string extra;
        if (haveOptions) {
            if (const auto r = onvif::ImagingFieldRange(options, f->name)) {
                char text[96];
                std::snprintf(text, sizeof text, "\t%g..%g", r->min, r->max);
                extra = text;
            }
            const auto choices = onvif::ImagingFieldChoices(options, f->name);
            for (size_t k = 0; k < choices.size(); ++k) extra += (k ? "," : "\t") + choices[k];
        }
        std::printf("%s=%s%s\n", f->name, v->c_str(), extra.c_str());
    }
    return 0;
}

int Set(const std::string& address, const Args& pairs, const Credentials& login) {
    onvif::ImagingSettings settings;
    bool onvifFields = false;
    std::string items;  // page keys, through the record translation
    if (pairs.empty())
        return OnvifUsage("set needs KEY=VALUE");
    for (const std::string& kv : pairs) {
        const size_t eq = kv.find('=');
        if (eq == std::string::npos)
            return OnvifUsage("'" + kv + "' is not KEY=VALUE");
        const std::string key = kv.substr(0, eq);
        if (const strevo::VideoParamField* f = onvif::FindImagingField(key) ? nullptr : PageKey(key)) {
            int v = 0;
            if (!ParseInt(kv.substr(eq + 1), INT32_MIN, INT32_MAX, &v))
                return OnvifUsage("value of " + key + " is not an integer");
            items += (items.empty() ? "" : ",") + strevo::MakeVideoParamItem(f->key, v);
            continue;
        }
        if (!onvif::FindImagingField(key))
            return OnvifUsage("unknown imaging setting '" + key + "'");
        if (onvif::SetImagingField(&settings, key, kv.substr(eq + 1)) != onvif::kOk)
            return OnvifUsage("'" + kv + "': the value is not a number");
        onvifFields = true;
    }
    if (!items.empty()) {
        strevo::OnvifSession session(address, ChannelLogin(login));
        strevo::OnvifParamChannel channel(&session);
        if (const int32_t rc = channel.SetVideoParamItem(items.c_str()); rc < 0)
            return ChannelFailed(session, "the camera refused the settings", rc);
        if (!onvifFields)
            return 0;
    }
    Camera cam;
    if (int s = Open(address, login, &cam))
        return s;
    if (cam.client.SetImagingSettings(cam.profile.videoSourceToken, settings) != onvif::kOk)
        return CallFailed(cam.client, "the camera refused the settings");
    return 0;
}

int Ptz(const std::string& address, const Args& rest, const Credentials& login) {
    if (rest.empty())
        return OnvifUsage("ptz needs ACTION");
    const std::string action = rest[0];
    int speed = 5, ms = 500;
    for (size_t i = 1; i < rest.size(); ++i) {
        if (rest[i] == "--ms" && i + 1 < rest.size()) {
            if (!ParseInt(rest[++i], 1, 60000, &ms))
                return OnvifUsage("--ms takes 1 to 60000");
        } else if (!ParseInt(rest[i], 1, 8, &speed)) {
            return OnvifUsage("SPEED takes 1 to 8");
        }
    }
    strevo::onvifmap::Move move;
    if (action != "Stop" && action != "Home" && !strevo::onvifmap::FindMove(action, &move))
        return OnvifUsage("unknown PTZ action '" + action + "'");
    Camera cam;
    if (int s = Open(address, login, &cam))
        return s;
    onvif::Client& c = cam.client;
    const std::string& p = cam.profile.token;
    if (action == "Stop")
        return c.Stop(p) == onvif::kOk ? 0 : CallFailed(c, "Stop failed");
    if (action == "Home")
        return c.GotoHomePosition(p) == onvif::kOk ? 0 : CallFailed(c, "GotoHomePosition failed");
    if (move.focus) {
        const std::string& vs = cam.profile.videoSourceToken;
        onvif::FocusMoveOptions fo;
        if (c.GetFocusMoveOptions(vs, &fo) != onvif::kOk || !fo.continuousSpeed)
            return Fail("the camera cannot move its focus continuously", onvif::kErrUnsupported);
        if (c.FocusMove(vs, strevo::onvifmap::FocusSpeed(move.focus, speed, *fo.continuousSpeed)) !=
            onvif::kOk)
            return CallFailed(c, "the focus move failed");
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return c.FocusStop(vs) == onvif::kOk ? 0 : CallFailed(c, "the focus stop failed");
    }
    // Velocities scaled into the camera's own velocity space.
    onvif::PtzOptions po;
    if (!cam.profile.ptzConfigurationToken.empty())
        c.GetPtzOptions(cam.profile.ptzConfigurationToken, &po);
    const onvif::PtzVelocity v = strevo::onvifmap::MoveVelocity(move, speed, po);
    if (c.ContinuousMove(p, v) != onvif::kOk)
        return CallFailed(c, "ContinuousMove failed");
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    if (c.Stop(p) != onvif::kOk)
        return CallFailed(c, "Stop failed");
    if (c.StopWasEmulated())
        std::fprintf(stderr,
                     "strevoctl: the camera refused Stop; stopped with a zero-speed move\n");
    return 0;
}

int Presets(const std::string& address, const Credentials& login) {
    Camera cam;
    if (int s = Open(address, login, &cam))
        return s;
    std::vector<onvif::Preset> presets;
    if (cam.client.GetPresets(cam.profile.token, &presets) != onvif::kOk)
        return CallFailed(cam.client, "cannot read the presets");
    for (const auto& p : presets) std::printf("%s\t%s\n", p.token.c_str(), p.name.c_str());
    return 0;
}

int Preset(const std::string& address, const Args& rest, const Credentials& login) {
    if (rest.size() != 2 || (rest[0] != "goto" && rest[0] != "set" && rest[0] != "remove"))
        return OnvifUsage("preset takes goto|set|remove N");
    const std::string& what = rest[0];
    const std::string& n = rest[1];
    if (n.empty())
        return OnvifUsage("N must not be empty");
    Camera cam;
    if (int s = Open(address, login, &cam))
        return s;
    onvif::Client& c = cam.client;
    const std::string& p = cam.profile.token;
    if (what == "goto")
        return c.GotoPreset(p, n) == onvif::kOk ? 0 : CallFailed(c, "cannot call preset " + n);
    if (what == "remove")
        return c.RemovePreset(p, n) == onvif::kOk ? 0 : CallFailed(c, "cannot remove preset " + n);
    // An existing preset is overwritten by its token; a new one is named N and
    // the camera's token for it is printed (cameras choose their own tokens).
    std::vector<onvif::Preset> presets;
    if (c.GetPresets(p, &presets) != onvif::kOk)
        return CallFailed(c, "cannot read the presets");
    bool exists = false;
    for (const auto& pr : presets) exists |= pr.token == n;
    std::string token;
    if (c.SetPreset(p, exists ? "" : n, exists ? n : "", &token) != onvif::kOk)
        return CallFailed(c, "cannot store preset " + n);
    std::printf("%s\n", token.c_str());
    return 0;
}

int Reboot(const std::string& address, const Credentials& login) {
    onvif::Client c;
    onvif::Options o;
    o.address = address;
    o.user = login.user.empty() && !login.password.empty() ? "admin" : login.user;
    o.password = login.password;
    if (c.Connect(o) != onvif::kOk)
        return CallFailed(c, "cannot connect to " + address);
    std::string message;
    if (c.SystemReboot(&message) != onvif::kOk)
        return CallFailed(c, "the camera refused to reboot");
    if (!message.empty())
        std::printf("%s\n", message.c_str());
    return 0;
}

}  // namespace

int RunOnvif(const Args& all) {
    if (all.empty() || all[0] == "--help" || all[0] == "-h") {
        std::printf("%s", kOnvifHelp);
        return all.empty() ? 2 : 0;
    }
    const std::string& cmd = all[0];
    if (cmd == "discover")
        return Discover(all);
    static const char* const kCommands[] = {"info",    "get",    "set",   "ptz",
                                            "presets", "preset", "reboot"};
    bool known = false;
    for (const char* k : kCommands) known |= cmd == k;
    if (!known)
        return OnvifUsage("unknown command 'onvif " + cmd + "'");
    if (all.size() < 2)
        return OnvifUsage(cmd + " needs ADDRESS");
    const std::string& address = all[1];
    Credentials login;
    Args rest;
    for (size_t i = 2; i < all.size(); ++i) {
        std::string error;
        const int taken = TakeCredentialOption(all, &i, &login, &error);
        if (taken < 0)
            return OnvifUsage(error);
        if (taken == 0)
            rest.push_back(all[i]);
    }
    if (!ResolvePassword(&login))
        return 1;
    const bool takesMore = cmd == "get" || cmd == "set" || cmd == "ptz" || cmd == "preset";
    if (!takesMore && !rest.empty())
        return OnvifUsage("unknown argument '" + rest[0] + "'");
    if (cmd == "info")
        return Info(address, login);
    if (cmd == "get")
        return Get(address, rest, login);
    if (cmd == "set")
        return Set(address, rest, login);
    if (cmd == "ptz")
        return Ptz(address, rest, login);
    if (cmd == "presets")
        return Presets(address, login);
    if (cmd == "preset")
        return Preset(address, rest, login);
    return Reboot(address, login);
}

}  // namespace strevoctl
