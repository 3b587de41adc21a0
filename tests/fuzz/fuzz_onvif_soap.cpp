// The reader of ONVIF SOAP answers. Whatever the body and HTTP status: the
// result is one of the reader's codes, a success has an answer element, the
// error text is one line, and imaging settings read from any answer survive
// being written and read again unchanged.
//
// Input: Byte choosing the HTTP status, then the body.
#include <cstdlib>
#include <string>

#include "FuzzInput.h"
#include "OnvifClient.h"
#include "OnvifSoap.h"
#include "OnvifXml.h"

namespace {

bool Same(const onvif::ImagingSettings& a, const onvif::ImagingSettings& b) {
    for (int i = 0; i < onvif::ImagingFieldCount(); ++i) {
        const char* name = onvif::ImagingFieldAt(i)->name;
        if (onvif::GetImagingField(a, name) != onvif::GetImagingField(b, name))
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    static const int kStatus[] = {200, 400, 401, 500, 502};
    const int status = kStatus[in.Byte() % 5];
    const std::string body = in.Rest();
    onvif::Error e;
    onvif::XmlDoc doc;
    xmlNodePtr answer = nullptr;
    const int32_t r = onvif::soap::Read(status, body, &e, &doc, &answer);
    switch (r) {
        case onvif::kOk:
            if (!answer || e.code != onvif::kOk)
                std::abort();
            break;
        case onvif::kErrFault:
        case onvif::kErrAuth:
        case onvif::kErrEmptyAnswer:
        case onvif::kErrMalformed:
        case onvif::kErrHttp:
            if (e.code != r || e.text.empty())
                std::abort();
            break;
        default:
            std::abort();
    }
    for (char c : e.text)
        if (c == '\n' || c == '\r')
            std::abort();
    if (r == onvif::kOk) {
        const xmlNode* top = onvif::Find(answer, onvif::ns::kImaging, "ImagingSettings");
        onvif::ImagingSettings s, again;
        onvif::soap::ReadImagingSettings(top, &s);
        const std::string xml = onvif::soap::Envelope({}, "<timg:X><timg:ImagingSettings>" +
                                                              onvif::soap::ImagingSettingsXml(s) +
                                                              "</timg:ImagingSettings></timg:X>");
        onvif::XmlDoc doc2;
        xmlNodePtr a2 = nullptr;
        if (onvif::soap::Read(200, xml, &e, &doc2, &a2) != onvif::kOk)
            std::abort();
        onvif::soap::ReadImagingSettings(onvif::Find(a2, onvif::ns::kImaging, "ImagingSettings"),
                                         &again);
        if (!Same(s, again))
            std::abort();
    }
    return 0;
}
