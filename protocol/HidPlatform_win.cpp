// The HID stack reports the output report length itself.
#include <windows.h>
// After windows.h, whose base types it needs. The HID headers declare C
// functions without saying so to C++.
extern "C" {
#include <hidsdi.h>
}

#include "HidPlatform.h"

namespace strevo {

int PlatformOutputReportLength(const char* hidapiPath) {
    if (!hidapiPath)
        return 0;
    // Attributes only: no read or write access needed, so devices opened elsewhere answer too.
    HANDLE h = CreateFileA(hidapiPath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    int length = 0;
    PHIDP_PREPARSED_DATA data = nullptr;
    if (HidD_GetPreparsedData(h, &data)) {
        HIDP_CAPS caps{};
        if (HidP_GetCaps(data, &caps) == HIDP_STATUS_SUCCESS)
            length = caps.OutputReportByteLength;
        HidD_FreePreparsedData(data);
    }
    CloseHandle(h);
    return length;
}

}  // namespace strevo
