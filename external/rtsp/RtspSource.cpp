#include "RtspSource.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
}

namespace rtsp {

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kScheme[] = "rtsp://";
constexpr size_t kSchemeLength = sizeof kScheme - 1;

bool IsControl(unsigned char c) {
    return c < 0x20 || c == 0x7f;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// False for a broken escape or a decoded control character (it would end up inside a header
// line of the request).
bool PercentDecode(const std::string& in, std::string* out) {
    out->clear();
    for (size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        if (c == '%') {
            if (in.size() - i < 3)
                return false;
            const int hi = HexValue(in[i + 1]);
            const int lo = HexValue(in[i + 2]);
            if (hi < 0 || lo < 0)
                return false;
            c = static_cast<char>(hi * 16 + lo);
            i += 2;
        }
        if (IsControl(static_cast<unsigned char>(c)))
            return false;
        out->push_back(c);
    }
    return true;
}

std::string PercentEncode(const std::string& in) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : in) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        }
    }
    return out;
}

bool HostChar(char c, bool bracketed) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
        return true;
    if (c == '-' || c == '.' || c == '_' || c == '~')
        return true;
    return bracketed && (c == ':' || c == '%');
}

// ParseUrl, and where the host begins: what WithCredentials and WithoutCredentials keep.
bool Split(const std::string& url, UrlParts* parts, size_t* hostStart) {
    *parts = UrlParts{};
    if (url.size() < kSchemeLength || url.size() > 4096)
        return false;
    for (size_t i = 0; i < kSchemeLength; ++i)
        if (std::tolower(static_cast<unsigned char>(url[i])) != kScheme[i])
            return false;
    for (unsigned char c : url)
        if (IsControl(c) || c == ' ' || c >= 0x80)
            return false;
    const size_t slash = url.find('/', kSchemeLength);
    const size_t authorityEnd = slash == std::string::npos ? url.size() : slash;
    std::string authority = url.substr(kSchemeLength, authorityEnd - kSchemeLength);
    parts->path = slash == std::string::npos ? "/" : url.substr(slash);
    if (parts->path.find_first_of("#") != std::string::npos)
        return false;

    *hostStart = kSchemeLength;
    const size_t at = authority.rfind('@');
    if (at != std::string::npos) {
        const std::string userInfo = authority.substr(0, at);
        const size_t colon = userInfo.find(':');
        if (!PercentDecode(userInfo.substr(0, colon), &parts->user))
            return false;
        if (colon != std::string::npos &&
            !PercentDecode(userInfo.substr(colon + 1), &parts->password))
            return false;
        parts->hasCredentials = true;
        authority.erase(0, at + 1);
        *hostStart += at + 1;
    }

    std::string portText;
    if (!authority.empty() && authority[0] == '[') {
        const size_t close = authority.find(']');
        if (close == std::string::npos)
            return false;
        parts->host = authority.substr(1, close - 1);
        const std::string rest = authority.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':')
                return false;
            portText = rest.substr(1);
            if (portText.empty())
                return false;
        }
        for (char c : parts->host)
            if (!HostChar(c, true))
                return false;
    } else {
        const size_t colon = authority.find(':');
        parts->host = authority.substr(0, colon);
        if (colon != std::string::npos) {
            portText = authority.substr(colon + 1);
            if (portText.empty())
                return false;
        }
        for (char c : parts->host)
            if (!HostChar(c, false))
                return false;
    }
    if (parts->host.empty())
        return false;
    if (!portText.empty()) {
        if (portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string::npos)
            return false;
        parts->port = std::atoi(portText.c_str());
        if (parts->port < 1 || parts->port > 65535)
            return false;
    }
    return true;
}

std::once_flag g_setUp;

void SetUpOnce() {
    std::call_once(g_setUp, [] {
        avformat_network_init();
        // Failures reach the caller as codes; libavformat's own complaints would flood stderr
        // and could show a URL. STREVO_AV_LOG brings them back for debugging.
        if (!std::getenv("STREVO_AV_LOG") && av_log_get_level() > AV_LOG_FATAL)
            av_log_set_level(AV_LOG_FATAL);
    });
}

// NAL unit types of one access unit.
struct UnitScan {
    bool parameterSets = false;  // every parameter set the codec needs (VPS, SPS, PPS)
    bool key = false;            // an IDR (H.264) or IRAP (H.265) picture
};

UnitScan Scan(const uint8_t* data, size_t size, int codec) {
    UnitScan scan;
    unsigned seen = 0;
    for (size_t i = 0; i + 3 < size; ++i) {
        if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1)
            continue;
        const uint8_t header = data[i + 3];
        if (codec == kCodecH265) {
            const int type = (header >> 1) & 0x3f;
            if (type >= 32 && type <= 34)
                seen |= 1u << (type - 32);
            scan.key = scan.key || (type >= 16 && type <= 23);
        } else {
            const int type = header & 0x1f;
            if (type == 7 || type == 8)
                seen |= 1u << (type - 7);
            scan.key = scan.key || type == 5;
        }
        i += 3;
    }
    scan.parameterSets = seen == (codec == kCodecH265 ? 7u : 3u);
    return scan;
}

void AppendNal(std::vector<uint8_t>* out, const uint8_t* nal, size_t size) {
    static const uint8_t kStart[] = {0, 0, 0, 1};
    out->insert(out->end(), kStart, kStart + 4);
    out->insert(out->end(), nal, nal + size);
}

bool IsParameterSet(uint8_t header, int codec) {
    if (codec == kCodecH265) {
        const int type = (header >> 1) & 0x3f;
        return type >= 32 && type <= 34;
    }
    const int type = header & 0x1f;
    return type == 7 || type == 8;
}

// The parameter sets a unit carries, Annex B.
std::vector<uint8_t> ParameterSetsOf(const uint8_t* data, size_t size, int codec) {
    std::vector<size_t> starts;  // first byte after each start code
    for (size_t i = 0; i + 2 < size; ++i)
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            starts.push_back(i + 3);
            i += 2;
        }
    std::vector<uint8_t> out;
    for (size_t n = 0; n < starts.size(); ++n) {
        const size_t begin = starts[n];
        size_t end = n + 1 < starts.size() ? starts[n + 1] - 3 : size;
        while (end > begin && data[end - 1] == 0) --end;  // the next start code's zeros
        if (end > begin && IsParameterSet(data[begin], codec))
            AppendNal(&out, data + begin, end - begin);
    }
    return out;
}

// Extradata as Annex B: as it is when it has start codes, converted from avcC or hvcC
// otherwise. *lengthSize is the NAL length size the packets then use (0 for Annex B).
bool ExtradataToAnnexB(const uint8_t* e, size_t size, int codec, std::vector<uint8_t>* out,
                       int* lengthSize) {
    out->clear();
    *lengthSize = 0;
    if (size == 0)
        return true;
    if (size >= 3 && e[0] == 0 && e[1] == 0 &&
        (e[2] == 1 || (size >= 4 && e[2] == 0 && e[3] == 1))) {
        out->assign(e, e + size);
        return true;
    }
    if (e[0] != 1)
        return false;
    size_t at = 0;
    auto take = [&](size_t n) {
        if (size - at < n)
            return false;
        at += n;
        return true;
    };
    auto u16 = [&](size_t pos) { return static_cast<size_t>(e[pos] << 8 | e[pos + 1]); };
    // count NAL units, each behind its 16-bit length: the same in avcC and hvcC.
    auto appendNals = [&](size_t count) {
        for (size_t n = 0; n < count; ++n) {
            if (!take(2))
                return false;
            const size_t length = u16(at - 2);
            if (!take(length))
                return false;
            AppendNal(out, e + at - length, length);
        }
        return true;
    };
    if (codec == kCodecH264) {
        if (size < 7)
            return false;
        *lengthSize = (e[4] & 3) + 1;
        at = 5;
        for (int list = 0; list < 2; ++list) {
            if (!take(1))
                return false;
            if (!appendNals(list == 0 ? (e[at - 1] & 0x1f) : e[at - 1]))
                return false;
        }
        return true;
    }
    if (size < 23)
        return false;
    *lengthSize = (e[21] & 3) + 1;
    const int arrays = e[22];
    at = 23;
    for (int a = 0; a < arrays; ++a) {
        if (!take(3))
            return false;
        if (!appendNals(u16(at - 2)))
            return false;
    }
    return true;
}

}  // namespace

const char* ErrorText(int32_t code) {
    switch (code) {
        case kOk:
            return "success";
        case kErrUrl:
            return "not an rtsp:// address";
        case kErrConnect:
            return "nothing answers at the address";
        case kErrTimeout:
            return "the camera did not answer in time";
        case kErrAuth:
            return "the camera refused the user name or password";
        case kErrNotFound:
            return "the camera has no stream at that path";
        case kErrNoVideo:
            return "no H.264 or H.265 video in the stream";
        case kErrStopped:
            return "stopped";
        case kErrEnded:
            return "the camera ended the stream";
        case kErrNetwork:
            return "network or protocol failure";
        case kErrNoResources:
            return "out of memory";
        default:
            return "unknown failure";
    }
}

struct Source::Impl {
    AVFormatContext* format = nullptr;
    AVPacket* packet = nullptr;
    const std::atomic<bool>* stop = nullptr;
    Clock::time_point deadline{};
    std::chrono::milliseconds callLimit{5000};
    bool timedOut = false;
    bool stopped = false;
    int video = -1;
    int codec = kCodecH264;
    int lengthSize = 0;  // NAL length prefix of the packets, 0 for Annex B
    std::vector<uint8_t> parameterSets;
    std::vector<uint8_t> unit;

    static int Interrupt(void* opaque) {
        auto* self = static_cast<Impl*>(opaque);
        if (self->stop && self->stop->load()) {
            self->stopped = true;
            return 1;
        }
        if (Clock::now() >= self->deadline) {
            self->timedOut = true;
            return 1;
        }
        return 0;
    }

    void Arm() {
        timedOut = stopped = false;
        deadline = Clock::now() + callLimit;
    }

    int32_t Map(int err) const {
        if (stopped)
            return kErrStopped;
        if (timedOut || err == AVERROR(ETIMEDOUT))
            return kErrTimeout;
        // RTSP answers 401 as AVERROR_HTTP_UNAUTHORIZED; EACCES in case an older mapping shows.
        if (err == AVERROR_HTTP_UNAUTHORIZED || err == AVERROR(EACCES))
            return kErrAuth;
        if (err == AVERROR_HTTP_NOT_FOUND)
            return kErrNotFound;
        if (err == AVERROR(ECONNREFUSED) || err == AVERROR(EHOSTUNREACH) ||
            err == AVERROR(ENETUNREACH))
            return kErrConnect;
        if (err == AVERROR_EOF || err == AVERROR(ECONNRESET) || err == AVERROR(EPIPE))
            return kErrEnded;
        if (err == AVERROR(ENOMEM))
            return kErrNoResources;
        return kErrNetwork;
    }

    // One packet of the video as Annex B in `unit`, with the parameter sets in front of a key
    // frame that lacks them.
    bool Assemble(const AVPacket* p) {
        unit.clear();
        const uint8_t* data = p->data;
        size_t size = static_cast<size_t>(p->size);
        std::vector<uint8_t> converted;
        if (lengthSize > 0) {
            for (size_t at = 0; at < size;) {
                if (size - at < static_cast<size_t>(lengthSize))
                    return false;
                size_t length = 0;
                for (int k = 0; k < lengthSize; ++k) length = length << 8 | data[at + k];
                at += static_cast<size_t>(lengthSize);
                if (length > size - at)
                    return false;
                AppendNal(&converted, data + at, length);
                at += length;
            }
            data = converted.data();
            size = converted.size();
        }
        const UnitScan scan = Scan(data, size, codec);
        const bool key = scan.key || (p->flags & AV_PKT_FLAG_KEY);
        // Sets sent in band replace those of the SDP: a camera that changes its picture size
        // sends new ones, and later key frames without them refer to those.
        if (scan.parameterSets)
            parameterSets = ParameterSetsOf(data, size, codec);
        else if (key)
            unit.insert(unit.end(), parameterSets.begin(), parameterSets.end());
        unit.insert(unit.end(), data, data + size);
        return true;
    }

    void Close() {
        if (format) {
            // TEARDOWN goes out on close: bounded like every other call.
            Arm();
            avformat_close_input(&format);
        }
        av_packet_free(&packet);
        unit.clear();
        parameterSets.clear();
        video = -1;
    }
};

Source::Source() : impl_(new (std::nothrow) Impl) {}

Source::~Source() {
    Close();
}

int32_t Source::Open(const Options& options, const std::atomic<bool>* stop, StreamInfo* info) {
    if (!impl_)
        return kErrNoResources;
    Close();
    SetUpOnce();
    Impl& s = *impl_;
    UrlParts parts;
    std::string url = options.url;
    if (!ParseUrl(url, &parts))
        return kErrUrl;
    if (!options.user.empty() || !options.password.empty()) {
        url = WithCredentials(url, options.user, options.password);
        if (url.empty())
            return kErrUrl;
    }
    s.stop = stop;
    s.callLimit = std::chrono::milliseconds(options.callLimitMs > 0 ? options.callLimitMs : 5000);

    s.packet = av_packet_alloc();
    s.format = avformat_alloc_context();
    if (!s.packet || !s.format) {
        Close();
        return kErrNoResources;
    }
    s.format->interrupt_callback.callback = &Impl::Interrupt;
    s.format->interrupt_callback.opaque = &s;

    AVDictionary* opts = nullptr;
    av_dict_set(&opts, "rtsp_transport", options.transport == Transport::kUdp ? "udp" : "tcp", 0);
    av_dict_set(&opts, "rtsp_flags", "0", 0);  // never listen, never filter
    // Socket I/O limit in microseconds (FFmpeg 5; listen_timeout would make it a server).
    av_dict_set_int(&opts, "timeout", int64_t{s.callLimit.count()} * 1000, 0);
    av_dict_set(&opts, "fflags", "nobuffer", 0);
    av_dict_set_int(&opts, "probesize", 256 * 1024, 0);
    av_dict_set_int(&opts, "analyzeduration", 1000000, 0);
    av_dict_set_int(&opts, "max_delay", 200000, 0);  // UDP reordering: 0.2 s at most

    s.Arm();
    int r = avformat_open_input(&s.format, url.c_str(), nullptr, &opts);
    av_dict_free(&opts);
    std::fill(url.begin(), url.end(), '\0');
    if (r < 0) {
        const int32_t code = s.Map(r);
        s.format = nullptr;  // freed by avformat_open_input
        Close();
        return code;
    }
    s.Arm();
    r = avformat_find_stream_info(s.format, nullptr);
    if (r < 0) {
        const int32_t code = s.Map(r);
        Close();
        return code;
    }
    const AVStream* stream = nullptr;
    for (unsigned i = 0; i < s.format->nb_streams && !stream; ++i) {
        const AVCodecParameters* par = s.format->streams[i]->codecpar;
        if (par->codec_type == AVMEDIA_TYPE_VIDEO &&
            (par->codec_id == AV_CODEC_ID_H264 || par->codec_id == AV_CODEC_ID_HEVC)) {
            stream = s.format->streams[i];
            s.video = static_cast<int>(i);
        }
    }
    if (!stream) {
        Close();
        return kErrNoVideo;
    }
    for (unsigned i = 0; i < s.format->nb_streams; ++i)
        if (static_cast<int>(i) != s.video)
            s.format->streams[i]->discard = AVDISCARD_ALL;
    const AVCodecParameters* par = stream->codecpar;
    s.codec = par->codec_id == AV_CODEC_ID_HEVC ? kCodecH265 : kCodecH264;
    if (!ExtradataToAnnexB(par->extradata, static_cast<size_t>(par->extradata_size), s.codec,
                           &s.parameterSets, &s.lengthSize)) {
        // Unreadable extradata: rely on parameter sets in band.
        s.parameterSets.clear();
        s.lengthSize = 0;
    }
    if (info) {
        *info = StreamInfo{};
        info->codec = s.codec;
        info->width = par->width;
        info->height = par->height;
        AVRational rate = stream->avg_frame_rate;
        if (rate.num <= 0 || rate.den <= 0)
            rate = stream->r_frame_rate;
        if (rate.num > 0 && rate.den > 0) {
            const double fps = av_q2d(rate);
            info->fps = fps > 0 && fps <= 1000 ? fps : 0;
        }
        info->transport = options.transport;
    }
    return kOk;
}

int32_t Source::Read(Unit* unit) {
    if (!impl_ || !impl_->format)
        return kErrEnded;
    if (!unit)
        return kErrNoResources;
    Impl& s = *impl_;
    for (;;) {
        av_packet_unref(s.packet);
        s.Arm();
        const int r = av_read_frame(s.format, s.packet);
        if (r < 0)
            return s.Map(r);
        if (s.packet->stream_index != s.video || s.packet->size <= 0)
            continue;
        try {
            if (!s.Assemble(s.packet))
                continue;  // a damaged packet: the next key frame puts things right
        } catch (const std::bad_alloc&) {
            return kErrNoResources;
        }
        const AVStream* stream = s.format->streams[s.video];
        *unit = Unit{};
        unit->data = s.unit.data();
        unit->size = static_cast<uint32_t>(s.unit.size());
        unit->key =
            Scan(s.unit.data(), s.unit.size(), s.codec).key || (s.packet->flags & AV_PKT_FLAG_KEY);
        if (s.packet->pts != AV_NOPTS_VALUE)
            unit->ptsMicros =
                av_rescale_q(s.packet->pts, stream->time_base, AVRational{1, 1000000});
        return kOk;
    }
}

void Source::Close() {
    if (impl_)
        impl_->Close();
}

bool ParseUrl(const std::string& url, UrlParts* parts) {
    UrlParts local;
    size_t hostStart = 0;
    const bool ok = Split(url, parts ? parts : &local, &hostStart);
    if (!ok && parts)
        *parts = UrlParts{};
    return ok;
}

std::string WithCredentials(const std::string& url, const std::string& user,
                            const std::string& password) {
    UrlParts parts;
    size_t hostStart = 0;
    if (!Split(url, &parts, &hostStart))
        return {};
    for (unsigned char c : user + password)
        if (IsControl(c))
            return {};
    std::string out = kScheme;
    if (!user.empty() || !password.empty()) {
        out += PercentEncode(user);
        if (!password.empty())
            out += ':' + PercentEncode(password);
        out += '@';
    }
    out += url.substr(hostStart);
    return out;
}

std::string WithoutCredentials(const std::string& url) {
    UrlParts parts;
    size_t hostStart = 0;
    if (!Split(url, &parts, &hostStart))
        return {};
    return kScheme + url.substr(hostStart);
}

}  // namespace rtsp
