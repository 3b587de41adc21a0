#include "OnvifDiscovery.h"

#include <chrono>
#include <set>

#include "OnvifAuth.h"
#include "OnvifClient.h"
#include "OnvifNet.h"
#include "OnvifXml.h"

namespace onvif {

namespace {

constexpr const char* kProbeAction = "http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe";
constexpr const char* kMatchesAction =
    "http://schemas.xmlsoap.org/ws/2005/04/discovery/ProbeMatches";
constexpr const char* kDiscoveryTo = "urn:schemas-xmlsoap-org:ws:2005:04:discovery";

std::string Head(const std::string& action, const std::string& messageId,
                 const std::string& extra) {
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><s:Envelope xmlns:s=\"") +
           ns::kSoap + "\" xmlns:a=\"" + ns::kAddressing + "\" xmlns:d=\"" + ns::kDiscovery +
           "\" xmlns:dn=\"" + ns::kNetwork + "\"><s:Header><a:Action s:mustUnderstand=\"1\">" +
           action + "</a:Action><a:MessageID>" + Escape(messageId) + "</a:MessageID>" + extra +
           "</s:Header><s:Body>";
}

std::vector<std::string> Words(const std::string& s) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at < s.size()) {
        const size_t b = s.find_first_not_of(" \t\r\n", at);
        if (b == std::string::npos)
            break;
        size_t e = s.find_first_of(" \t\r\n", b);
        if (e == std::string::npos)
            e = s.size();
        out.push_back(s.substr(b, e - b));
        at = e;
    }
    return out;
}

// Whether a d:Types element names NetworkVideoTransmitter in the network namespace.
bool NamesCamera(const xmlNode* types) {
    for (const std::string& q : Words(Text(types))) {
        std::string uri, local;
        if (ResolveQName(types, q, &uri, &local) && uri == ns::kNetwork &&
            local == "NetworkVideoTransmitter")
            return true;
    }
    return false;
}

std::string PercentDecode(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        auto hex = [](char c) {
            return c >= '0' && c <= '9'   ? c - '0'
                   : c >= 'a' && c <= 'f' ? c - 'a' + 10
                   : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                          : -1;
        };
        if (s[i] == '%' && i + 2 < s.size() && hex(s[i + 1]) >= 0 && hex(s[i + 2]) >= 0) {
            out += static_cast<char>(hex(s[i + 1]) * 16 + hex(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

}  // namespace

std::string NewMessageId() {
    const std::string r = RandomBytes(16);
    if (r.size() != 16)
        return {};
    static const char* const digits = "0123456789abcdef";
    std::string s = "urn:uuid:";
    for (size_t i = 0; i < 16; ++i) {
        unsigned char b = static_cast<unsigned char>(r[i]);
        if (i == 6)
            b = static_cast<unsigned char>((b & 0x0F) | 0x40);
        if (i == 8)
            b = static_cast<unsigned char>((b & 0x3F) | 0x80);
        if (i == 4 || i == 6 || i == 8 || i == 10)
            s += '-';
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

std::string ProbeMessage(const std::string& messageId) {
    return Head(kProbeAction, messageId,
                std::string("<a:To s:mustUnderstand=\"1\">") + kDiscoveryTo + "</a:To>") +
           "<d:Probe><d:Types>dn:NetworkVideoTransmitter</d:Types></d:Probe></s:Body></s:Envelope>";
}

std::string ProbeMatchesMessage(const std::string& relatesTo, const std::string& endpoint,
                                const std::string& xaddr, const std::vector<std::string>& scopes) {
    std::string scopeText;
    for (const auto& s : scopes) scopeText += (scopeText.empty() ? "" : " ") + Escape(s);
    return Head(kMatchesAction, NewMessageId(),
                "<a:RelatesTo>" + Escape(relatesTo) +
                    "</a:RelatesTo><a:To>http://schemas.xmlsoap.org/ws/2004/08/addressing/role/"
                    "anonymous</a:To>") +
           "<d:ProbeMatches><d:ProbeMatch><a:EndpointReference><a:Address>" + Escape(endpoint) +
           "</a:Address></a:EndpointReference><d:Types>dn:NetworkVideoTransmitter</d:Types>"
           "<d:Scopes>" +
           scopeText + "</d:Scopes><d:XAddrs>" + Escape(xaddr) +
           "</d:XAddrs><d:MetadataVersion>1</d:MetadataVersion></d:ProbeMatch></d:ProbeMatches>"
           "</s:Body></s:Envelope>";
}

bool ReadProbe(const std::string& datagram, std::string* messageId) {
    const XmlDoc doc = XmlDoc::Parse(datagram);
    const xmlNode* root = doc.Root();
    if (!Is(root, ns::kSoap, "Envelope"))
        return false;
    const xmlNode* header = Child(root, ns::kSoap, "Header");
    if (Text(Child(header, ns::kAddressing, "Action")) != kProbeAction)
        return false;
    const xmlNode* probe = Child(Child(root, ns::kSoap, "Body"), ns::kDiscovery, "Probe");
    if (!probe)
        return false;
    *messageId = Text(Child(header, ns::kAddressing, "MessageID"));
    if (messageId->empty())
        return false;
    const xmlNode* types = Child(probe, ns::kDiscovery, "Types");
    return !types || Text(types).empty() || NamesCamera(types);
}

bool ReadProbeMatches(const std::string& datagram, const std::string& messageId,
                      std::vector<DiscoveredCamera>* out) {
    const XmlDoc doc = XmlDoc::Parse(datagram);
    const xmlNode* root = doc.Root();
    if (!Is(root, ns::kSoap, "Envelope"))
        return false;
    const xmlNode* header = Child(root, ns::kSoap, "Header");
    if (Text(Child(header, ns::kAddressing, "Action")) != kMatchesAction)
        return false;
    if (!messageId.empty() && Text(Child(header, ns::kAddressing, "RelatesTo")) != messageId)
        return false;
    const xmlNode* matches = Child(Child(root, ns::kSoap, "Body"), ns::kDiscovery, "ProbeMatches");
    if (!matches)
        return false;
    bool any = false;
    for (const xmlNode* m = matches->children; m; m = m->next) {
        if (!Is(m, ns::kDiscovery, "ProbeMatch"))
            continue;
        if (!NamesCamera(Child(m, ns::kDiscovery, "Types")))
            continue;
        DiscoveredCamera cam;
        cam.endpoint =
            Text(Child(Child(m, ns::kAddressing, "EndpointReference"), ns::kAddressing, "Address"));
        for (const std::string& x : Words(Text(Child(m, ns::kDiscovery, "XAddrs"))))
            if (x.rfind("http://", 0) == 0)
                cam.xaddrs.push_back(x);
        cam.scopes = Words(Text(Child(m, ns::kDiscovery, "Scopes")));
        for (const std::string& s : cam.scopes) {
            const std::string base = "onvif://www.onvif.org/";
            if (s.rfind(base + "name/", 0) == 0)
                cam.name = PercentDecode(s.substr(base.size() + 5));
            else if (s.rfind(base + "hardware/", 0) == 0)
                cam.hardware = PercentDecode(s.substr(base.size() + 9));
        }
        if (cam.endpoint.empty() || cam.xaddrs.empty())
            continue;
        out->push_back(std::move(cam));
        any = true;
    }
    return any;
}

int32_t Discover(const DiscoveryOptions& options, std::vector<DiscoveredCamera>* out,
                 const std::function<void(const DiscoveredCamera&)>& onCamera) {
    out->clear();
    net::Udp udp;
    if (!udp.Open("", 0, false))
        return kErrConnect;
    if (!options.multicastInterface.empty())
        udp.SetMulticastInterface(options.multicastInterface);
    const std::string id = NewMessageId();
    if (id.empty())
        return kErrNoResources;
    const std::string target = options.target.empty() ? kDiscoveryGroup : options.target;
    if (!udp.SendTo(ProbeMessage(id), target, kDiscoveryPort))
        return kErrConnect;
    std::set<std::string> seen;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(options.waitMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              end - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            break;
        std::string datagram, from;
        int port = 0;
        if (!udp.Receive(&datagram, &from, &port, static_cast<int>(left)))
            continue;
        std::vector<DiscoveredCamera> found;
        if (!ReadProbeMatches(datagram, id, &found))
            continue;
        for (auto& cam : found) {
            if (!seen.insert(cam.endpoint).second)
                continue;
            cam.from = from;
            out->push_back(cam);
            if (onCamera)
                onCamera(out->back());
        }
    }
    return kOk;
}

}  // namespace onvif
