#include "guide.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "brand_parts.h"
#include "output.h"

// Debian's libstb-dev, copied into the build tree at configure time as
// stb_image.h is: the PNG writer, in memory only, and the quad font that
// labels the regions.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#include "stb_image_write.h"
#include "stb_easy_font.h"

// The places the launcher's window gives its controls on a 96-DPI screen,
// as the GUI test's layout scenario measures them (tests/gui/gui-test); the
// dialog template in res/ sets them in dialog units. Each button's picture
// is drawn from its left edge; the progress bar covers the bottom of the
// splash while a staging that lasts past a second runs.
const SplashRegion SPLASH_REGIONS[] = {
    {"simplified 435,44 118x26", 435, 44, 119, 26, 118, true, {214, 39, 40}, SplashRegion::LEFT},
    {"traditional 435,81 118x26", 435, 81, 119, 26, 118, true, {31, 119, 180}, SplashRegion::LEFT},
    {"exit 435,119 118x26", 435, 119, 119, 26, 118, true, {44, 160, 44}, SplashRegion::LEFT},
    {"English, hidden: 189,324 167x36", 189, 324, 167, 36, 0, false, {110, 110, 110}, SplashRegion::ABOVE},
    {"progress bar, while staging: 20,330 560x20", 20, 330, 560, 20, 0, true, {230, 120, 0}, SplashRegion::INSIDE},
};
const size_t SPLASH_REGION_COUNT = sizeof SPLASH_REGIONS / sizeof SPLASH_REGIONS[0];

namespace {

const int WIDTH = 600, HEIGHT = 360;
const size_t DIB_HEADER_SIZE = 40;

// A 24-bit picture, top-down, RGB.
struct Canvas {
    std::vector<unsigned char> pixels = std::vector<unsigned char>(WIDTH * HEIGHT * 3);

    // Mixes colour into the pixel: 0 keeps it, 256 replaces it.
    void Blend(int x, int y, const unsigned char rgb[3], unsigned weight)
    {
        if (x < 0 || y < 0 || x >= WIDTH || y >= HEIGHT)
            return;
        unsigned char* p = &pixels[(static_cast<size_t>(y) * WIDTH + x) * 3];
        for (int c = 0; c < 3; ++c)
            p[c] = static_cast<unsigned char>((p[c] * (256 - weight) + rgb[c] * weight) >> 8);
    }
    void Fill(int x, int y, int width, int height, const unsigned char rgb[3], unsigned weight)
    {
        for (int row = y; row < y + height; ++row)
            for (int column = x; column < x + width; ++column)
                Blend(column, row, rgb, weight);
    }
    // A one-pixel frame just inside the rectangle; dashed, every other 3 pixels.
    void Frame(int x, int y, int width, int height, const unsigned char rgb[3], bool dashed)
    {
        for (int i = 0; i < width; ++i)
            if (!dashed || (i / 3) % 2 == 0) {
                Blend(x + i, y, rgb, 256);
                Blend(x + i, y + height - 1, rgb, 256);
            }
        for (int i = 0; i < height; ++i)
            if (!dashed || (i / 3) % 2 == 0) {
                Blend(x, y + i, rgb, 256);
                Blend(x + width - 1, y + i, rgb, 256);
            }
    }
};

void DrawGrid(Canvas* canvas)
{
    const unsigned char paper[3] = {246, 246, 246}, fine[3] = {226, 226, 226}, coarse[3] = {190, 190, 190};
    canvas->Fill(0, 0, WIDTH, HEIGHT, paper, 256);
    for (int at = 0; at < WIDTH; at += 20)
        canvas->Fill(at, 0, 1, HEIGHT, at % 100 == 0 ? coarse : fine, 256);
    for (int at = 0; at < HEIGHT; at += 20)
        canvas->Fill(0, at, WIDTH, 1, at % 100 == 0 ? coarse : fine, 256);
}

// The splash as the packer stores it, a bottom-up BGR bitmap, onto the canvas.
void DrawSplash(const ByteBuffer& dib, Canvas* canvas)
{
    const size_t stride = (WIDTH * 3 + 3) & ~size_t(3);
    for (int y = 0; y < HEIGHT; ++y) {
        const unsigned char* row = dib.data() + DIB_HEADER_SIZE + stride * static_cast<size_t>(HEIGHT - 1 - y);
        for (int x = 0; x < WIDTH; ++x) {
            unsigned char* p = &canvas->pixels[(static_cast<size_t>(y) * WIDTH + x) * 3];
            p[0] = row[x * 3 + 2];
            p[1] = row[x * 3 + 1];
            p[2] = row[x * 3];
        }
    }
}

// A label on a pale box, where the region says.
void DrawLabel(const SplashRegion& region, Canvas* canvas)
{
    char text[64];
    snprintf(text, sizeof text, "%s", region.label);
    int width = stb_easy_font_width(text), height = 7;
    int x = region.x - width - 6, y = region.y + (region.height - height) / 2;
    if (region.labelAt == SplashRegion::ABOVE) {
        x = region.x + 2;
        y = region.y - height - 4;
    } else if (region.labelAt == SplashRegion::INSIDE) {
        x = region.x + region.width - width - 6;
    }
    const unsigned char box[3] = {255, 255, 255};
    canvas->Fill(x - 2, y - 2, width + 3, height + 4, box, 208);
    // Each stroke is a quad of four vertices of 16 bytes (x, y, z, colour),
    // the first and the third its opposite corners.
    std::vector<char> vertices(64 * 1024);
    unsigned char ink[4] = {0, 0, 0, 255};
    int quads = stb_easy_font_print(static_cast<float>(x), static_cast<float>(y), text, ink, vertices.data(),
                                    static_cast<int>(vertices.size()));
    for (int q = 0; q < quads; ++q) {
        float corner[2][2];
        memcpy(corner[0], &vertices[q * 64], 2 * sizeof(float));
        memcpy(corner[1], &vertices[q * 64 + 32], 2 * sizeof(float));
        canvas->Fill(static_cast<int>(corner[0][0]), static_cast<int>(corner[0][1]),
                     static_cast<int>(corner[1][0] - corner[0][0]), static_cast<int>(corner[1][1] - corner[0][1]),
                     region.rgb, 256);
    }
}

void AppendBytes(void* context, void* data, int size)
{
    ByteBuffer* png = static_cast<ByteBuffer*>(context);
    png->insert(png->end(), static_cast<unsigned char*>(data), static_cast<unsigned char*>(data) + size);
}

}  // namespace

PackError WriteGuide(const std::string& output, const std::string& splash, PackResult* result)
{
    *result = PackResult();
    std::vector<std::string> inputs;
    if (!splash.empty())
        inputs.push_back(splash);
    OutputClash clash = FindOutputClash(output, std::string(), {}, inputs, {});
    if (clash.kind == OutputClash::NotAFile)
        return Fail(result, PackError::OutputNotFile, output);
    if (clash.kind == OutputClash::Input)
        return Fail(result, PackError::OutputIsBrandInput, output, clash.with);
    Canvas canvas;
    if (splash.empty()) {
        DrawGrid(&canvas);
    } else {
        ByteBuffer dib;
        if (LoadPicture(splash, SPLASH_SLOT, &dib, result) != PackError::Ok)
            return result->error;
        DrawSplash(dib, &canvas);
    }
    for (size_t i = 0; i < SPLASH_REGION_COUNT; ++i) {
        const SplashRegion& region = SPLASH_REGIONS[i];
        if (region.shown)
            canvas.Fill(region.x, region.y, region.pictureWidth != 0 ? region.pictureWidth : region.width,
                        region.height, region.rgb, 96);
        canvas.Frame(region.x, region.y, region.width, region.height, region.rgb, !region.shown);
    }
    for (size_t i = 0; i < SPLASH_REGION_COUNT; ++i)
        DrawLabel(SPLASH_REGIONS[i], &canvas);

    ByteBuffer png;
    if (!stbi_write_png_to_func(AppendBytes, &png, WIDTH, HEIGHT, 3, canvas.pixels.data(), WIDTH * 3))
        return Fail(result, PackError::OutOfMemory, output);
    auto write = [&](FILE* out) {
        if (fwrite(png.data(), 1, png.size(), out) != png.size())
            return FailWithReason(result, PackError::WriteFailed, output);
        return PackError::Ok;
    };
    return WriteBeside(output, write, nullptr, result, false);  // a picture, not a program
}
