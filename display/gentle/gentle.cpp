// The gentle picture: budgets of large swings of brightness and of saturated red, counted
// as WCAG 2.3.1 counts transitions, per pixel, per region and frame, and of the picture's
// mean brightness; a swing past a budget is held back.
#include "display/gentle/gentle.h"

#include "display/gentle/flash_measure.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// The turning points of one quantity of one pixel: a transition is a move of at least
// step away from the last extreme in the direction opposite to the last transition.
struct Swing {
    float extreme; // the farthest value reached since the last transition (dir != 0)
    float low;     // before the first transition (dir == 0): the lowest and highest values
    float high;
    int8_t dir; // +1 last transition rose, -1 fell, 0 none yet
};

// Room for the budget and the transitions rounding can add past it.
constexpr int kRing = kGentleBudget + 2;

struct PixelState {
    Swing luma;
    Swing red;
    RecentTimes<kRing> recent;
};

// A region of the picture and the frames at which it swung.
struct Region {
    int32_t x, y, width, height;
    int32_t needed; // the pixels that make a swing of the region
    RecentTimes<kRing> recent;
};

std::vector<PixelState> states;
std::vector<uint32_t> shown;    // what each pixel showed last, 0x00RRGGBB
std::vector<uint32_t> proposed; // what each pixel is to show this frame, as far as decided
std::vector<uint8_t> swinging;  // whether that completes a transition of the pixel
std::vector<int32_t> sums;      // swinging pixels above and left of each point, (w + 1) × (h + 1)
std::vector<int32_t> spent;     // the same for the marks of regions that may not swing
std::vector<Region> regions;
std::vector<uint32_t> frame; // gentle_present's converted frame
Swing mean_swing;            // the picture's mean relative luminance
RecentTimes<kRing> mean_recent;
double luma_total; // the relative luminance of what is shown, summed over the pixels
int32_t shown_width;
int32_t shown_height;
const float* linear; // sRGB byte -> linear light

// The nearest sRGB byte to a linear value.
uint32_t to_byte(float value)
{
    const float* at = std::lower_bound(linear, linear + 256, value);
    if (at == linear + 256)
        return 255;
    if (at != linear && value - at[-1] < *at - value)
        --at;
    return (uint32_t)(at - linear);
}

LinearRgb linear_of(uint32_t p)
{
    return {linear[(p >> 16) & 255], linear[(p >> 8) & 255], linear[p & 255]};
}

void swing_start(Swing& s, float v)
{
    s = {v, v, v, 0};
}

// Whether the value v completes a transition.
bool swing_turns(const Swing& s, float v, float step)
{
    if (s.dir == 0)
        return v - s.low >= step || s.high - v >= step;
    return s.dir > 0 ? s.extreme - v >= step : v - s.extreme >= step;
}

// Takes the value v in; returns whether it completed a transition.
bool swing_take(Swing& s, float v, float step)
{
    const bool turned = swing_turns(s, v, step);
    if (turned) {
        s.dir = s.dir != 0 ? (int8_t)-s.dir : (v - s.low >= step ? 1 : -1);
        s.extreme = v;
    } else if (s.dir == 0) {
        s.low = std::min(s.low, v);
        s.high = std::max(s.high, v);
    } else if (s.dir > 0 ? v > s.extreme : v < s.extreme) {
        s.extreme = v;
    }
    return turned;
}

// How far (0..1) a blend from value a to value b may go before it completes a transition,
// keeping a little short of the step. For the red quantity a and b are taken before the
// cut at zero: a lower bound at or below zero then holds anyway.
float swing_reach(const Swing& s, float a, float b, float step, bool cut_at_zero)
{
    const float margin = step / 16.0f;
    float low = -1e30f, high = 1e30f;
    if (s.dir == 0) {
        low = s.high - step + margin;
        high = s.low + step - margin;
    } else if (s.dir > 0) {
        low = s.extreme - step + margin;
    } else {
        high = s.extreme + step - margin;
    }
    if (cut_at_zero && low <= 0.0f)
        low = -1e30f;
    if (b < low)
        return a <= low ? 0.0f : (low - a) / (b - a);
    if (b > high)
        return a >= high ? 0.0f : (high - a) / (b - a);
    return 1.0f;
}

void start(const uint32_t* pixels, int32_t width, int32_t height)
{
    const size_t n = (size_t)width * (size_t)height;
    shown_width = width;
    shown_height = height;
    states.assign(n, PixelState{});
    shown.resize(n);
    proposed.resize(n);
    swinging.assign(n, 0);
    sums.assign((size_t)(width + 1) * (size_t)(height + 1), 0);
    spent.assign(sums.size(), 0);
    luma_total = 0.0;
    for (size_t i = 0; i < n; ++i) {
        shown[i] = pixels[i] & 0xFFFFFFu;
        const LinearRgb c = linear_of(shown[i]);
        swing_start(states[i].luma, relative_luminance(c));
        swing_start(states[i].red, red_quantity(c));
        luma_total += relative_luminance(c);
    }
    swing_start(mean_swing, (float)(luma_total / (double)n));
    mean_recent = {};
    const int32_t region_width = std::clamp((int32_t)std::lround(kFlashFieldShare * width), 1, width);
    const int32_t region_height = std::clamp((int32_t)std::lround(kFlashFieldShare * height), 1, height);
    const auto region = [](int32_t x, int32_t y, int32_t w, int32_t h) {
        return Region{x, y, w, h, std::max(1, w * h / kGentleRegionShare), {}};
    };
    regions.assign(1, region(0, 0, width, height));
    for (int32_t y : field_positions(height - region_height, region_height))
        for (int32_t x : field_positions(width - region_width, region_width))
            regions.push_back(region(x, y, region_width, region_height));
}

// The colour t (0..1) of the way from a to b, in linear light.
uint32_t blend(uint32_t from, uint32_t to, float t)
{
    const LinearRgb a = linear_of(from), b = linear_of(to);
    return to_byte(a.r + t * (b.r - a.r)) << 16 | to_byte(a.g + t * (b.g - a.g)) << 8 | to_byte(a.b + t * (b.b - a.b));
}

// The blend from what the pixel shows toward to that completes no transition of it.
uint32_t held(const PixelState& ps, uint32_t from, uint32_t to)
{
    const LinearRgb a = linear_of(from), b = linear_of(to);
    const float t = std::min(swing_reach(ps.luma, relative_luminance(a), relative_luminance(b), kGentleLumaStep, false),
                             swing_reach(ps.red, red_line(a), red_line(b), kGentleRedStep, true));
    return blend(from, to, t);
}

// One pixel that differs from what it showed, under its own budget: the target if the
// budget allows its transitions, else the blend toward it that makes none; *swings tells
// whether the colour proposed completes a transition.
uint32_t pixel_proposal(PixelState& ps, uint32_t from, uint32_t to, int32_t now, uint8_t* swings)
{
    const int recent = ps.recent.within(now, kGentleWindowMs);
    const LinearRgb b = linear_of(to);
    const int turns = (int)swing_turns(ps.luma, relative_luminance(b), kGentleLumaStep) +
                      (int)swing_turns(ps.red, red_quantity(b), kGentleRedStep);
    *swings = turns > 0 && recent + turns <= kGentleBudget;
    return turns > 0 && !*swings ? held(ps, from, to) : to;
}

// The swinging pixels' sums over the picture; whether any pixel swings.
bool sum_swinging()
{
    if (std::find(swinging.begin(), swinging.end(), 1) == swinging.end())
        return false;
    const size_t stride = (size_t)shown_width + 1;
    for (int32_t y = 0; y < shown_height; ++y)
        for (int32_t x = 0; x < shown_width; ++x) {
            const size_t at = (size_t)(y + 1) * stride + (size_t)x + 1;
            sums[at] = sums[at - 1] + sums[at - stride] - sums[at - stride - 1] +
                       swinging[(size_t)y * (size_t)shown_width + (size_t)x];
        }
    return true;
}

int32_t swinging_in(const Region& r)
{
    const size_t stride = (size_t)shown_width + 1;
    const size_t top = (size_t)r.y * stride, bottom = (size_t)(r.y + r.height) * stride;
    return sums[bottom + (size_t)(r.x + r.width)] - sums[bottom + (size_t)r.x] - sums[top + (size_t)(r.x + r.width)] +
           sums[top + (size_t)r.x];
}

// The regions whose budget is spent may not swing: their swinging pixels are held.
void hold_spent_regions(int32_t now)
{
    const size_t stride = (size_t)shown_width + 1;
    bool any = false;
    std::fill(spent.begin(), spent.end(), 0);
    for (Region& r : regions) {
        if (r.recent.within(now, kGentleWindowMs) < kGentleBudget || swinging_in(r) < r.needed)
            continue;
        // Marks at the corners; their sums below cover the region.
        spent[(size_t)r.y * stride + (size_t)r.x] += 1;
        spent[(size_t)r.y * stride + (size_t)(r.x + r.width)] -= 1;
        spent[(size_t)(r.y + r.height) * stride + (size_t)r.x] -= 1;
        spent[(size_t)(r.y + r.height) * stride + (size_t)(r.x + r.width)] += 1;
        any = true;
    }
    if (!any)
        return;
    for (int32_t y = 0; y < shown_height; ++y)
        for (int32_t x = 0; x < shown_width; ++x) {
            const size_t at = (size_t)y * stride + (size_t)x;
            spent[at] += (x > 0 ? spent[at - 1] : 0) + (y > 0 ? spent[at - stride] : 0) -
                         (x > 0 && y > 0 ? spent[at - stride - 1] : 0);
            const size_t i = (size_t)y * (size_t)shown_width + (size_t)x;
            if (spent[at] > 0 && swinging[i]) {
                proposed[i] = held(states[i], shown[i], proposed[i]);
                swinging[i] = 0;
            }
        }
}

// A swing of the picture's mean past its budget: every change is shown only as far as
// keeps the mean from completing one.
void hold_mean(int32_t now)
{
    if (mean_recent.within(now, kGentleWindowMs) < kGentleBudget)
        return;
    const double n = (double)shown.size();
    double total = luma_total;
    for (size_t i = 0; i < shown.size(); ++i)
        if (proposed[i] != shown[i])
            total += relative_luminance(linear_of(proposed[i])) - relative_luminance(linear_of(shown[i]));
    const float from = (float)(luma_total / n), to = (float)(total / n);
    if (!swing_turns(mean_swing, to, kGentleLumaStep))
        return;
    const float t = swing_reach(mean_swing, from, to, kGentleLumaStep, false);
    for (size_t i = 0; i < shown.size(); ++i)
        if (proposed[i] != shown[i])
            proposed[i] = blend(shown[i], proposed[i], t);
}

// Shows the proposed colours: each pixel's, each region's and the mean's state follow what
// is really shown, rounding included.
void commit(uint32_t* pixels, int32_t now)
{
    for (size_t i = 0; i < shown.size(); ++i) {
        swinging[i] = 0;
        pixels[i] = (pixels[i] & 0xFF000000u) | proposed[i];
        if (proposed[i] == shown[i])
            continue;
        PixelState& ps = states[i];
        const LinearRgb before = linear_of(shown[i]), c = linear_of(proposed[i]);
        const bool luma_turned = swing_take(ps.luma, relative_luminance(c), kGentleLumaStep);
        const bool red_turned = swing_take(ps.red, red_quantity(c), kGentleRedStep);
        if (luma_turned)
            ps.recent.push(now);
        if (red_turned)
            ps.recent.push(now);
        swinging[i] = luma_turned || red_turned;
        luma_total += relative_luminance(c) - relative_luminance(before);
        shown[i] = proposed[i];
    }
    if (sum_swinging())
        for (Region& r : regions)
            if (swinging_in(r) >= r.needed)
                r.recent.push(now);
    if (swing_take(mean_swing, (float)(luma_total / (double)shown.size()), kGentleLumaStep))
        mean_recent.push(now);
}

} // namespace

const float* srgb_linear_table()
{
    static const struct Table {
        float values[256];
        Table()
        {
            for (int i = 0; i < 256; ++i) {
                const double c = i / 255.0;
                values[i] = (float)(c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
            }
        }
    } table;
    return table.values;
}

void gentle_reset()
{
    states.clear();
    shown.clear();
    regions.clear();
    shown_width = 0;
    shown_height = 0;
}

void gentle_limit(uint32_t* pixels, int32_t width, int32_t height, int32_t now)
{
    linear = srgb_linear_table();
    if (width != shown_width || height != shown_height || states.empty()) {
        start(pixels, width, height);
        return;
    }
    // Most pixels keep their colour from one frame to the next and cost one comparison.
    for (size_t i = 0; i < shown.size(); ++i) {
        const uint32_t to = pixels[i] & 0xFFFFFFu;
        swinging[i] = 0;
        proposed[i] = to == shown[i] ? to : pixel_proposal(states[i], shown[i], to, now, &swinging[i]);
    }
    if (sum_swinging())
        hold_spent_regions(now);
    hold_mean(now);
    commit(pixels, now);
}

const uint32_t* gentle_present(const Image& image, const Palette& palette, int32_t now)
{
    uint32_t colours[256];
    for (int i = 0; i < 256; ++i)
        colours[i] =
            (uint32_t)palette.rgb[3 * i] << 16 | (uint32_t)palette.rgb[3 * i + 1] << 8 | palette.rgb[3 * i + 2];
    frame.resize((size_t)image.width * (size_t)image.height);
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = colours[image.pixels[i]];
    gentle_limit(frame.data(), image.width, image.height, now);
    return frame.data();
}
