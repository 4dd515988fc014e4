// The splash's layout for a designer: where the launcher's window puts its
// buttons and its progress bar over the 600 x 360 splash, in pixels, and a
// guide picture with them drawn, to draw a splash around.
#pragma once

#include <string>

#include "pack_error.h"

// One thing the window draws over the splash, in the client area's pixels.
struct SplashRegion {
    const char* label;     // as the guide writes it (ASCII)
    int x, y;              // top left
    int width, height;     // the control
    int pictureWidth;      // of its picture, drawn from the left; 0 for none
    bool shown;            // false for the hidden English button
    unsigned char rgb[3];  // its colour in the guide
    enum { LEFT, ABOVE, INSIDE } labelAt;  // where its label goes: INSIDE is at its right end
};

extern const SplashRegion SPLASH_REGIONS[];
extern const size_t SPLASH_REGION_COUNT;

// Writes the guide, a 600 x 360 PNG, to output (beside it, flushed and
// renamed into place as build does): a light grid, or the splash picture
// when one is given, with each region filled where its picture goes,
// outlined, and labelled with its name, place and size.
PackError WriteGuide(const std::string& output, const std::string& splash, PackResult* result);
