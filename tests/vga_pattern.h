// The test picture that the console test shows in the emulator and looks for on screen.
#pragma once

#include <cstdint>

// Six colours in 6-bit components, entries 0..6 of the palette; the others stay black.
constexpr int kPatternPalette[7 * 3] = {
    0, 0, 0, 63, 0, 0, 0, 63, 0, 0, 0, 63, 63, 32, 1, 63, 63, 63, 16, 16, 16,
};
// The same colours as they must reach the screen, widened to 8 bits (63 -> 255).
constexpr uint8_t kPatternRgb[7 * 3] = {
    0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 130, 4, 255, 255, 255, 65, 65, 65,
};

// Colour 1 changed while the picture shows, and how it must then look on screen.
constexpr int kPatternRecolour[3] = {0, 63, 63};
constexpr uint8_t kPatternRecolourRgb[3] = {0, 255, 255};

// Quadrants of colours 1 to 4, the first column in colour 5 and the last row in
// colour 6, so that a lost or doubled edge shows.
inline uint8_t pattern_index(int x, int y, int width, int height)
{
    if (x == 0)
        return 5;
    if (y == height - 1)
        return 6;
    return (uint8_t)(1 + (x >= width / 2 ? 1 : 0) + (y >= height / 2 ? 2 : 0));
}
