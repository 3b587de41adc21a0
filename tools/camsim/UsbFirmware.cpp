#include "UsbFirmware.h"

#include <cJSON.h>

#include <algorithm>
#include <cstdio>

#include "CameraModel.h"

namespace camsim {
namespace {

std::string ResultText(int32_t result) {
    char text[32];
    std::snprintf(text, sizeof text, "{\"nResult\":%d}", static_cast<int>(result));
    return text;
}

}  // namespace

bool UsbFirmware::IsUpgradeCommand(uint32_t cmd) {
    return cmd == kCmdUpgradeRequest || cmd == kCmdUpgradeData || cmd == kCmdUpgradeStatus;
}

std::string UsbFirmware::Status(int updateStatus, int progress) const {
    char text[64];
    std::snprintf(text, sizeof text, "{\"UpdateStatus\":%d,\"Progress\":%d}", updateStatus,
                  progress);
    return text;
}

int UsbFirmware::ReceivedPercent() const {
    if (phase_ != Phase::kReceiving || transfer_.fileSize == 0)
        return -1;
    return static_cast<int>(transfer_.received * 100 / transfer_.fileSize);
}

int UsbFirmware::FlashPercent(Clock::time_point now) const {
    if (flashMs <= 0)
        return 100;
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - flashStart_).count();
    return static_cast<int>(std::clamp<int64_t>(ms * 100 / flashMs, 0, 100));
}

void UsbFirmware::Reboot() {
    phase_ = Phase::kIdle;
    pending_ = false;
}

int32_t UsbFirmware::Handle(uint32_t cmd, const std::string& payload, Clock::time_point now,
                            std::string* answer) {
    if (cmd == kCmdUpgradeRequest) {
        cJSON* req = cJSON_Parse(payload.c_str());
        const cJSON* type = cJSON_GetObjectItem(req, "FileType");
        const cJSON* size = cJSON_GetObjectItem(req, "FileSize");
        int32_t result = 0;
        if (!cJSON_IsObject(req))
            result = kResultMalformed;
        else if (!cJSON_IsNumber(type) || !cJSON_IsNumber(size) || size->valuedouble < 0 ||
                 size->valuedouble > 4294967295.0)
            result = kResultBadContent;
        if (result == 0) {
            transfer_ = Transfer{};
            transfer_.fileType = static_cast<int64_t>(type->valuedouble);
            transfer_.fileSize = static_cast<uint64_t>(size->valuedouble);
            ++requests_;
            phase_ = transfer_.fileSize == 0 ? Phase::kFlashing : Phase::kReceiving;
            flashStart_ = now;
        }
        cJSON_Delete(req);
        *answer = ResultText(result);
        return result;
    }

    if (cmd == kCmdUpgradeData) {
        if (phase_ != Phase::kReceiving ||
            transfer_.received + payload.size() > transfer_.fileSize) {
            phase_ = phase_ == Phase::kReceiving ? Phase::kIdle : phase_;
            *answer = ResultText(kResultNoTransfer);
            return kResultNoTransfer;
        }
        for (unsigned char c : payload) {
            transfer_.hash ^= c;
            transfer_.hash *= 1099511628211ull;
        }
        transfer_.received += payload.size();
        transfer_.chunks.push_back(static_cast<uint32_t>(payload.size()));
        const int percent = static_cast<int>(transfer_.received * 100 / transfer_.fileSize);
        if (faults.negativeProgressAt >= 0 && percent >= faults.negativeProgressAt) {
            phase_ = Phase::kIdle;
            *answer = Status(kUpdateBusy, kFailedProgress);
        } else if (transfer_.received == transfer_.fileSize) {
            phase_ = Phase::kFlashing;
            flashStart_ = now;
            *answer = Status(kUpdateBusy, 100);
        } else {
            *answer = Status(kUpdateBusy, percent);
        }
        return 0;
    }

    if (cmd == kCmdUpgradeStatus) {
        switch (phase_) {
            case Phase::kIdle:
                *answer = Status(kUpdateIdle, 0);
                break;
            case Phase::kReceiving:
                *answer = Status(kUpdateBusy, ReceivedPercent());
                break;
            case Phase::kFlashing: {
                const int percent = FlashPercent(now);
                if (faults.flashFailAt >= 0 && percent >= faults.flashFailAt) {
                    phase_ = Phase::kIdle;
                    *answer = Status(kUpdateBusy, kFailedProgress);
                } else if (!faults.flashHangs && percent >= 100) {
                    phase_ = Phase::kDone;
                    pending_ = true;
                    *answer = Status(kUpdateDone, 0);
                } else {
                    *answer = Status(kUpdateBusy, std::min(percent, 99));
                }
                break;
            }
            case Phase::kDone:
                *answer = Status(kUpdateDone, 0);
                break;
        }
        return 0;
    }
    answer->clear();
    return kResultUnknownCmd;
}

}  // namespace camsim
