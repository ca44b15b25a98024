// Flash analysis after WCAG 2.3.1: each pixel's turning points of luminance and of red,
// the transitions in the last second per pixel, and the area that makes the most.
#include "tools/flash.h"

#include "display/gentle/flash_measure.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr float kLumaStep = 0.1f;
constexpr float kDarkLimit = 0.8f;
constexpr float kRedStep = 20.0f;

// One pixel's turning points under one rule, and the times of its recent transitions.
struct Track {
    float extreme; // the farthest value since the last transition (dir != 0)
    float low;     // before the first transition: lowest and highest values
    float high;
    bool extreme_saturated; // red rule: the state at extreme (or at high) is saturated red
    int8_t dir;             // +1 last transition rose, -1 fell, 0 none yet
    RecentTimes<kFlashCountCap> recent;
};

std::vector<Track> luma_tracks;
std::vector<Track> red_tracks;
int32_t pixels_per_frame;
int32_t area_pixels;
bool started;
const float* linear;

// General rule: a move of 0.1 or more from the last extreme, the darker end below 0.8.
bool luma_take(Track& t, float v)
{
    if (t.dir == 0) {
        if (v - t.low >= kLumaStep && t.low < kDarkLimit) {
            t.dir = 1;
        } else if (t.high - v >= kLumaStep && v < kDarkLimit) {
            t.dir = -1;
        } else {
            t.low = std::min(t.low, v);
            t.high = std::max(t.high, v);
            return false;
        }
        t.extreme = v;
        return true;
    }
    const bool turned =
        t.dir > 0 ? t.extreme - v >= kLumaStep && v < kDarkLimit : v - t.extreme >= kLumaStep && t.extreme < kDarkLimit;
    if (turned) {
        t.dir = (int8_t)-t.dir;
        t.extreme = v;
    } else if (t.dir > 0 ? v > t.extreme : v < t.extreme) {
        t.extreme = v;
    }
    return turned;
}

// Red rule: a move of the red quantity of more than 20 whose high end is saturated red.
bool red_take(Track& t, float v, bool saturated)
{
    if (t.dir == 0) {
        if (v - t.low > kRedStep && saturated) {
            t.dir = 1;
        } else if (t.high - v > kRedStep && t.extreme_saturated) {
            t.dir = -1;
        } else {
            t.low = std::min(t.low, v);
            if (v >= t.high) {
                t.high = v;
                t.extreme_saturated = saturated;
            }
            return false;
        }
        t.extreme = v;
        t.extreme_saturated = saturated;
        return true;
    }
    const bool turned =
        t.dir > 0 ? t.extreme - v > kRedStep && t.extreme_saturated : v - t.extreme > kRedStep && saturated;
    if (turned || (t.dir > 0 ? v > t.extreme : v < t.extreme)) {
        if (turned)
            t.dir = (int8_t)-t.dir;
        t.extreme = v;
        t.extreme_saturated = saturated;
    }
    return turned;
}

// The most transitions that at least area_pixels pixels made.
int most_over_area(const int histogram[kFlashCountCap + 1])
{
    int at_least = 0;
    for (int n = kFlashCountCap; n > 0; --n) {
        at_least += histogram[n];
        if (at_least >= area_pixels)
            return n;
    }
    return 0;
}

} // namespace

void flash_begin(int32_t width, int32_t height, double area)
{
    linear = srgb_linear_table();
    pixels_per_frame = width * height;
    area_pixels = std::max(1, (int32_t)std::ceil(area * pixels_per_frame));
    luma_tracks.assign((size_t)pixels_per_frame, Track{});
    red_tracks.assign((size_t)pixels_per_frame, Track{});
    started = false;
}

FlashWindow flash_add(const uint8_t* rgb, int32_t time)
{
    int luma_histogram[kFlashCountCap + 1] = {};
    int red_histogram[kFlashCountCap + 1] = {};
    for (int32_t i = 0; i < pixels_per_frame; ++i) {
        const LinearRgb c = {linear[rgb[3 * i]], linear[rgb[3 * i + 1]], linear[rgb[3 * i + 2]]};
        const float luma = relative_luminance(c);
        const float red = red_quantity(c);
        const bool saturated = c.r + c.g + c.b > 0.0f && c.r >= 0.8f * (c.r + c.g + c.b);
        Track& lt = luma_tracks[(size_t)i];
        Track& rt = red_tracks[(size_t)i];
        if (!started) {
            lt.extreme = lt.low = lt.high = luma;
            rt.extreme = rt.low = rt.high = red;
            rt.extreme_saturated = saturated;
        } else {
            if (luma_take(lt, luma))
                lt.recent.push(time);
            if (red_take(rt, red, saturated))
                rt.recent.push(time);
        }
        ++luma_histogram[lt.recent.within(time, kFlashWindowMs)];
        ++red_histogram[rt.recent.within(time, kFlashWindowMs)];
    }
    started = true;
    return {time, most_over_area(luma_histogram), most_over_area(red_histogram)};
}
