#include "OnvifSoap.h"

namespace onvif::soap {

std::string Envelope(const std::string& header, const std::string& body) {
    std::string s =
        std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><s:Envelope xmlns:s=\"") +
        ns::kSoap + "\" xmlns:tt=\"" + ns::kSchema + "\" xmlns:tds=\"" + ns::kDevice +
        "\" xmlns:trt=\"" + ns::kMedia + "\" xmlns:timg=\"" + ns::kImaging + "\" xmlns:tptz=\"" +
        ns::kPtz + "\" xmlns:ter=\"" + ns::kError + "\">";
    if (!header.empty())
        s += "<s:Header>" + header + "</s:Header>";
    return s + "<s:Body>" + body + "</s:Body></s:Envelope>";
}

std::string Fault(const std::string& code, const std::string& subcode, const std::string& reason) {
    return Envelope({}, "<s:Fault><s:Code><s:Value>s:" + Escape(code) +
                            "</s:Value><s:Subcode><s:Value>ter:" + Escape(subcode) +
                            "</s:Value></s:Subcode></s:Code><s:Reason><s:Text xml:lang=\"en\">" +
                            Escape(reason) + "</s:Text></s:Reason></s:Fault>");
}

namespace {

int32_t Set(Error* e, int32_t code, int status, const std::string& detail) {
    e->code = code;
    e->httpStatus = status;
    e->text = ErrorText(code);
    if (!detail.empty())
        e->text += ": " + detail;
    return code;
}

bool Blank(const std::string& s) {
    return s.find_first_not_of(" \t\r\n") == std::string::npos;
}

// Keeps fault texts to one short line in messages and logs.
std::string OneLine(std::string s) {
    for (char& c : s)
        if (c == '\n' || c == '\r' || c == '\t' || static_cast<unsigned char>(c) < 0x20)
            c = ' ';
    if (s.size() > 200)
        s = s.substr(0, 200) + "...";
    return s;
}

}  // namespace

int32_t Read(int status, const std::string& body, Error* e, XmlDoc* doc, xmlNodePtr* answer) {
    *e = Error{};
    e->httpStatus = status;
    if (answer)
        *answer = nullptr;
    if (status == 401)
        return Set(e, kErrAuth, status, "HTTP 401");
    if (Blank(body)) {
        if (status == 200)
            return Set(e, kErrEmptyAnswer, status, "HTTP 200 without a body");
        return Set(e, kErrHttp, status, "HTTP " + std::to_string(status));
    }
    *doc = XmlDoc::Parse(body);
    const xmlNode* root = doc->Root();
    if (!Is(root, ns::kSoap, "Envelope")) {
        if (status != 200)
            return Set(e, kErrHttp, status, "HTTP " + std::to_string(status));
        return Set(e, kErrMalformed, status, "not a SOAP 1.2 envelope");
    }
    const xmlNode* soapBody = Child(root, ns::kSoap, "Body");
    const xmlNode* fault = Child(soapBody, ns::kSoap, "Fault");
    if (fault) {
        const xmlNode* code = Child(fault, ns::kSoap, "Code");
        e->faultCode = OneLine(Text(Child(code, ns::kSoap, "Value")));
        // The innermost subcode says most.
        const xmlNode* sub = Child(code, ns::kSoap, "Subcode");
        const xmlNode* subValue = nullptr;
        for (int depth = 0; sub && depth < 16; ++depth) {
            subValue = Child(sub, ns::kSoap, "Value");
            sub = Child(sub, ns::kSoap, "Subcode");
        }
        e->faultSubcode = OneLine(Text(subValue));
        e->faultReason = OneLine(Text(Find(Child(fault, ns::kSoap, "Reason"), ns::kSoap, "Text")));
        bool auth = false;
        // Any level of subcode may say NotAuthorized; match by namespace, not prefix.
        for (const xmlNode* s = Child(code, ns::kSoap, "Subcode"); s && !auth;
             s = Child(s, ns::kSoap, "Subcode")) {
            const xmlNode* v = Child(s, ns::kSoap, "Value");
            std::string uri, local;
            if (v && ResolveQName(v, Text(v), &uri, &local))
                auth = (uri == ns::kError && local == "NotAuthorized") ||
                       (uri == ns::kWsse &&
                        (local == "FailedAuthentication" || local == "InvalidSecurityToken"));
        }
        std::string detail = e->faultCode;
        if (!e->faultSubcode.empty())
            detail += " / " + e->faultSubcode;
        if (!e->faultReason.empty())
            detail += ": " + e->faultReason;
        return Set(e, auth ? kErrAuth : kErrFault, status, detail);
    }
    if (status != 200)
        return Set(e, kErrHttp, status, "HTTP " + std::to_string(status));
    xmlNodePtr first = nullptr;
    for (xmlNodePtr c = soapBody ? soapBody->children : nullptr; c && !first; c = c->next)
        if (c->type == XML_ELEMENT_NODE)
            first = c;
    if (!first)
        return Set(e, kErrMalformed, status, "the SOAP body is empty");
    if (answer)
        *answer = first;
    return kOk;
}

}  // namespace onvif::soap
