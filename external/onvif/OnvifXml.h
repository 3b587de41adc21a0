// The ONVIF module's XML reading and writing on libxml2. Elements are found by
// namespace URI and local name at any depth, never by prefix, because cameras
// choose their prefixes freely. Numbers are printed with std::to_chars so no
// locale can turn 0.5 into "0,5".
#pragma once

#include <libxml/tree.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace onvif {

// Namespace URIs of the messages this module reads and writes.
namespace ns {
constexpr const char* kSoap = "http://www.w3.org/2003/05/soap-envelope";
constexpr const char* kDevice = "http://www.onvif.org/ver10/device/wsdl";
constexpr const char* kMedia = "http://www.onvif.org/ver10/media/wsdl";
constexpr const char* kImaging = "http://www.onvif.org/ver20/imaging/wsdl";
constexpr const char* kPtz = "http://www.onvif.org/ver20/ptz/wsdl";
constexpr const char* kSchema = "http://www.onvif.org/ver10/schema";
constexpr const char* kError = "http://www.onvif.org/ver10/error";
constexpr const char* kNetwork = "http://www.onvif.org/ver10/network/wsdl";
constexpr const char* kWsse =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-secext-1.0.xsd";
constexpr const char* kWsu =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-utility-1.0.xsd";
constexpr const char* kDiscovery = "http://schemas.xmlsoap.org/ws/2005/04/discovery";
constexpr const char* kAddressing = "http://schemas.xmlsoap.org/ws/2004/08/addressing";
}  // namespace ns

// A parsed document; empty when the text was not well-formed XML.
class XmlDoc {
  public:
    // Parses without touching the network and without expanding entities.
    static XmlDoc Parse(std::string_view text);
    XmlDoc() = default;
    explicit operator bool() const { return doc_ != nullptr; }
    xmlNodePtr Root() const;

  private:
    struct Free {
        void operator()(xmlDocPtr d) const { xmlFreeDoc(d); }
    };
    std::unique_ptr<xmlDoc, Free> doc_;
};

bool Is(const xmlNode* node, const char* nsUri, const char* local);
// The first element below node (at any depth, document order) with that name.
xmlNodePtr Find(const xmlNode* node, const char* nsUri, const char* local);
// Every such element below node, in document order (not below a match).
std::vector<xmlNodePtr> FindAll(const xmlNode* node, const char* nsUri, const char* local);
// Child elements only.
xmlNodePtr Child(const xmlNode* node, const char* nsUri, const char* local);
// The text content, trimmed of surrounding white space.
std::string Text(const xmlNode* node);
// An attribute without namespace; empty when absent.
std::string Attr(const xmlNode* node, const char* name);
// The text of the first element with that name below node, if any.
std::optional<std::string> FindText(const xmlNode* node, const char* nsUri, const char* local);
// A decimal number (xs:float, xs:int); nullopt when the text is none.
std::optional<double> Number(std::string_view text);
// A QName value ("tdn:NetworkVideoTransmitter") resolved against the
// namespaces in scope at node: the namespace URI and local name.
bool ResolveQName(const xmlNode* node, std::string_view qname, std::string* nsUri,
                  std::string* local);

// Escapes &, <, >, " and ' for element text and attribute values.
std::string Escape(std::string_view text);
// Shortest text that reads back as the same value, always with a '.'.
std::string Format(double value);
std::string Format(int64_t value);

}  // namespace onvif
