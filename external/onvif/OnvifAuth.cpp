#include "OnvifAuth.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cctype>
#include <cstdio>
#include <vector>

#include "OnvifXml.h"

namespace onvif {

namespace {

constexpr char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Digest(const EVP_MD* md, std::string_view bytes) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (!md || EVP_Digest(bytes.data(), bytes.size(), out, &len, md, nullptr) != 1)
        return {};
    return std::string(reinterpret_cast<const char*>(out), len);
}

std::string Hex(std::string_view raw) {
    static const char* const digits = "0123456789abcdef";
    std::string s;
    for (unsigned char c : raw) {
        s += digits[c >> 4];
        s += digits[c & 15];
    }
    return s;
}

}  // namespace

std::string Base64(std::string_view bytes) {
    std::string out;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const uint32_t v = uint32_t(uint8_t(bytes[i])) << 16 |
                           uint32_t(uint8_t(bytes[i + 1])) << 8 | uint8_t(bytes[i + 2]);
        out += kB64[v >> 18];
        out += kB64[(v >> 12) & 63];
        out += kB64[(v >> 6) & 63];
        out += kB64[v & 63];
    }
    if (i + 1 == bytes.size()) {
        const uint32_t v = uint32_t(uint8_t(bytes[i])) << 16;
        out += kB64[v >> 18];
        out += kB64[(v >> 12) & 63];
        out += "==";
    } else if (i + 2 == bytes.size()) {
        const uint32_t v = uint32_t(uint8_t(bytes[i])) << 16 | uint32_t(uint8_t(bytes[i + 1])) << 8;
        out += kB64[v >> 18];
        out += kB64[(v >> 12) & 63];
        out += kB64[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

std::string Unbase64(std::string_view text, bool* ok) {
    std::string out;
    uint32_t acc = 0;
    int bits = 0;
    size_t pad = 0;
    bool good = true;
    for (char c : text) {
        if (c == ' ' || c == '\n' || c == '\r' || c == '\t')
            continue;
        if (c == '=') {
            ++pad;
            continue;
        }
        const char* p = nullptr;
        for (const char* k = kB64; *k; ++k)
            if (*k == c)
                p = k;
        if (!p || pad) {
            good = false;
            break;
        }
        acc = acc << 6 | static_cast<uint32_t>(p - kB64);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((acc >> bits) & 0xFF);
        }
    }
    if (pad > 2)
        good = false;
    if (ok)
        *ok = good;
    return good ? out : std::string();
}

std::string Sha1(std::string_view bytes) {
    return Digest(EVP_sha1(), bytes);
}

std::string HexDigest(std::string_view algorithm, std::string_view bytes) {
    if (algorithm.empty() || algorithm == "MD5" || algorithm == "md5")
        return Hex(Digest(EVP_md5(), bytes));
    if (algorithm == "SHA-256" || algorithm == "sha-256")
        return Hex(Digest(EVP_sha256(), bytes));
    return {};
}

std::string RandomBytes(size_t n) {
    std::vector<unsigned char> buf(n);
    if (n == 0 || RAND_bytes(buf.data(), static_cast<int>(n)) != 1)
        return {};
    return std::string(buf.begin(), buf.end());
}

int64_t UnixSeconds(int year, int month, int day, int hour, int minute, int second) {
    if (year < 1970 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 ||
        hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 60)
        return -1;
    // Days from civil (Howard Hinnant's algorithm).
    const int y = year - (month <= 2);
    const int era = y / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t days = int64_t(era) * 146097 + doe - 719468;
    return days * 86400 + hour * 3600 + minute * 60 + second;
}

std::string UtcText(int64_t t) {
    const int64_t days = t >= 0 ? t / 86400 : (t - 86399) / 86400;
    const int64_t secs = t - days * 86400;
    // Civil from days.
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const int64_t m = mp < 10 ? mp + 3 : mp - 9;
    const int64_t y = yoe + era * 400 + (m <= 2);
    char buf[128];
    std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", (long long)y,
                  (long long)m, (long long)d, (long long)(secs / 3600), (long long)(secs / 60 % 60),
                  (long long)(secs % 60));
    return buf;
}

bool ParseUtcText(std::string_view s, int64_t* out) {
    auto num = [&](size_t at, size_t len, int* v) {
        if (at + len > s.size())
            return false;
        *v = 0;
        for (size_t i = at; i < at + len; ++i) {
            if (!std::isdigit(static_cast<unsigned char>(s[i])))
                return false;
            *v = *v * 10 + (s[i] - '0');
        }
        return true;
    };
    int y, mo, d, h, mi, se;
    if (!num(0, 4, &y) || s.size() < 19 || s[4] != '-' || !num(5, 2, &mo) || s[7] != '-' ||
        !num(8, 2, &d) || s[10] != 'T' || !num(11, 2, &h) || s[13] != ':' || !num(14, 2, &mi) ||
        s[16] != ':' || !num(17, 2, &se))
        return false;
    size_t at = 19;
    if (at < s.size() && s[at] == '.') {
        ++at;
        while (at < s.size() && std::isdigit(static_cast<unsigned char>(s[at]))) ++at;
    }
    int64_t offset = 0;
    if (at < s.size() && (s[at] == '+' || s[at] == '-')) {
        int oh, om;
        if (!num(at + 1, 2, &oh) || at + 3 >= s.size() || s[at + 3] != ':' ||
            !num(at + 4, 2, &om) || oh > 23 || om > 59)
            return false;
        offset = (s[at] == '+' ? 1 : -1) * (oh * 3600 + om * 60);
        at += 6;
    } else if (at < s.size() && s[at] == 'Z') {
        ++at;
    }
    if (at != s.size())
        return false;
    const int64_t t = UnixSeconds(y, mo, d, h, mi, se);
    if (t < 0)
        return false;
    *out = t - offset;
    return true;
}

std::string PasswordDigest(std::string_view nonce, std::string_view created,
                           std::string_view password) {
    std::string all(nonce);
    all += created;
    all += password;
    return Base64(Sha1(all));
}

std::string UsernameTokenHeader(const std::string& user, const std::string& password,
                                int64_t unixSeconds) {
    const std::string nonce = RandomBytes(16);
    if (nonce.empty())
        return {};
    const std::string created = UtcText(unixSeconds);
    return std::string("<wsse:Security s:mustUnderstand=\"1\" xmlns:wsse=\"") + ns::kWsse +
           "\" xmlns:wsu=\"" + ns::kWsu + "\"><wsse:UsernameToken><wsse:Username>" + Escape(user) +
           "</wsse:Username><wsse:Password Type=\"http://docs.oasis-open.org/wss/2004/01/"
           "oasis-200401-wss-username-token-profile-1.0#PasswordDigest\">" +
           PasswordDigest(nonce, created, password) +
           "</wsse:Password><wsse:Nonce EncodingType=\"http://docs.oasis-open.org/wss/2004/01/"
           "oasis-200401-wss-soap-message-security-1.0#Base64Binary\">" +
           Base64(nonce) + "</wsse:Nonce><wsu:Created>" + created +
           "</wsu:Created></wsse:UsernameToken></wsse:Security>";
}

bool ParseDigestHeader(std::string_view h, std::map<std::string, std::string>* params) {
    params->clear();
    size_t at = 0;
    while (at < h.size() && h[at] == ' ') ++at;
    if (h.size() - at < 7)
        return false;
    std::string scheme(h.substr(at, 6));
    for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (scheme != "digest" || h[at + 6] != ' ')
        return false;
    at += 7;
    while (at < h.size()) {
        while (at < h.size() && (h[at] == ' ' || h[at] == ',')) ++at;
        const size_t eq = h.find('=', at);
        if (eq == std::string_view::npos)
            break;
        std::string name(h.substr(at, eq - at));
        while (!name.empty() && name.back() == ' ') name.pop_back();
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        at = eq + 1;
        while (at < h.size() && h[at] == ' ') ++at;
        std::string value;
        if (at < h.size() && h[at] == '"') {
            ++at;
            while (at < h.size() && h[at] != '"') {
                if (h[at] == '\\' && at + 1 < h.size())
                    ++at;
                value += h[at++];
            }
            ++at;
        } else {
            while (at < h.size() && h[at] != ',') value += h[at++];
            while (!value.empty() && value.back() == ' ') value.pop_back();
        }
        if (!name.empty())
            (*params)[name] = value;
    }
    return true;
}

std::string DigestResponse(const std::map<std::string, std::string>& c, const std::string& user,
                           const std::string& password, const std::string& method,
                           const std::string& uri, const std::string& nc,
                           const std::string& cnonce) {
    auto get = [&](const char* k) {
        auto it = c.find(k);
        return it == c.end() ? std::string() : it->second;
    };
    const std::string alg = get("algorithm");
    const std::string ha1 = HexDigest(alg, user + ":" + get("realm") + ":" + password);
    const std::string ha2 = HexDigest(alg, method + ":" + uri);
    if (ha1.empty() || ha2.empty())
        return {};
    const std::string qop = get("qop");
    if (qop.empty())
        return HexDigest(alg, ha1 + ":" + get("nonce") + ":" + ha2);
    return HexDigest(alg, ha1 + ":" + get("nonce") + ":" + nc + ":" + cnonce + ":auth:" + ha2);
}

std::string DigestAuthorization(const std::map<std::string, std::string>& c,
                                const std::string& user, const std::string& password,
                                const std::string& method, const std::string& uri, uint32_t count) {
    auto get = [&](const char* k) {
        auto it = c.find(k);
        return it == c.end() ? std::string() : it->second;
    };
    std::string qop = get("qop");
    // "auth,auth-int": only auth is offered here.
    const bool auth = !qop.empty();
    char nc[16];
    std::snprintf(nc, sizeof nc, "%08x", count);
    std::string cnonce;
    for (unsigned char b : RandomBytes(8)) {
        static const char* const digits = "0123456789abcdef";
        cnonce += digits[b >> 4];
        cnonce += digits[b & 15];
    }
    const std::string response =
        DigestResponse(c, user, password, method, uri, auth ? nc : "", auth ? cnonce : "");
    if (response.empty())
        return {};
    auto quote = [](const std::string& v) {
        std::string s = "\"";
        for (char ch : v) {
            if (ch == '"' || ch == '\\')
                s += '\\';
            s += ch;
        }
        return s + "\"";
    };
    std::string h = "Digest username=" + quote(user) + ", realm=" + quote(get("realm")) +
                    ", nonce=" + quote(get("nonce")) + ", uri=" + quote(uri) +
                    ", response=" + quote(response);
    if (!get("algorithm").empty())
        h += ", algorithm=" + get("algorithm");
    if (!get("opaque").empty())
        h += ", opaque=" + quote(get("opaque"));
    if (auth)
        h += ", qop=auth, nc=" + std::string(nc) + ", cnonce=" + quote(cnonce);
    return h;
}

}  // namespace onvif
