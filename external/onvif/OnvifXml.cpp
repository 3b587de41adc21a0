#include "OnvifXml.h"

#include <libxml/parser.h>

#include <charconv>
#include <cmath>
#include <cstring>

namespace onvif {

namespace {

// A camera's malformed answer is an error code, not text on stderr: libxml2's
// encoding layer reports through the generic handler whatever the parse
// options say.
void Quiet(void*, const char*, ...) {}

}  // namespace

XmlDoc XmlDoc::Parse(std::string_view text) {
    XmlDoc d;
    if (text.empty() || text.size() > 16u << 20)
        return d;
    xmlSetGenericErrorFunc(nullptr, &Quiet);  // per thread
    d.doc_.reset(xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr,
                               XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    return d;
}

xmlNodePtr XmlDoc::Root() const {
    return doc_ ? xmlDocGetRootElement(doc_.get()) : nullptr;
}

bool Is(const xmlNode* node, const char* nsUri, const char* local) {
    if (!node || node->type != XML_ELEMENT_NODE || !node->name)
        return false;
    if (std::strcmp(reinterpret_cast<const char*>(node->name), local) != 0)
        return false;
    if (!nsUri)
        return true;
    return node->ns && node->ns->href &&
           std::strcmp(reinterpret_cast<const char*>(node->ns->href), nsUri) == 0;
}

namespace {

// Depth-first over the elements below node; visit returns true to stop there
// (and not descend into the match).
template <typename Visit>
bool Walk(const xmlNode* node, Visit&& visit) {
    for (xmlNodePtr c = node ? node->children : nullptr; c; c = c->next) {
        if (c->type != XML_ELEMENT_NODE)
            continue;
        if (visit(c))
            return true;
        if (Walk(c, visit))
            return true;
    }
    return false;
}

}  // namespace

xmlNodePtr Find(const xmlNode* node, const char* nsUri, const char* local) {
    xmlNodePtr found = nullptr;
    Walk(node, [&](xmlNodePtr c) {
        if (!Is(c, nsUri, local))
            return false;
        found = c;
        return true;
    });
    return found;
}

std::vector<xmlNodePtr> FindAll(const xmlNode* node, const char* nsUri, const char* local) {
    std::vector<xmlNodePtr> out;
    // Iterative over siblings, recursive into non-matches only.
    for (xmlNodePtr c = node ? node->children : nullptr; c; c = c->next) {
        if (c->type != XML_ELEMENT_NODE)
            continue;
        if (Is(c, nsUri, local)) {
            out.push_back(c);
            continue;
        }
        auto below = FindAll(c, nsUri, local);
        out.insert(out.end(), below.begin(), below.end());
    }
    return out;
}

xmlNodePtr Child(const xmlNode* node, const char* nsUri, const char* local) {
    for (xmlNodePtr c = node ? node->children : nullptr; c; c = c->next)
        if (Is(c, nsUri, local))
            return c;
    return nullptr;
}

std::string Text(const xmlNode* node) {
    if (!node)
        return {};
    xmlChar* content = xmlNodeGetContent(node);
    std::string s = content ? reinterpret_cast<const char*>(content) : "";
    xmlFree(content);
    const char* ws = " \t\r\n";
    const size_t b = s.find_first_not_of(ws);
    if (b == std::string::npos)
        return {};
    return s.substr(b, s.find_last_not_of(ws) - b + 1);
}

std::string Attr(const xmlNode* node, const char* name) {
    if (!node || node->type != XML_ELEMENT_NODE)
        return {};
    xmlChar* v = xmlGetNoNsProp(node, reinterpret_cast<const xmlChar*>(name));
    std::string s = v ? reinterpret_cast<const char*>(v) : "";
    xmlFree(v);
    return s;
}

std::optional<std::string> FindText(const xmlNode* node, const char* nsUri, const char* local) {
    const xmlNode* n = Find(node, nsUri, local);
    if (!n)
        return std::nullopt;
    return Text(n);
}

std::optional<double> Number(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\n' ||
                             text.front() == '\r'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\n' ||
                             text.back() == '\r'))
        text.remove_suffix(1);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    double v = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size() ||
        !std::isfinite(v))
        return std::nullopt;
    return v;
}

bool ResolveQName(const xmlNode* node, std::string_view qname, std::string* nsUri,
                  std::string* local) {
    const size_t colon = qname.find(':');
    const std::string prefix =
        colon == std::string_view::npos ? "" : std::string(qname.substr(0, colon));
    *local = std::string(colon == std::string_view::npos ? qname : qname.substr(colon + 1));
    if (local->empty() || !node)
        return false;
    xmlNsPtr n =
        xmlSearchNs(node->doc, const_cast<xmlNode*>(node),
                    prefix.empty() ? nullptr : reinterpret_cast<const xmlChar*>(prefix.c_str()));
    if (!n || !n->href)
        return false;
    *nsUri = reinterpret_cast<const char*>(n->href);
    return true;
}

std::string Escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string Format(double value) {
    if (!std::isfinite(value))
        value = 0;
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    std::string s(buf, r.ptr);
    if (s.find_first_of(".e") == std::string::npos)
        s += ".0";
    return s;
}

std::string Format(int64_t value) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, r.ptr);
}

}  // namespace onvif
