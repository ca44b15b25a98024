// The closing picture: a sunset over the sea and the farewell in gold, in colour with a median-cut palette of its own.
#include <algorithm>
#include <cmath>
#include <vector>

#include "tools/pictures/families.h"
#include "tools/pictures/landscape.h"

namespace {

struct Rgb {
    float r, g, b;
};

// Median cut: the colours are split at the median of their widest channel until there are
// 256 boxes; each box's mean is an entry, each pixel takes the nearest entry.
std::vector<uint8_t> median_cut(const std::vector<Rgb>& img, Palette& pal)
{
    std::vector<size_t> order(img.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    struct Span {
        size_t begin, end;
    };
    std::vector<Span> boxes{{0, order.size()}};
    auto channel = [&](size_t i, int c) { return c == 0 ? img[i].r : c == 1 ? img[i].g : img[i].b; };
    auto widest = [&](const Span& s, float& extent) {
        float lo[3] = {1e9f, 1e9f, 1e9f}, hi[3] = {-1e9f, -1e9f, -1e9f};
        for (size_t k = s.begin; k < s.end; ++k)
            for (int c = 0; c < 3; ++c) {
                lo[c] = std::min(lo[c], channel(order[k], c));
                hi[c] = std::max(hi[c], channel(order[k], c));
            }
        int best = 0;
        for (int c = 1; c < 3; ++c)
            if (hi[c] - lo[c] > hi[best] - lo[best])
                best = c;
        extent = (hi[best] - lo[best]) * std::sqrt((float)(s.end - s.begin));
        return best;
    };
    while (boxes.size() < 256) {
        size_t pick = 0;
        float best_extent = -1.0f;
        int axis = 0;
        for (size_t b = 0; b < boxes.size(); ++b) {
            float e;
            int c = widest(boxes[b], e);
            if (boxes[b].end - boxes[b].begin > 1 && e > best_extent) {
                best_extent = e;
                pick = b;
                axis = c;
            }
        }
        if (best_extent <= 0.0f)
            break;
        Span s = boxes[pick];
        size_t mid = s.begin + (s.end - s.begin) / 2;
        std::nth_element(order.begin() + (long)s.begin, order.begin() + (long)mid, order.begin() + (long)s.end,
                         [&](size_t a, size_t b) {
                             return channel(a, axis) < channel(b, axis) ||
                                    (channel(a, axis) == channel(b, axis) && a < b);
                         });
        boxes[pick] = {s.begin, mid};
        boxes.push_back({mid, s.end});
    }
    pal = Palette{};
    std::vector<Rgb> entries;
    for (const Span& s : boxes) {
        Rgb m{0, 0, 0};
        for (size_t k = s.begin; k < s.end; ++k) {
            m.r += img[order[k]].r;
            m.g += img[order[k]].g;
            m.b += img[order[k]].b;
        }
        float n = (float)(s.end - s.begin);
        entries.push_back({m.r / n, m.g / n, m.b / n});
    }
    for (size_t e = 0; e < entries.size(); ++e) {
        pal.rgb[3 * e] = (uint8_t)std::lround(255.0f * clamp01(entries[e].r));
        pal.rgb[3 * e + 1] = (uint8_t)std::lround(255.0f * clamp01(entries[e].g));
        pal.rgb[3 * e + 2] = (uint8_t)std::lround(255.0f * clamp01(entries[e].b));
    }
    std::vector<uint8_t> px(img.size());
    for (size_t i = 0; i < img.size(); ++i) {
        float best = 1e9f;
        for (size_t e = 0; e < entries.size(); ++e) {
            float dr = img[i].r - entries[e].r, dg = img[i].g - entries[e].g, db = img[i].b - entries[e].b;
            float d = dr * dr + dg * dg + db * db;
            if (d < best) {
                best = d;
                px[i] = (uint8_t)e;
            }
        }
    }
    return px;
}

} // namespace

// Sunset over the sea, and the farewell written in gold.
void make_closing(Out& out)
{
    Sky s{0.0f, 1.0f, 160.0f, 140.0f, 16.0f, 0.3f, 0.0f, false, true, 9090u};
    Canvas land = landscape(s);
    Canvas title = text_fit(kFontSerifBold, "THE END", 250, 52);
    Canvas sub = text_fit(kFontSans, "thanks for watching", 180, 16);
    std::vector<Rgb> img((size_t)W * H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            float v = at(land, x, y);
            // Brightness through a sunset's colours: violet night, red, orange, pale yellow.
            float t = clamp01(v);
            Rgb c{clamp01(0.10f + 1.35f * t), clamp01(0.04f + 1.1f * t * t),
                  clamp01(0.16f + 0.5f * t * t * t + 0.25f * (1.0f - t) * t)};
            if (y > 150) // the sea a little bluer
                c.b = clamp01(c.b + 0.08f);
            img[(size_t)y * W + x] = c;
        }
    auto place = [&](const Canvas& m, int ox, int oy, bool gold) {
        Canvas pad = padded(m, 6);
        Canvas lit = relief(blur(pad, 1, 3), 5.0f, -0.4f, -0.8f, 0.5f);
        Canvas shadow = blur(pad, 2, 2);
        for (int y = 0; y < pad.h; ++y)
            for (int x = 0; x < pad.w; ++x) {
                int sx = ox + x - 6, sy = oy + y - 6;
                if (sx < 0 || sy < 0 || sx >= W || sy >= H)
                    continue;
                Rgb& p = img[(size_t)sy * W + sx];
                float sh = 0.75f * at_clamped(shadow, x - 3, y - 3);
                p = {p.r * (1.0f - sh), p.g * (1.0f - sh), p.b * (1.0f - sh)};
                float ink = at(pad, x, y);
                float l = at(lit, x, y);
                Rgb ink_colour =
                    gold ? Rgb{0.55f + 0.45f * l, 0.38f + 0.5f * l, 0.1f + 0.35f * l * l} : Rgb{0.85f, 0.82f, 0.9f};
                p = {mix(p.r, ink_colour.r, ink), mix(p.g, ink_colour.g, ink), mix(p.b, ink_colour.b, ink)};
            }
    };
    place(title, (W - title.w) / 2, 22, true);
    place(sub, (W - sub.w) / 2, 84, false);
    Palette pal;
    std::vector<uint8_t> px = median_cut(img, pal);
    save(out, "grafika/dornvask.pcx", px, W, H, pal);
}
