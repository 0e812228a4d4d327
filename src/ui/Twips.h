#pragma once

#include <cmath>

// Design sizes are in twips; 15 twips make a pixel, halves rounding to even.
constexpr int kTwipsPerPixel = 15;

inline int twipsToPixels(double twips)
{
    return int(std::nearbyint(twips / kTwipsPerPixel));
}

inline double pixelsToTwips(int pixels)
{
    return double(pixels) * kTwipsPerPixel;
}
