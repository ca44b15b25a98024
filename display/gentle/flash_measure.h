// How bright and how red a colour is, and a pixel's recent transition times, measured the
// way WCAG 2.3.1 measures flashes: one definition for the gentle picture and the flash
// analyser, so the limit and the check judge the same quantities.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

// A 10° field of view as a share of the picture's width and of its height, for a screen
// seen as WCAG 2.3.1 takes it (a 15 to 17 inch screen from 22 to 26 inches: 341 × 256 of
// 1024 × 768 pixels, a third each way). A flash counts where it covers a quarter of one.
constexpr double kFlashFieldShare = 1.0 / 3.0;

// Where regions side pixels long lie along a picture's width or height, sliding over it:
// from 0 to last (the picture's length less side) inclusive, about a sixteenth of a
// region apart.
inline std::vector<int32_t> field_positions(int32_t last, int32_t side)
{
    std::vector<int32_t> at;
    const int32_t step = std::max(1, side / 16);
    for (int32_t p = 0; p < last; p += step)
        at.push_back(p);
    at.push_back(last);
    return at;
}

// A colour in linear light, each channel 0 to 1.
struct LinearRgb {
    float r, g, b;
};

// The 256 sRGB byte values in linear light, ascending; made on the first call, kept for the
// program's life. Called by the gentle picture and the analyser before they measure.
const float* srgb_linear_table();

inline float relative_luminance(const LinearRgb& c)
{
    return 0.2126f * c.r + 0.7152f * c.g + 0.0722f * c.b;
}

// The red quantity before its cut at zero, (R - G - B) × 320, which is linear in a blend.
inline float red_line(const LinearRgb& c)
{
    return (c.r - c.g - c.b) * 320.0f;
}

// The red quantity itself.
inline float red_quantity(const LinearRgb& c)
{
    return std::max(0.0f, red_line(c));
}

// The times of one pixel's last transitions, oldest first; holds up to N, dropping the
// oldest when full.
template <int N>
struct RecentTimes {
    static_assert(N > 0 && N < 256);
    int32_t times[N];
    uint8_t head;
    uint8_t count;

    void push(int32_t time)
    {
        if (count == N) {
            head = (uint8_t)((head + 1) % N);
            --count;
        }
        times[(head + count) % N] = time;
        ++count;
    }

    // Forgets the times window_ms or more before now; how many are left.
    int within(int32_t now, int32_t window_ms)
    {
        while (count > 0 && (int32_t)((uint32_t)now - (uint32_t)times[head]) >= window_ms) {
            head = (uint8_t)((head + 1) % N);
            --count;
        }
        return count;
    }
};
