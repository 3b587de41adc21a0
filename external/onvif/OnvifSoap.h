// SOAP 1.2 envelopes of the ONVIF calls and the reader of their answers.
#pragma once

#include <string>

#include "OnvifClient.h"
#include "OnvifXml.h"

namespace onvif::soap {

// The envelope with the prefixes the request bodies use: s (SOAP), tt, tds,
// trt, timg, tptz; header may be empty.
std::string Envelope(const std::string& header, const std::string& body);

// Reads an answer: kOk with *answer the Body's first child element, or the
// error (filled in *error) for a fault, 401, an empty or malformed message.
int32_t Read(int httpStatus, const std::string& body, Error* error, XmlDoc* doc,
             xmlNodePtr* answer);

// A fault message, for camsim's cameras: code "Sender" or "Receiver",
// subcode a local name in the ONVIF error namespace.
std::string Fault(const std::string& code, const std::string& subcode, const std::string& reason);

// The fields of a tt:ImagingSettings20 element (the element itself given), and
// the elements inside one for what is set, in schema order with tt: prefixes.
void ReadImagingSettings(const xmlNode* settings, ImagingSettings* out);
std::string ImagingSettingsXml(const ImagingSettings& s);

#define ONVIF_ACTION(name, service, op) constexpr const char* name = service "/" op
ONVIF_ACTION(kActionGetSystemDateAndTime, "http://www.onvif.org/ver10/device/wsdl",
             "GetSystemDateAndTime");
ONVIF_ACTION(kActionGetServices, "http://www.onvif.org/ver10/device/wsdl", "GetServices");
ONVIF_ACTION(kActionGetCapabilities, "http://www.onvif.org/ver10/device/wsdl", "GetCapabilities");
ONVIF_ACTION(kActionGetDeviceInformation, "http://www.onvif.org/ver10/device/wsdl",
             "GetDeviceInformation");
ONVIF_ACTION(kActionSystemReboot, "http://www.onvif.org/ver10/device/wsdl", "SystemReboot");
ONVIF_ACTION(kActionGetProfiles, "http://www.onvif.org/ver10/media/wsdl", "GetProfiles");
ONVIF_ACTION(kActionGetStreamUri, "http://www.onvif.org/ver10/media/wsdl", "GetStreamUri");
ONVIF_ACTION(kActionGetSnapshotUri, "http://www.onvif.org/ver10/media/wsdl", "GetSnapshotUri");
ONVIF_ACTION(kActionGetImagingSettings, "http://www.onvif.org/ver20/imaging/wsdl",
             "GetImagingSettings");
ONVIF_ACTION(kActionSetImagingSettings, "http://www.onvif.org/ver20/imaging/wsdl",
             "SetImagingSettings");
ONVIF_ACTION(kActionGetOptions, "http://www.onvif.org/ver20/imaging/wsdl", "GetOptions");
ONVIF_ACTION(kActionGetMoveOptions, "http://www.onvif.org/ver20/imaging/wsdl", "GetMoveOptions");
ONVIF_ACTION(kActionMove, "http://www.onvif.org/ver20/imaging/wsdl", "Move");
ONVIF_ACTION(kActionImagingStop, "http://www.onvif.org/ver20/imaging/wsdl", "Stop");
ONVIF_ACTION(kActionGetConfigurationOptions, "http://www.onvif.org/ver20/ptz/wsdl",
             "GetConfigurationOptions");
ONVIF_ACTION(kActionContinuousMove, "http://www.onvif.org/ver20/ptz/wsdl", "ContinuousMove");
ONVIF_ACTION(kActionPtzStop, "http://www.onvif.org/ver20/ptz/wsdl", "Stop");
ONVIF_ACTION(kActionGetPresets, "http://www.onvif.org/ver20/ptz/wsdl", "GetPresets");
ONVIF_ACTION(kActionGotoPreset, "http://www.onvif.org/ver20/ptz/wsdl", "GotoPreset");
ONVIF_ACTION(kActionSetPreset, "http://www.onvif.org/ver20/ptz/wsdl", "SetPreset");
ONVIF_ACTION(kActionRemovePreset, "http://www.onvif.org/ver20/ptz/wsdl", "RemovePreset");
ONVIF_ACTION(kActionGotoHomePosition, "http://www.onvif.org/ver20/ptz/wsdl", "GotoHomePosition");
#undef ONVIF_ACTION

}  // namespace onvif::soap
