// The gentle picture: a per-pixel budget of large swings of brightness and of saturated
// red, counted as WCAG 2.3.1 counts transitions; a swing past the budget is held back.
#include "display/gentle/gentle.h"

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
    int32_t times[kRing]; // transition times, oldest at head
    uint8_t head;
    uint8_t count;
};

std::vector<PixelState> states;
std::vector<uint32_t> shown; // what each pixel showed last, 0x00RRGGBB
std::vector<uint32_t> frame; // gentle_present's converted frame
int32_t shown_width;
int32_t shown_height;
float linear[256]; // sRGB byte -> linear light

void fill_linear()
{
    if (linear[255] == 1.0f)
        return;
    for (int i = 0; i < 256; ++i) {
        const double c = i / 255.0;
        linear[i] = (float)(c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
    }
}

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

struct Linear {
    float r, g, b;
};

Linear linear_of(uint32_t p)
{
    return {linear[(p >> 16) & 255], linear[(p >> 8) & 255], linear[p & 255]};
}

float luma_of(const Linear& c)
{
    return 0.2126f * c.r + 0.7152f * c.g + 0.0722f * c.b;
}

// WCAG's red quantity before its cut at zero, (R - G - B) × 320, which is linear in a blend.
float red_line(const Linear& c)
{
    return (c.r - c.g - c.b) * 320.0f;
}

// The red quantity itself.
float red_of(const Linear& c)
{
    return std::max(0.0f, red_line(c));
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

void push_time(PixelState& ps, int32_t now)
{
    if (ps.count == kRing) {
        ps.head = (uint8_t)((ps.head + 1) % kRing);
        --ps.count;
    }
    ps.times[(ps.head + ps.count) % kRing] = now;
    ++ps.count;
}

void forget_old(PixelState& ps, int32_t now)
{
    while (ps.count > 0 && now - ps.times[ps.head] >= kGentleWindowMs) {
        ps.head = (uint8_t)((ps.head + 1) % kRing);
        --ps.count;
    }
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
        const Linear c = linear_of(shown[i]);
        swing_start(states[i].luma, luma_of(c));
        swing_start(states[i].red, red_of(c));
    }
}

// One pixel that differs from what it showed: the target if the budget allows its
// transitions, else the blend toward it that makes none.
uint32_t limit_pixel(PixelState& ps, uint32_t from, uint32_t to, int32_t now)
{
    forget_old(ps, now);
    const Linear a = linear_of(from), b = linear_of(to);
    const int turns =
        (int)swing_turns(ps.luma, luma_of(b), kGentleLumaStep) + (int)swing_turns(ps.red, red_of(b), kGentleRedStep);
    uint32_t out = to;
    if (turns > 0 && ps.count + turns > kGentleBudget) {
        const float t = std::min(swing_reach(ps.luma, luma_of(a), luma_of(b), kGentleLumaStep, false),
                                 swing_reach(ps.red, red_line(a), red_line(b), kGentleRedStep, true));
        out =
            to_byte(a.r + t * (b.r - a.r)) << 16 | to_byte(a.g + t * (b.g - a.g)) << 8 | to_byte(a.b + t * (b.b - a.b));
    }
    // The state follows what is really shown, rounding included.
    const Linear c = linear_of(out);
    if (swing_take(ps.luma, luma_of(c), kGentleLumaStep))
        push_time(ps, now);
    if (swing_take(ps.red, red_of(c), kGentleRedStep))
        push_time(ps, now);
    return out;
}

} // namespace

void gentle_reset()
{
    states.clear();
    shown.clear();
    shown_width = 0;
    shown_height = 0;
}

void gentle_limit(uint32_t* pixels, int32_t width, int32_t height, int32_t now)
{
    fill_linear();
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
