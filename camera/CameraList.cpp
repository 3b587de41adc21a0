#include "CameraList.h"

#include <cctype>
#include <algorithm>
#include <cstdio>
#include <strings.h>

#include "IniStore.h"
#include "RtspSource.h"

namespace strevo {

namespace {

const char* KindText(CameraKind kind) {
    switch (kind) {
        case CameraKind::kRtsp:
            return "rtsp";
        case CameraKind::kOnvif:
            return "onvif";
        default:
            return "sdk";
    }
}

std::string Encode(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == ',' || c == '%' || c < 0x20) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool Decode(const std::string& text, std::string* out) {
    out->clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            *out += text[i];
            continue;
        }
        if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 2])))
            return false;
        *out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
        i += 2;
    }
    return true;
}

// Four decimal parts of 0 to 255, no leading zeros, nothing else.
bool IsIpv4(const std::string& text) {
    int parts = 0;
    size_t i = 0;
    while (parts < 4) {
        size_t digits = 0;
        int value = 0;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) && digits < 4) {
            value = value * 10 + (text[i] - '0');
            ++i;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && text[i - digits] == '0'))
            return false;
        if (++parts < 4) {
            if (i >= text.size() || text[i] != '.')
                return false;
            ++i;
        }
    }
    return i == text.size();
}

bool HasControl(const std::string& text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7f)
            return true;
    return false;
}

// A host name or IPv4 address: letters, digits, '-' and '.', neither first nor last.
bool IsHost(const std::string& text) {
    if (text.empty() || text.size() > 253 || text.front() == '.' || text.front() == '-' ||
        text.back() == '.' || text.back() == '-')
        return false;
    for (unsigned char c : text)
        if (!std::isalnum(c) && c != '-' && c != '.')
            return false;
    // All digits and dots: then a real IPv4 address.
    if (text.find_first_not_of("0123456789.") == std::string::npos)
        return IsIpv4(text);
    return true;
}

// An ONVIF device service as typed: host, host:port or http://[user[:password]@]host[:port][/path].
// *address gets it without credentials, in the form typed.
bool ParseOnvifAddress(const std::string& text, std::string* address, std::string* user,
                       std::string* password, bool* hasCredentials) {
    *hasCredentials = false;
    std::string rest = text;
    const bool http = rest.size() >= 7 && strncasecmp(rest.c_str(), "http://", 7) == 0;
    if (http)
        rest = rest.substr(7);
    else if (rest.find("://") != std::string::npos)
        return false;
    std::string path;
    if (const size_t slash = rest.find('/'); slash != std::string::npos) {
        if (!http)
            return false;
        path = rest.substr(slash);
        rest = rest.substr(0, slash);
        for (unsigned char c : path)
            if (c <= ' ' || c == 0x7f || c == '@')
                return false;
    }
    if (const size_t at = rest.rfind('@'); at != std::string::npos) {
        if (!http)
            return false;
        const std::string cred = rest.substr(0, at);
        rest = rest.substr(at + 1);
        const size_t colon = cred.find(':');
        if (!Decode(cred.substr(0, colon), user) || user->empty() ||
            (colon != std::string::npos && !Decode(cred.substr(colon + 1), password)))
            return false;
        if (colon == std::string::npos)
            password->clear();
        *hasCredentials = true;
    }
    std::string host = rest;
    if (const size_t colon = rest.find(':'); colon != std::string::npos) {
        host = rest.substr(0, colon);
        const std::string port = rest.substr(colon + 1);
        if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
            port[0] == '0' || std::stoi(port) > 65535)
            return false;
    }
    if (!IsHost(host))
        return false;
    *address = (http ? text.substr(0, 7) : std::string()) + rest + path;
    return true;
}

std::string Trim(const std::string& text) {
    size_t b = 0, e = text.size();
    while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
    return text.substr(b, e - b);
}

}  // namespace

std::string AddedCamera::Key() const {
    return std::string(KindText(kind)) + "," + Encode(user) + "," + address;
}

bool ParseAddedCamera(const std::string& value, AddedCamera* camera) {
    const size_t first = value.find(',');
    if (first == std::string::npos)
        return false;
    const size_t second = value.find(',', first + 1);
    if (second == std::string::npos)
        return false;
    const std::string kind = value.substr(0, first);
    AddedCamera c;
    if (kind == "sdk")
        c.kind = CameraKind::kSdk;
    else if (kind == "rtsp")
        c.kind = CameraKind::kRtsp;
    else if (kind == "onvif")
        c.kind = CameraKind::kOnvif;
    else
        return false;
    if (!Decode(value.substr(first + 1, second - first - 1), &c.user) || HasControl(c.user))
        return false;
    c.address = value.substr(second + 1);
    if (c.kind == CameraKind::kSdk) {
        if (!IsIpv4(c.address))
            return false;
    } else if (c.kind == CameraKind::kOnvif) {
        std::string address, user, password;
        bool credentials = false;
        if (!ParseOnvifAddress(c.address, &address, &user, &password, &credentials) ||
            credentials)
            return false;
    } else {
        rtsp::UrlParts parts;
        if (HasControl(c.address) || !rtsp::ParseUrl(c.address, &parts) || parts.hasCredentials)
            return false;
    }
    *camera = std::move(c);
    return true;
}

std::string FormatAddedCamera(const AddedCamera& camera) {
    return camera.Key();
}

bool NormaliseAddress(CameraKind kind, const std::string& typed, AddedCamera* camera,
                      std::string* password, std::string* why) {
    const std::string text = Trim(typed);
    camera->kind = kind;
    if (text.empty() || HasControl(text)) {
        *why = "请输入设备地址";
        return false;
    }
    if (kind == CameraKind::kSdk) {
        if (!IsIpv4(text)) {
            *why = "地址格式不正确: 请输入 IPv4 地址";
            return false;
        }
        camera->address = text;
        return true;
    }
    if (kind == CameraKind::kOnvif) {
        std::string user, pass;
        bool credentials = false;
        if (!ParseOnvifAddress(text, &camera->address, &user, &pass, &credentials)) {
            *why = "地址格式不正确: 请输入 IP 地址、IP:端口 或 http:// 地址";
            return false;
        }
        if (credentials) {
            if (camera->user.empty())
                camera->user = user;
            if (password->empty())
                *password = pass;
        }
        std::fill(pass.begin(), pass.end(), '\0');
        return true;
    }
    std::string url = text;
    if (url.find("://") == std::string::npos) {
        if (!IsIpv4(url)) {
            *why = "地址格式不正确: 请输入 IPv4 地址或 rtsp:// 地址";
            return false;
        }
        url = "rtsp://" + url + ":554/main";
    }
    rtsp::UrlParts parts;
    if (!rtsp::ParseUrl(url, &parts)) {
        *why = "地址格式不正确: 请输入 IPv4 地址或 rtsp:// 地址";
        return false;
    }
    if (parts.hasCredentials) {
        if (camera->user.empty())
            camera->user = parts.user;
        if (password->empty())
            *password = parts.password;
    }
    camera->address = rtsp::WithoutCredentials(url);
    return true;
}

std::vector<AddedCamera> LoadAddedCameras(const std::string& iniPath) {
    std::vector<AddedCamera> cameras;
    for (int i = 1; i <= kMaxAddedCameras; ++i) {
        char key[32];
        std::snprintf(key, sizeof key, "Camera%d", i);
        char value[2048] = {};
        if (IniGetString(kCamerasSection, key, "", value, sizeof value, iniPath.c_str()) == 0)
            break;
        AddedCamera camera;
        if (ParseAddedCamera(value, &camera))
            cameras.push_back(std::move(camera));  // a damaged entry is skipped, not the rest
    }
    return cameras;
}

bool SaveAddedCameras(const std::string& iniPath, const std::vector<AddedCamera>& cameras) {
    bool ok = true;
    const size_t count = std::min<size_t>(cameras.size(), kMaxAddedCameras);
    for (size_t i = 0; i < count; ++i) {
        char key[32];
        std::snprintf(key, sizeof key, "Camera%zu", i + 1);
        ok = IniWriteString(kCamerasSection, key, FormatAddedCamera(cameras[i]).c_str(),
                            iniPath.c_str()) &&
             ok;
    }
    // The key after the last one ends the list; keys further on are left from
    // a longer list and are cleared too, so no old entry comes back.
    char value[8] = {};
    for (size_t i = count + 1; i <= kMaxAddedCameras; ++i) {
        char key[32];
        std::snprintf(key, sizeof key, "Camera%zu", i);
        if (i > count + 1 &&
            IniGetString(kCamerasSection, key, "", value, sizeof value, iniPath.c_str()) == 0)
            break;
        ok = IniWriteString(kCamerasSection, key, "", iniPath.c_str()) && ok;
    }
    return ok;
}

}  // namespace strevo
