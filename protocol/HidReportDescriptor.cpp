#include "HidReportDescriptor.h"

#include <map>
#include <vector>

namespace strevo {

int OutputReportLengthFromDescriptor(const uint8_t* desc, size_t size) {
    struct Globals {
        uint32_t reportSize = 0;
        uint32_t reportCount = 0;
        uint32_t reportId = 0;
    };
    Globals g;
    std::vector<Globals> stack;
    std::map<uint32_t, uint64_t> outputBits;  // per report id
    size_t i = 0;
    while (i < size) {
        uint8_t prefix = desc[i];
        if (prefix == 0xFE) {  // long item: skip it
            if (i + 2 >= size)
                return 0;
            i += 3 + desc[i + 1];
            continue;
        }
        size_t len = prefix & 0x03;
        if (len == 3)
            len = 4;
        if (i + 1 + len > size)
            return 0;
        uint32_t value = 0;
        for (size_t b = 0; b < len; ++b) value |= static_cast<uint32_t>(desc[i + 1 + b]) << (8 * b);
        switch (prefix & 0xFC) {
            case 0x74:
                g.reportSize = value;
                break;
            case 0x94:
                g.reportCount = value;
                break;
            case 0x84:
                g.reportId = value;
                break;
            case 0xA4:
                stack.push_back(g);
                break;
            case 0xB4:
                if (!stack.empty()) {
                    g = stack.back();
                    stack.pop_back();
                }
                break;
            case 0x90:  // Output main item
                outputBits[g.reportId] += static_cast<uint64_t>(g.reportSize) * g.reportCount;
                break;
            default:
                break;
        }
        i += 1 + len;
    }
    uint64_t longest = 0;
    for (const auto& [id, bits] : outputBits) longest = std::max(longest, (bits + 7) / 8);
    if (longest == 0 || longest > 65535)
        return 0;
    return static_cast<int>(longest) + 1;
}

}  // namespace strevo
