#include "NetSimPicture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace camsim {
namespace {

struct Glyph {
    char c;
    uint8_t rows[7];  // bit 4 is the leftmost dot
};

constexpr Glyph kFont[] = {
    {' ', {0, 0, 0, 0, 0, 0, 0}},
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'A', {0x0E, 0x11, 0x11, 0x11, 0x1F, 0x11, 0x11}},
    {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'D', {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}},
    {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}},
    {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {'-', {0, 0, 0, 0x1F, 0, 0, 0}},
    {':', {0, 0x0C, 0x0C, 0, 0x0C, 0x0C, 0}},
    {'.', {0, 0, 0, 0, 0, 0x0C, 0x0C}},
    {',', {0, 0, 0, 0, 0x0C, 0x04, 0x08}},
    {'+', {0, 0x04, 0x04, 0x1F, 0x04, 0x04, 0}},
    {'/', {0, 0x01, 0x02, 0x04, 0x08, 0x10, 0}},
    {'=', {0, 0, 0x1F, 0, 0x1F, 0, 0}},
    {'%', {0x18, 0x19, 0x02, 0x04, 0x08, 0x13, 0x03}},
    {'(', {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02}},
    {')', {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08}},
    {'_', {0, 0, 0, 0, 0, 0, 0x1F}},
    {'#', {0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A}},
    {'?', {0x0E, 0x11, 0x01, 0x02, 0x04, 0, 0x04}},
};

const Glyph& FindGlyph(char c) {
    if (c >= 'a' && c <= 'z')
        c = static_cast<char>(c - 'a' + 'A');
    for (const Glyph& g : kFont)
        if (g.c == c)
            return g;
    return kFont[sizeof kFont / sizeof kFont[0] - 1];
}

struct Yuv {
    uint8_t y, u, v;
};

// Colours of the world's cells (BT.601 limited range).
constexpr Yuv kPalette[] = {
    {180, 44, 142}, {145, 54, 34},  {41, 240, 110}, {106, 202, 222},
    {82, 90, 240},  {162, 166, 16}, {210, 16, 146}, {120, 128, 128},
};

uint8_t Clamp(int v, int lo, int hi) {
    return static_cast<uint8_t>(std::clamp(v, lo, hi));
}

}  // namespace

void DrawText(const std::string& text, int x, int y, int scale, YuvPicture* p) {
    int boxW = static_cast<int>(text.size()) * 6 * scale + scale;
    int boxH = 9 * scale;
    for (int j = std::max(0, y); j < std::min(p->height, y + boxH); ++j)
        for (int i = std::max(0, x); i < std::min(p->width, x + boxW); ++i) {
            p->y[static_cast<size_t>(j) * p->width + i] = 16;
            if (j / 2 >= p->height / 2 || i / 2 >= p->width / 2)
                continue;  // odd sizes
            size_t c = static_cast<size_t>(j / 2) * (p->width / 2) + i / 2;
            p->u[c] = p->v[c] = 128;
        }
    int penX = x + scale;
    for (char ch : text) {
        const Glyph& g = FindGlyph(ch);
        for (int row = 0; row < 7; ++row)
            for (int col = 0; col < 5; ++col) {
                if (!(g.rows[row] & (0x10 >> col)))
                    continue;
                for (int dy = 0; dy < scale; ++dy)
                    for (int dx = 0; dx < scale; ++dx) {
                        int px = penX + col * scale + dx, py = y + scale + row * scale + dy;
                        if (px >= 0 && px < p->width && py >= 0 && py < p->height)
                            p->y[static_cast<size_t>(py) * p->width + px] = 235;
                    }
            }
        penX += 6 * scale;
    }
}

void DrawTestPicture(const std::string& name, const std::string& clock, const CameraSnapshot& s,
                     YuvPicture* p) {
    const int w = p->width, h = p->height;
    // The lens sees about 80 degrees across at the wide end and 16 times less at tele.
    const double pxPerDeg = w / 80.0 * (1.0 + 15.0 * std::clamp(s.zoom, 0, kZoomMax) / kZoomMax);
    const double pan = s.pan / 100.0, tilt = s.tilt / 100.0;
    // Brightness shifts and contrast stretches the luma; saturation scales the chroma.
    const int lumaShift = (static_cast<int>(s.luminance) - 50) * 2;
    const int contrast = s.contrast, saturation = s.saturation;

    auto cellAt = [&](int x, int y, bool* line) {
        double az = pan + (x - w / 2) / pxPerDeg;
        double el = tilt - (y - h / 2) / pxPerDeg;
        double fx = az / 10.0, fy = el / 10.0;
        double gx = fx - std::floor(fx), gy = fy - std::floor(fy);
        double edge = 1.5 / (pxPerDeg * 10.0);  // grid lines about 1.5 pixels wide
        *line = gx < edge || gy < edge;
        long cx = static_cast<long>(std::floor(fx)), cy = static_cast<long>(std::floor(fy));
        return kPalette[static_cast<size_t>(((cx * 3 + cy * 5) % 8 + 8) % 8)];
    };
    // Scene pixel (x, y) lands at the mirrored/flipped position on the sensor.
    auto dst = [&](int x, int y, int* ox, int* oy) {
        *ox = s.mirror ? w - 1 - x : x;
        *oy = s.flip ? h - 1 - y : y;
    };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            bool line = false;
            Yuv c = cellAt(x, y, &line);
            int luma = line ? 235 : c.y;
            luma = 128 + (luma - 128) * contrast / 50 + lumaShift;
            int ox, oy;
            dst(x, y, &ox, &oy);
            p->y[static_cast<size_t>(oy) * w + ox] = Clamp(luma, 16, 235);
        }
    for (int y = 0; y < h / 2; ++y)
        for (int x = 0; x < w / 2; ++x) {
            bool line = false;
            Yuv c = cellAt(2 * x + 1, 2 * y + 1, &line);
            int u = line ? 128 : 128 + (c.u - 128) * saturation / 50;
            int v = line ? 128 : 128 + (c.v - 128) * saturation / 50;
            int ox = s.mirror ? w / 2 - 1 - x : x, oy = s.flip ? h / 2 - 1 - y : y;
            size_t i = static_cast<size_t>(oy) * (w / 2) + ox;
            p->u[i] = Clamp(u, 16, 240);
            p->v[i] = Clamp(v, 16, 240);
        }
    // A marker that belongs to the scene, so mirror and flip are plain to see.
    const int m = std::max(2, h / 60);
    YuvPicture marker;
    marker.Resize(8 * m, 10 * m);
    DrawText("F", 0, 0, m, &marker);
    for (int y = 0; y < marker.height; ++y)
        for (int x = 0; x < 7 * m; ++x) {
            int ox, oy;
            dst(x + m * 2, y + h / 2 - marker.height / 2, &ox, &oy);
            if (ox < 0 || ox >= w || oy < 0 || oy >= h)
                continue;
            p->y[static_cast<size_t>(oy) * w + ox] =
                marker.y[static_cast<size_t>(y) * marker.width + x];
            size_t c = static_cast<size_t>(oy / 2) * (w / 2) + ox / 2;
            p->u[c] = p->v[c] = 128;
        }

    // The overlay is written the right way round, as a real camera's OSD would be.
    const int big = std::max(1, h / 120), small = std::max(1, h / 180);
    DrawText(name, 2 * big, 2 * big, big, p);
    DrawText(clock, w - (static_cast<int>(clock.size()) * 6 + 3) * big, 2 * big, big, p);
    char line[128];
    std::snprintf(line, sizeof line, "B%d C%d S%d %s%s P%+.1f T%+.1f Z%d", s.luminance, s.contrast,
                  s.saturation, s.mirror ? "MIR " : "", s.flip ? "FLIP " : "", pan, tilt, s.zoom);
    DrawText(line, 2 * small, h - 11 * small, small, p);
}

}  // namespace camsim
