// ip snapshot / rtsp snapshot: the stream goes into a player port until its
// first picture (from the first key frame) is decoded; that picture is saved.
#include <chrono>
#include <cstdio>
#include <thread>

#include "Commands.h"
#include "Snapshot.h"
#include "movra.h"

namespace strevoctl {

int SaveFirstPicture(int32_t port, const std::string& outPath, const std::string& shown,
                     int seconds, const std::function<bool()>& feedMore) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + std::chrono::seconds(seconds);
    int32_t rc = strevo::kSnapshotNoPicture;
    int width = 0, height = 0;
    while (Clock::now() < end) {
        if (feedMore && !feedMore())
            break;
        rc = strevo::SavePlayerPicture(port, outPath, &width, &height);
        if (rc != strevo::kSnapshotNoPicture)
            break;
        if (!feedMore)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (rc == strevo::kSnapshotNoPicture) {
        // The last units may still be in the decoder.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        rc = strevo::SavePlayerPicture(port, outPath, &width, &height);
    }
    if (rc == strevo::kSnapshotNoPicture)
        return Fail("no picture from " + shown + " within " + std::to_string(seconds) + " s", rc);
    if (rc != 0)
        return Fail("cannot save the picture to " + outPath, rc);
    std::printf("saved %s width=%d height=%d\n", outPath.c_str(), width, height);
    return 0;
}

}  // namespace strevoctl
