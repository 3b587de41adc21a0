// Platform parts of the hidapi backend.
#pragma once

namespace strevo {

// Output report length (report id byte included) of the device at a hidapi
// path; 0 when it cannot be determined.
int PlatformOutputReportLength(const char* hidapiPath);

}  // namespace strevo
