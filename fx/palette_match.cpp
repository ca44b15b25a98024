// Nearest-colour matching between palettes, for load steps.
#include "fx/palette_match.h"

#include <cstddef>

namespace {
// Pixel value j becomes remap_table[j]; rebuilt completely by every remap.
uint8_t remap_table[256];
} // namespace

int palette_nearest(int red, int green, int blue, const Palette& palette)
{
    int32_t best_distance = 0x10000000;
    int best_index = 0;
    for (int i = 0; i < 256; ++i) {
        const int32_t dr = red - palette.rgb[3 * i];
        const int32_t dg = green - palette.rgb[3 * i + 1];
        const int32_t db = blue - palette.rgb[3 * i + 2];
        const int32_t distance = dr * dr + dg * dg + db * db;
        // Strictly smaller: of equally near entries the lowest index stays.
        if (distance < best_distance) {
            best_distance = distance;
            best_index = i;
        }
    }
    return best_index;
}

int image_remap_palette(Image* image, const Palette& from_palette, const Palette& to_palette)
{
    for (int j = 0; j < 256; ++j)
        remap_table[j] = (uint8_t)palette_nearest(from_palette.rgb[3 * j], from_palette.rgb[3 * j + 1],
                                                  from_palette.rgb[3 * j + 2], to_palette);
    if (image->width <= 0 || image->height <= 0)
        return 0;
    const size_t n = (size_t)image->width * (size_t)image->height;
    for (size_t k = 0; k < n; ++k)
        image->pixels[k] = remap_table[image->pixels[k]];
    return 0;
}
