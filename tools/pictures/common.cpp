// What the families of pictures share: the grey and sepia palettes, quantising and saving.
#include "tools/pictures/common.h"

#include <cmath>

#include "tools/pictures/pcx_write.h"

void save(Out& out, const char* path, const std::vector<uint8_t>& px, int w, int h, const Palette& pal)
{
    if (pcx_write(out.dir + "/" + path, px.data(), w, h, pal) != 0)
        ++out.failures;
}

Palette grey_palette()
{
    Palette p;
    for (int i = 0; i < 256; ++i)
        p.rgb[3 * i] = p.rgb[3 * i + 1] = p.rgb[3 * i + 2] = (uint8_t)i;
    return p;
}

Palette sepia_palette()
{
    Palette p;
    for (int i = 0; i < 256; ++i) {
        float t = (float)i / 255.0f;
        p.rgb[3 * i] = (uint8_t)std::lround(255.0f * std::pow(t, 0.92f));
        p.rgb[3 * i + 1] = (uint8_t)std::lround(240.0f * std::pow(t, 1.05f));
        p.rgb[3 * i + 2] = (uint8_t)std::lround(205.0f * std::pow(t, 1.25f));
    }
    return p;
}

std::vector<uint8_t> quantise(const Canvas& c, int lo, int hi)
{
    std::vector<uint8_t> out(c.v.size());
    for (size_t i = 0; i < c.v.size(); ++i)
        out[i] = (uint8_t)std::lround((float)lo + clamp01(c.v[i]) * (float)(hi - lo));
    return out;
}
