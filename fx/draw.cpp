// Clipped drawing primitives: straight lines and filled rectangles.
#include "fx/draw.h"

#include <cstddef>
#include <cstring>
#include <utility>

namespace {

struct End {
    int64_t x;
    int64_t y;
};

bool outside(const End& a, const End& b, int64_t w, int64_t h)
{
    return (a.x < 0 && b.x < 0) || (a.y < 0 && b.y < 0) || (a.x >= w && b.x >= w) || (a.y >= h && b.y >= h);
}

int64_t clamp(int64_t v, int64_t lo, int64_t hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

// floor(a * b / 65536), the low 64 bits of it, with a 64-bit multiply only: the product
// can need 80 bits. With b = high * 65536 + low (0 <= low < 65536), the shifted product
// is a * high + floor(a * low / 65536) exactly; |a| stays below 2^34, so a * low fits.
int64_t product_shifted(int64_t a, int64_t b)
{
    const int64_t high = b >> 16, low = b & 0xFFFF;
    return (int64_t)((uint64_t)a * (uint64_t)high + (uint64_t)((a * low) >> 16));
}

// Moves an end along the line onto the edge at `edge` of the axis `along`, with the
// other coordinate stepped by the 16.16 slope (product floored, as an arithmetic shift).
void cut(int64_t& along, int64_t& other, int64_t edge, int64_t slope)
{
    other += product_shifted(edge - along, slope);
    along = edge;
}

void plot(Image* image, int64_t x, int64_t y, uint8_t colour)
{
    // Cutting along a slope may leave an end a pixel beyond the image: such pixels are
    // left out here rather than written past the rows.
    if (x >= 0 && x < image->width && y >= 0 && y < image->height)
        image->pixels[(ptrdiff_t)y * image->width + x] = colour;
}

} // namespace

void image_line(Image* image, int x1, int y1, int x2, int y2, uint8_t colour)
{
    const int64_t w = image->width, h = image->height;
    if (w <= 0 || h <= 0)
        return;
    End a{x1, y1}, b{x2, y2};
    if (outside(a, b, w, h))
        return;
    if (a.y == b.y) {
        a.x = clamp(a.x, 0, w - 1);
        b.x = clamp(b.x, 0, w - 1);
    } else if (a.x == b.x) {
        a.y = clamp(a.y, 0, h - 1);
        b.y = clamp(b.y, 0, h - 1);
    } else {
        // Both slopes come from the unclipped ends; the cuts at the left and right edges
        // come first, then those at the top and bottom.
        const int64_t dx = b.x - a.x, dy = b.y - a.y;
        const int64_t slope_y = (dy * 65536) / dx;
        const int64_t slope_x = (dx * 65536) / dy;
        for (End* e : {&a, &b}) {
            if (e->x < 0)
                cut(e->x, e->y, 0, slope_y);
            else if (e->x > w - 1)
                cut(e->x, e->y, w - 1, slope_y);
        }
        for (End* e : {&a, &b}) {
            if (e->y < 0)
                cut(e->y, e->x, 0, slope_x);
            else if (e->y > h - 1)
                cut(e->y, e->x, h - 1, slope_x);
        }
        if (outside(a, b, w, h))
            return;
        // A line that grazes a corner can come out of the cuts with an end far beyond the
        // image (the cuts extrapolate along the line); held a pixel outside the edges, the
        // walk stays as long as the image is wide and tall, whatever the input.
        for (End* e : {&a, &b}) {
            e->x = clamp(e->x, -1, w);
            e->y = clamp(e->y, -1, h);
        }
    }

    const int64_t ddx = b.x - a.x, ddy = b.y - a.y;
    const int64_t sx = ddx < 0 ? -1 : 1, sy = ddy < 0 ? -1 : 1;
    const int64_t adx = ddx * sx, ady = ddy * sy;
    if (adx == 0 && ady == 0) {
        plot(image, a.x, a.y, colour);
        return;
    }
    // Bresenham along the longer axis; the end point itself is left out. The minor axis
    // steps at an error of 0 when the walk goes toward larger major coordinates and only
    // above 0 when it goes toward smaller ones.
    const bool x_major = adx >= ady;
    const int64_t major = x_major ? adx : ady, minor = x_major ? ady : adx;
    const int64_t major_step = x_major ? sx : sy;
    int64_t x = a.x, y = a.y;
    int64_t error = 2 * minor - major;
    for (int64_t i = 0; i < major; ++i) {
        plot(image, x, y, colour);
        if (error > 0 || (error == 0 && major_step > 0)) {
            if (x_major)
                y += sy;
            else
                x += sx;
            error -= 2 * major;
        }
        error += 2 * minor;
        if (x_major)
            x += sx;
        else
            y += sy;
    }
}

void image_fill_rect(Image* image, int x0, int y0, int x1, int y1, uint8_t value)
{
    const int w = image->width, h = image->height;
    if (w <= 0 || h <= 0)
        return;
    auto limit = [](int v, int hi) { return v < 0 ? 0 : (v > hi ? hi : v); };
    x0 = limit(x0, w);
    x1 = limit(x1, w);
    y0 = limit(y0, h);
    y1 = limit(y1, h);
    if (x1 < x0)
        std::swap(x0, x1);
    if (y1 < y0)
        std::swap(y0, y1);
    for (int y = y0; y < y1; ++y)
        std::memset(image->pixels + (ptrdiff_t)y * w + x0, value, (size_t)(x1 - x0));
}
