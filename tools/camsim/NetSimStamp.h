// The send stamp of a simulated network camera's stream: every access unit
// starts with a small user-data unit that holds the time at which camsim handed
// the frame to its socket, so a viewer can measure the delay to its display.
// Layout in docs/sdk-protocol.md ("camsim's network cameras"); H.265 and the
// time stripe in docs/camsim-rtsp.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace camsim::stamp {

// Identifies the stamp; no byte is zero, so it never looks like a start code.
inline constexpr uint8_t kUuid[16] = {0x73, 0x74, 0x72, 0x65, 0x76, 0x6F, 0x2D, 0x73,
                                      0x65, 0x6E, 0x64, 0x2D, 0x74, 0x69, 0x6D, 0x65};
inline constexpr size_t kTimeBytes = 10;  // 7 bits each, top bit set
inline constexpr size_t kUnitSize = 34;   // start code to trailing bits; H.265: 35

enum class Codec { kH264, kMpeg4, kH265 };

// Appends a stamp unit (time 0) to out and returns the offset of its time field.
size_t Append(Codec codec, std::vector<uint8_t>* out);
// Writes a time into a time field in place; the unit's size never changes.
void Write(uint8_t* field, uint64_t micros);
// Finds the stamp in stream data; false when it holds none.
bool Find(const uint8_t* data, size_t length, uint64_t* micros);
// Microseconds of the steady (monotonic) clock, which every process on the
// machine shares.
uint64_t NowMicros();

// The capture time drawn into the picture itself, for viewers that see only
// decoded pictures: the top kStripeRows rows hold 64 black or white blocks
// (layout in docs/camsim-rtsp.md). Pictures narrower than kStripeMinWidth or
// lower than 2 * kStripeRows get none.
inline constexpr int kStripeRows = 16;
inline constexpr int kStripeMinWidth = 128;
inline constexpr int kStripeTimeBits = 48;
// Draws the low 48 bits of micros into a luma plane.
void DrawStripe(uint64_t micros, uint8_t* gray, int width, int height, int stride);
// Reads the stripe from a luma plane at the size it was drawn; false when the
// start pattern or the check bits do not match.
bool ReadStripe(const uint8_t* gray, int width, int height, int stride, uint64_t* micros);
// Reads the stripe from a picture scaled after it was drawn: the drawn picture
// now fills width pixels from column x, and its stripe the rows y to y + rows - 1.
// The caller makes sure those rows and columns lie inside the plane.
bool ReadScaledStripe(const uint8_t* gray, int stride, int x, int y, int width, int rows,
                      uint64_t* micros);

}  // namespace camsim::stamp
