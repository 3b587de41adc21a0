#include "NetSimPicture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "NetSimStamp.h"

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

namespace {

// How each scene preset colours the picture: luma lift, contrast and saturation
// in percent, and a chroma tint.
struct SceneLook {
    const char* name;
    int lift, contrast, saturation, tintU, tintV;
};

SceneLook LookOf(int sceneMode) {
    switch (sceneMode) {
        case 3:
            return {"BEAUTY", 12, 85, 90, -4, 10};  // softer and warmer
        case 4:
            return {"JEWEL", 0, 130, 110, 6, -4};  // crisp and cool
        case 5:
            return {"CLOTHING", 0, 100, 135, 0, 0};  // rich colours
        default:
            return {"DEFAULT", 0, 100, 100, 0, 0};
    }
}

// The landscape scene as the sensor sees it, mirror and flip applied.
void DrawScene(const CameraSnapshot& s, YuvPicture* p) {
    const int w = p->width, h = p->height;
    // The lens sees about 80 degrees across at the wide end and 16 times less at tele.
    const double pxPerDeg = w / 80.0 * (1.0 + 15.0 * std::clamp(s.zoom, 0, kZoomMax) / kZoomMax);
    const double pan = s.pan / 100.0, tilt = s.tilt / 100.0;
    const double edge = 1.5 / (pxPerDeg * 10.0);  // grid lines about 1.5 pixels wide
    const SceneLook look = LookOf(s.sceneMode);

    // Cells are 10 degrees square: the cell and grid line of a pixel depend on its
    // column and row separately, so both are worked out once per column and row.
    auto axis = [edge](double degrees, int* cell, bool* line) {
        double f = degrees / 10.0;
        double fl = std::floor(f);
        *line = f - fl < edge;
        *cell = static_cast<int>(static_cast<long>(fl) % 8 + 8) % 8;
    };
    std::vector<uint8_t> colX(static_cast<size_t>(w)), colY(static_cast<size_t>(h));
    for (int x = 0; x < w; ++x) {
        int cell;
        bool line;
        axis(pan + (x - w / 2) / pxPerDeg, &cell, &line);
        colX[static_cast<size_t>(x)] = static_cast<uint8_t>(cell * 3 % 8 | (line ? 8 : 0));
    }
    for (int y = 0; y < h; ++y) {
        int cell;
        bool line;
        axis(tilt - (y - h / 2) / pxPerDeg, &cell, &line);
        colY[static_cast<size_t>(y)] = static_cast<uint8_t>(cell * 5 % 8 | (line ? 8 : 0));
    }
    auto index = [&](int x, int y) {
        uint8_t a = colX[static_cast<size_t>(x)], b = colY[static_cast<size_t>(y)];
        return (a | b) & 8 ? 8 : (a + b) & 7;  // 8: grid line
    };

    // Brightness shifts and contrast stretches the luma; saturation scales the chroma.
    const int lumaShift = (static_cast<int>(s.luminance) - 50) * 2 + look.lift;
    const int contrast = s.contrast * look.contrast / 100;
    const int saturation = s.saturation * look.saturation / 100;
    uint8_t luma[9], cu[9], cv[9];
    for (int i = 0; i < 9; ++i) {
        const Yuv c = i == 8 ? Yuv{235, 128, 128} : kPalette[i];
        luma[i] = Clamp(128 + (c.y - 128) * contrast / 50 + lumaShift, 16, 235);
        cu[i] = Clamp(128 + (c.u - 128) * saturation / 50 + look.tintU, 16, 240);
        cv[i] = Clamp(128 + (c.v - 128) * saturation / 50 + look.tintV, 16, 240);
    }
    for (int y = 0; y < h; ++y) {
        uint8_t* row = &p->y[static_cast<size_t>(s.flip ? h - 1 - y : y) * w];
        for (int x = 0; x < w; ++x) row[s.mirror ? w - 1 - x : x] = luma[index(x, y)];
    }
    for (int y = 0; y < h / 2; ++y) {
        const size_t row = static_cast<size_t>(s.flip ? h / 2 - 1 - y : y) * (w / 2);
        for (int x = 0; x < w / 2; ++x) {
            const int i = index(std::min(2 * x + 1, w - 1), std::min(2 * y + 1, h - 1));
            const size_t at = row + static_cast<size_t>(s.mirror ? w / 2 - 1 - x : x);
            p->u[at] = cu[i];
            p->v[at] = cv[i];
        }
    }

    // A marker that belongs to the scene, so mirror and flip are plain to see.
    const int m = std::max(2, h / 60);
    YuvPicture marker;
    marker.Resize(8 * m, 10 * m);
    DrawText("F", 0, 0, m, &marker);
    for (int y = 0; y < marker.height; ++y)
        for (int x = 0; x < 7 * m; ++x) {
            int ox = x + m * 2, oy = y + h / 2 - marker.height / 2;
            if (s.mirror)
                ox = w - 1 - ox;
            if (s.flip)
                oy = h - 1 - oy;
            if (ox < 0 || ox >= w || oy < 0 || oy >= h)
                continue;
            p->y[static_cast<size_t>(oy) * w + ox] =
                marker.y[static_cast<size_t>(y) * marker.width + x];
            size_t c = static_cast<size_t>(oy / 2) * (w / 2) + ox / 2;
            p->u[c] = p->v[c] = 128;
        }
}

// A portrait picture: the scene turned a quarter clockwise, fitted to the height
// of the landscape frame between black bars.
void TurnToPortrait(const YuvPicture& scene, YuvPicture* p) {
    const int w = p->width, h = p->height;
    const int pw = std::min(w, h * h / w) & ~1;
    const int left = (w - pw) / 2 & ~1;
    std::fill(p->y.begin(), p->y.end(), 16);
    std::fill(p->u.begin(), p->u.end(), 128);
    std::fill(p->v.begin(), p->v.end(), 128);
    if (pw <= 0)
        return;
    // Output (x, y) shows scene column y*w/h and row (pw-1-x)*h/pw.
    std::vector<int> srcRow(static_cast<size_t>(pw));
    for (int x = 0; x < pw; ++x) srcRow[static_cast<size_t>(x)] = (pw - 1 - x) * h / pw;
    for (int y = 0; y < h; ++y) {
        const int sx = y * w / h;
        uint8_t* out = &p->y[static_cast<size_t>(y) * w + left];
        for (int x = 0; x < pw; ++x)
            out[x] = scene.y[static_cast<size_t>(srcRow[static_cast<size_t>(x)]) * w + sx];
    }
    for (int y = 0; y < h / 2; ++y) {
        const int sx = std::min(y * 2 * w / h, w - 1) / 2;
        const size_t out = static_cast<size_t>(y) * (w / 2) + left / 2;
        for (int x = 0; x < pw / 2; ++x) {
            const size_t in =
                static_cast<size_t>(srcRow[static_cast<size_t>(2 * x)] / 2) * (w / 2) + sx;
            p->u[out + x] = scene.u[in];
            p->v[out + x] = scene.v[in];
        }
    }
}

// Whether two states give the same scene: focus, iris and motion do not show in it.
bool SameScene(const CameraSnapshot& a, const CameraSnapshot& b) {
    return a.luminance == b.luminance && a.contrast == b.contrast &&
           a.saturation == b.saturation && a.mirror == b.mirror && a.flip == b.flip &&
           a.rotation == b.rotation && a.sceneMode == b.sceneMode && a.pan == b.pan &&
           a.tilt == b.tilt && a.zoom == b.zoom;
}

}  // namespace

void DrawBusyBand(uint32_t frame, YuvPicture* p) {
    const int w = p->width, h = p->height;
    uint32_t x = 2463534242u ^ (frame * 2654435761u);
    auto next = [&x] {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return x;
    };
    for (int y = h * 5 / 8; y < h * 7 / 8; ++y) {
        uint8_t* row = &p->y[static_cast<size_t>(y) * w];
        for (int i = 0; i + 4 <= w; i += 4) {
            const uint32_t r = next();
            for (int k = 0; k < 4; ++k) row[i + k] = static_cast<uint8_t>(96 + (r >> (8 * k)) % 64);
        }
    }
}

void DrawTestPicture(const std::string& name, const std::string& clock, uint32_t frame,
                     const CameraSnapshot& s, YuvPicture* p, int overlayTop, SceneCache* cache) {
    const int w = p->width, h = p->height;
    const int top = std::clamp(overlayTop, 0, h / 2);
    const bool portrait = s.rotation != 0;
    if (cache && cache->valid && SameScene(cache->of, s) && cache->scene.width == w &&
        cache->scene.height == h) {
        p->y = cache->scene.y;
        p->u = cache->scene.u;
        p->v = cache->scene.v;
    } else {
        if (portrait) {
            YuvPicture scene;
            scene.Resize(w, h);
            DrawScene(s, &scene);
            TurnToPortrait(scene, p);
        } else {
            DrawScene(s, p);
        }
        if (cache) {
            cache->scene = *p;
            cache->of = s;
            cache->valid = true;
        }
    }

    // The overlay is written the right way round, as a real camera's OSD would be.
    const int big = std::max(1, h / 120), small = std::max(1, h / 180);
    // A block that steps along the top edge with every frame: the picture is live.
    const int step = std::max(2, w / 64) & ~1;
    const int bx = static_cast<int>(frame % 64) * w / 64 & ~1;
    for (int y = top; y < std::min(h, top + step / 2); ++y)
        std::fill_n(&p->y[static_cast<size_t>(y) * w + bx], std::min(step, w - bx), uint8_t{235});
    DrawText(name, 2 * big, top + 2 * big, big, p);
    DrawText(clock, w - (static_cast<int>(clock.size()) * 6 + 3) * big, top + 2 * big, big, p);
    char line[160];
    std::snprintf(line, sizeof line, "B%d C%d S%d %s%s%s%s P%+.1f T%+.1f Z%d", s.luminance,
                  s.contrast, s.saturation, s.mirror ? "MIR " : "", s.flip ? "FLIP " : "",
                  portrait ? "PORTRAIT " : "", LookOf(s.sceneMode).name, s.pan / 100.0,
                  s.tilt / 100.0, s.zoom);
    DrawText(line, 2 * small, h - 11 * small, small, p);
}

void DrawTimeStripe(uint64_t micros, YuvPicture* p) {
    if (p->width < stamp::kStripeMinWidth || p->height < 2 * stamp::kStripeRows)
        return;
    stamp::DrawStripe(micros, p->y.data(), p->width, p->height, p->width);
    const size_t chroma = static_cast<size_t>(p->width / 2) * (stamp::kStripeRows / 2);
    std::fill_n(p->u.begin(), chroma, uint8_t{128});
    std::fill_n(p->v.begin(), chroma, uint8_t{128});
}

}  // namespace camsim
