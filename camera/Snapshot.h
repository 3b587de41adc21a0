// Snapshots: a player port's newest decoded picture, at the stream's own size,
// saved as a PNG file. Shared by the preview panes and strevoctl; FFmpeg's PNG
// encoder, no Qt.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace strevo {

enum : int32_t {
    kSnapshotNoPicture = -330,     // nothing decoded yet
    kSnapshotEncodeFailed = -331,  // no PNG encoder, or it refused the picture
    kSnapshotOpenFailed = -332,    // the file could not be created
    kSnapshotWriteFailed = -333,   // created, but not written whole
};

// PNG of pixels 0xffRRGGBB (rows strideBytes apart) into *png.
int32_t EncodePng(const uint32_t* pixels, int width, int height, int strideBytes,
                  std::vector<uint8_t>* png);

// Whether the port has decoded a picture yet (false for no port).
bool PlayerHasPicture(int32_t port);

// The port's newest picture at its decoded size into path (replaced whole or
// left as it was). Gives the picture's size. 0 or one of the codes above (or
// the player's own, for a port that is not open).
int32_t SavePlayerPicture(int32_t port, const std::string& path, int* width = nullptr,
                          int* height = nullptr);

// "ADDRESS_YYYYMMDD_HHMMSS_mmm.png" from the camera's address and the local
// time, with every character that a Windows file name may not hold made '_'.
std::string SnapshotFileName(const std::string& address, const std::tm& local, int millis);

}  // namespace strevo
