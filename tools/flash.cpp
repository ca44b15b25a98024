// Flash analysis after WCAG 2.3.1: each pixel's turning points of luminance and of red,
// the transitions in the last second per pixel and the area that makes the most; the
// regions whose pixels turn together at a frame; and the picture's mean luminance.
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

// A region of the per-frame reading, and its transitions under one rule.
struct Region {
    int32_t x, y, width, height;
    int32_t needed; // a quarter of its pixels
};
struct RegionTrack {
    int8_t dir; // +1 last transition rose, -1 fell, 0 none yet
    RecentTimes<kFlashCountCap> recent;
};

std::vector<Track> luma_tracks;
std::vector<Track> red_tracks;
std::vector<Region> regions;
std::vector<RegionTrack> luma_regions;
std::vector<RegionTrack> red_regions;
// Per rule and direction, how many pixels turned at this frame above and left of each
// point: (width + 1) × (height + 1) sums.
std::vector<int32_t> sums[4];
Track mean_track;
int32_t picture_width;
int32_t picture_height;
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

int32_t sum_over(const std::vector<int32_t>& sum, const Region& r)
{
    const int32_t stride = picture_width + 1;
    const size_t top = (size_t)r.y * stride, bottom = (size_t)(r.y + r.height) * stride;
    return sum[bottom + r.x + r.width] - sum[bottom + r.x] - sum[top + r.x + r.width] + sum[top + r.x];
}

// Each region's transition at this frame under one rule (sums of rising and falling
// pixels); the most transitions one region made in the window ending at time.
int regions_take(std::vector<RegionTrack>& tracks, const std::vector<int32_t>& rising,
                 const std::vector<int32_t>& falling, int32_t time)
{
    int most = 0;
    for (size_t i = 0; i < regions.size(); ++i) {
        RegionTrack& t = tracks[i];
        int8_t turn = 0;
        if (t.dir <= 0 && sum_over(rising, regions[i]) >= regions[i].needed)
            turn = 1;
        else if (t.dir >= 0 && sum_over(falling, regions[i]) >= regions[i].needed)
            turn = -1;
        if (turn != 0) {
            t.dir = turn;
            t.recent.push(time);
        }
        most = std::max(most, t.recent.within(time, kFlashWindowMs));
    }
    return most;
}

} // namespace

void flash_begin(int32_t width, int32_t height, double field, double area)
{
    linear = srgb_linear_table();
    picture_width = width;
    picture_height = height;
    pixels_per_frame = width * height;
    area_pixels = std::max(1, (int32_t)std::ceil(area * pixels_per_frame));
    luma_tracks.assign((size_t)pixels_per_frame, Track{});
    red_tracks.assign((size_t)pixels_per_frame, Track{});
    const int32_t region_width = std::clamp((int32_t)std::lround(field * width), 1, width);
    const int32_t region_height = std::clamp((int32_t)std::lround(field * height), 1, height);
    const auto region = [](int32_t x, int32_t y, int32_t w, int32_t h) { return Region{x, y, w, h, (w * h + 3) / 4}; };
    regions.assign(1, region(0, 0, width, height));
    for (int32_t y : field_positions(height - region_height, region_height))
        for (int32_t x : field_positions(width - region_width, region_width))
            regions.push_back(region(x, y, region_width, region_height));
    luma_regions.assign(regions.size(), RegionTrack{});
    red_regions.assign(regions.size(), RegionTrack{});
    for (std::vector<int32_t>& sum : sums)
        sum.assign((size_t)(width + 1) * (size_t)(height + 1), 0);
    started = false;
}

FlashWindow flash_add(const uint8_t* rgb, int32_t time)
{
    int luma_histogram[kFlashCountCap + 1] = {};
    int red_histogram[kFlashCountCap + 1] = {};
    double luma_total = 0.0;
    const int32_t stride = picture_width + 1;
    for (int32_t i = 0; i < pixels_per_frame; ++i) {
        const int32_t x = i % picture_width, y = i / picture_width;
        // This pixel's transitions: luma rising, falling, red rising, falling.
        int turned[4] = {};
        const LinearRgb c = {linear[rgb[3 * i]], linear[rgb[3 * i + 1]], linear[rgb[3 * i + 2]]};
        const float luma = relative_luminance(c);
        const float red = red_quantity(c);
        const bool saturated = c.r + c.g + c.b > 0.0f && c.r >= 0.8f * (c.r + c.g + c.b);
        Track& lt = luma_tracks[(size_t)i];
        Track& rt = red_tracks[(size_t)i];
        luma_total += luma;
        if (!started) {
            lt.extreme = lt.low = lt.high = luma;
            rt.extreme = rt.low = rt.high = red;
            rt.extreme_saturated = saturated;
        } else {
            if (luma_take(lt, luma)) {
                lt.recent.push(time);
                turned[lt.dir > 0 ? 0 : 1] = 1;
            }
            if (red_take(rt, red, saturated)) {
                rt.recent.push(time);
                turned[rt.dir > 0 ? 2 : 3] = 1;
            }
        }
        ++luma_histogram[lt.recent.within(time, kFlashWindowMs)];
        ++red_histogram[rt.recent.within(time, kFlashWindowMs)];
        const size_t at = (size_t)(y + 1) * stride + x + 1;
        for (int k = 0; k < 4; ++k)
            sums[k][at] = sums[k][at - 1] + sums[k][at - stride] - sums[k][at - stride - 1] + turned[k];
    }
    const float mean = (float)(luma_total / pixels_per_frame);
    if (!started)
        mean_track = {mean, mean, mean, false, 0, {}};
    else if (luma_take(mean_track, mean))
        mean_track.recent.push(time);
    started = true;
    return {time,
            most_over_area(luma_histogram),
            most_over_area(red_histogram),
            regions_take(luma_regions, sums[0], sums[1], time),
            regions_take(red_regions, sums[2], sums[3], time),
            mean_track.recent.within(time, kFlashWindowMs)};
}
