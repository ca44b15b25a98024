// The gentle picture: a per-pixel budget of large swings of brightness and of saturated
// red, counted as WCAG 2.3.1 counts transitions; a swing past the budget is held back.
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

std::vector<PixelState> states;
std::vector<uint32_t> shown; // what each pixel showed last, 0x00RRGGBB
std::vector<uint32_t> frame; // gentle_present's converted frame
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
    for (size_t i = 0; i < n; ++i) {
        shown[i] = pixels[i] & 0xFFFFFFu;
        const LinearRgb c = linear_of(shown[i]);
        swing_start(states[i].luma, relative_luminance(c));
        swing_start(states[i].red, red_quantity(c));
    }
}

// One pixel that differs from what it showed: the target if the budget allows its
// transitions, else the blend toward it that makes none.
uint32_t limit_pixel(PixelState& ps, uint32_t from, uint32_t to, int32_t now)
{
    const int recent = ps.recent.within(now, kGentleWindowMs);
    const LinearRgb a = linear_of(from), b = linear_of(to);
    const int turns = (int)swing_turns(ps.luma, relative_luminance(b), kGentleLumaStep) +
                      (int)swing_turns(ps.red, red_quantity(b), kGentleRedStep);
    uint32_t out = to;
    if (turns > 0 && recent + turns > kGentleBudget) {
        const float t =
            std::min(swing_reach(ps.luma, relative_luminance(a), relative_luminance(b), kGentleLumaStep, false),
                     swing_reach(ps.red, red_line(a), red_line(b), kGentleRedStep, true));
        out =
            to_byte(a.r + t * (b.r - a.r)) << 16 | to_byte(a.g + t * (b.g - a.g)) << 8 | to_byte(a.b + t * (b.b - a.b));
    }
    // The state follows what is really shown, rounding included.
    const LinearRgb c = linear_of(out);
    if (swing_take(ps.luma, relative_luminance(c), kGentleLumaStep))
        ps.recent.push(now);
    if (swing_take(ps.red, red_quantity(c), kGentleRedStep))
        ps.recent.push(now);
    return out;
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
    const size_t n = (size_t)width * (size_t)height;
    // Most pixels keep their colour from one frame to the next and cost one comparison.
    for (size_t i = 0; i < n; ++i) {
        const uint32_t to = pixels[i] & 0xFFFFFFu;
        if (to == shown[i])
            continue;
        shown[i] = limit_pixel(states[i], shown[i], to, now);
        pixels[i] = (pixels[i] & 0xFF000000u) | shown[i];
    }
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
