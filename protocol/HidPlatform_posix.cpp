// hidraw: the report descriptor is in sysfs beside the device node.
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "HidPlatform.h"
#include "HidReportDescriptor.h"

namespace strevo {

int PlatformOutputReportLength(const char* hidapiPath) {
    std::string path = hidapiPath ? hidapiPath : "";
    size_t slash = path.find_last_of('/');
    std::string node = slash == std::string::npos ? path : path.substr(slash + 1);
    if (node.rfind("hidraw", 0) != 0)
        return 0;
    std::ifstream in("/sys/class/hidraw/" + node + "/device/report_descriptor", std::ios::binary);
    if (!in)
        return 0;
    std::vector<uint8_t> desc((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    return OutputReportLengthFromDescriptor(desc.data(), desc.size());
}

}  // namespace strevo
