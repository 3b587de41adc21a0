// The translation between the image parameter record (VideoParam.h, the
// pages' values) and an ONVIF camera's imaging settings, and the panel's PTZ
// actions as ONVIF velocities. Pure: nothing here talks to a camera.
//
// Sliders are scaled linearly between the page's range and the range the
// camera reports, both ways, so that what is written reads back as the same
// page value; modes map value by value; the shutter is the record's 10 µs
// units against microseconds; the iris list (F1.5 to F9.6) spreads over the
// camera's iris range from open to closed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "OnvifClient.h"

namespace strevo {

struct VideoParam;

namespace onvifmap {

// Whether the record key has an ONVIF setting at all (case-insensitive).
bool IsMapped(const std::string& key);
// Whether this camera has it: the map has a row and the camera reported the
// setting (a range or modes in its options, or a value in its settings).
bool CameraHas(const std::string& key, const onvif::ImagingOptions& options,
               const onvif::ImagingSettings& settings);
// The record keys of the map, in record order.
const std::vector<std::string>& MappedKeys();

// Fills the mapped fields the settings hold; other fields are left as they
// are, and so is a mode the map does not know.
void ReadSettings(const onvif::ImagingSettings& settings, const onvif::ImagingOptions& options,
                  VideoParam* param);
// Puts one record value into *out. kOk; onvif::kErrUnsupported when the key
// has no setting on this camera; onvif::kErrArgument when the value is outside
// the page's range or not expressible (a mode the map or the camera lacks).
// *out is left unchanged on failure.
int32_t WriteValue(const std::string& key, int64_t value, const onvif::ImagingOptions& options,
                   const onvif::ImagingSettings& current, onvif::ImagingSettings* out);

// The PTZ panel's press actions that ONVIF moves express (the iris steps are
// imaging writes, see IrisStep).
struct Move {
    int x = 0, y = 0, zoom = 0, focus = 0;  // directions -1, 0, 1
};
// False for an action name this map does not know.
bool FindMove(const std::string& action, Move* move);
// Speed 1 to 8 (clamped) as a share of the camera's velocity range in the
// move's direction; the generic space (-1 to 1) where the camera gave none.
onvif::PtzVelocity MoveVelocity(const Move& move, int speed, const onvif::PtzOptions& options);
// The focus speed for a FocusNear / FocusFar press in the camera's
// continuous speed range.
double FocusSpeed(int direction, int speed, const onvif::Range& range);
// One iris step (a tenth of the camera's range) from current, open > 0,
// within the range.
double IrisStep(double current, int direction, const onvif::Range& range);

}  // namespace onvifmap
}  // namespace strevo
