// Part three, the blobs: raising and lowering blobs drift over a neutral field, and the
// field's far ends show two pictures in grey ramps.
#include "parts/blobs.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/clock.h"
#include "core/rounding.h"
#include "core/seek_state.h"
#include "core/shared.h"
#include "display/display.h"
#include "pcx/pcx.h"

Blob blobs[kBlobCount];

namespace {

constexpr int32_t kFramePeriod = 70; // milliseconds
constexpr int kNeutral = 127;        // the field value no blob has touched
constexpr int kPixels = kScreenWidth * kScreenHeight;
constexpr int kHalf = kBlobSize / 2;

uint8_t* field_table;
Palette palette;

// The blobs move on from frame to frame and from the blobs' run to the next round's.
[[maybe_unused]] const bool blobs_kept = seek_state_declare(blobs, sizeof blobs);

void set_grey(int entry, int level)
{
    uint8_t* rgb = &palette.rgb[3 * entry];
    rgb[0] = rgb[1] = rgb[2] = (uint8_t)level;
}

// The levels come out of products in extended precision (64-bit significand): plain
// double rounding would lift eight of the lowered ramp's levels by one.
int ramp_level(int v, int k_offset, long double factor)
{
    const int k = (v >> 2) + k_offset;
    const int t = (int)((v + 200) * 0.25);
    const long double product = (long double)k * factor * (long double)t * 0.125L;
    const int level = (int)product;
    return level > 255 ? 255 : level;
}

void build_palette()
{
    std::memset(palette.rgb, 0, sizeof palette.rgb);
    set_grey(1, 147);
    // Lowered regions: bright far below the neutral level, dim towards 106.
    for (int e = 2; e <= 107; ++e) {
        const int v = 255 - (255 * (e - 1)) / 106;
        set_grey(e, ramp_level(v, 10, (long double)(1.0 / 7.0)));
    }
    // Raised regions: dim just above 149, bright towards 255.
    set_grey(255, 255);
    for (int e = 254; e >= 149; --e) {
        const int v = 255 - (255 * (255 - e)) / 106;
        set_grey(e, ramp_level(v, 5, (long double)0.8));
    }
}

// Loads a picture of the screen's size; on failure releases it and earlier (an earlier
// picture of this step, or null) and ends the program.
Image* load_picture(const char* path, const Image* screen, Image* earlier)
{
    Image* picture = nullptr;
    if (pcx_load(path, &picture, &work_palette) != 5) {
        std::printf("Cann't load image %s !\n", path);
        image_free(&earlier);
        fatal_exit();
    }
    // The colour pass reads both pictures pixel for pixel alongside the screen.
    if (picture->width != screen->width || picture->height != screen->height) {
        std::printf("Wrong image size!\n");
        image_free(&picture);
        image_free(&earlier);
        fatal_exit();
    }
    return picture;
}

// Reflects a coordinate off the far edge of the box, then off the near one, turning the
// velocity each time; landing exactly on the far edge reflects onto the same place.
void bounce(float& position, float& velocity, float low, float high)
{
    if (position >= high) {
        position = rounded_float(2.0f * high - position);
        velocity = -velocity;
    }
    if (position < low) {
        position = rounded_float(2.0f * low - position);
        velocity = -velocity;
    }
}

void stamp(uint8_t* pixels, const Blob& blob, bool raise)
{
    const int left = (int)blob.x - kHalf;
    const int top = (int)blob.y - kHalf;
    // The bounce box keeps every stamp of the show's speeds inside the screen; the
    // limits only guard speeds the show never uses.
    const int c0 = left < 0 ? -left : 0;
    const int c1 = left + kBlobSize > kScreenWidth ? kScreenWidth - left : kBlobSize;
    const int r0 = top < 0 ? -top : 0;
    const int r1 = top + kBlobSize > kScreenHeight ? kScreenHeight - top : kBlobSize;
    for (int r = r0; r < r1; ++r) {
        const uint8_t* f = field_table + r * kBlobSize;
        uint8_t* p = pixels + (top + r) * kScreenWidth + left;
        if (raise)
            for (int c = c0; c < c1; ++c) {
                const int sum = p[c] + f[c];
                p[c] = (uint8_t)(sum > 255 ? 255 : sum);
            }
        else
            for (int c = c0; c < c1; ++c) {
                // Never 0, also where the table is 0.
                const int diff = p[c] - f[c];
                p[c] = (uint8_t)(diff > 0 ? diff : 1);
            }
    }
}

} // namespace

const uint8_t* blobs_field_table()
{
    return field_table;
}

const Palette& blobs_palette()
{
    return palette;
}

void blobs_precalc()
{
    for (int r = 0; r < kBlobSize; ++r)
        for (int c = 0; c < kBlobSize; ++c) {
            const int d2 = (c - kHalf) * (c - kHalf) + (r - kHalf) * (r - kHalf);
            int f = 0;
            if (d2 < 1024) {
                f = ((1024 - d2) * (1024 - d2)) >> 13;
                f = f > 127 ? 127 : f;
            }
            field_table[r * kBlobSize + c] = (uint8_t)f;
        }
    // Every later part draws from the same generator: four draws per blob, in this order.
    for (Blob& b : blobs) {
        b.x = (float)(random_below(240) + 40);
        b.y = (float)(random_below(120) + 40);
        b.vx = (float)(2 * random_below(10) * 0.1 - 1.01);
        b.vy = (float)(2 * random_below(10) * 0.1 - 1.01);
    }
}

void blobs_load()
{
    field_table = (uint8_t*)std::malloc(kBlobSize * kBlobSize);
    if (field_table == nullptr) {
        std::printf("Cann't allocate memory!\n");
        fatal_exit(false, 1);
    }
    blobs_precalc();
    build_palette();
}

void blobs_draw(uint8_t* pixels, int speed)
{
    const float s = (float)speed;
    for (int i = 0; i < kBlobCount; ++i) {
        Blob& b = blobs[i];
        // Single precision throughout, each operation rounded to float.
        b.x = rounded_float(b.x + rounded_float(b.vx * s));
        b.y = rounded_float(b.y + rounded_float(b.vy * s));
        bounce(b.x, b.vx, 40.0f, 280.0f);
        bounce(b.y, b.vy, 40.0f, 200.0f);
        stamp(pixels, b, i % 2 == 0);
    }
}

void blobs_colour(Image* screen, const Image* picture1, const Image* picture2)
{
    uint8_t* p = screen->pixels;
    const uint8_t* low = picture1->pixels;
    const uint8_t* high = picture2->pixels;
    // Three quarters picture, one quarter field: lowered values land in 2..110, raised
    // ones in 144..252, and the band between shows black.
    for (int k = 0; k < kPixels; ++k) {
        const int v = p[k];
        if (v <= 105) {
            const int c = low[k];
            const int m = 112 - (c >> 2) - (c >> 3) - (c >> 4);
            p[k] = (uint8_t)((3 * m + v) >> 2);
        } else if (v <= 149) {
            p[k] = kNeutral;
        } else {
            const int c = high[k];
            const int m = 143 + (c >> 2) + (c >> 3) + (c >> 4);
            p[k] = (uint8_t)((3 * m + v) >> 2);
        }
    }
}

void blobs_run(Image* screen, const char* picture1_path, const char* picture2_path, uint32_t duration)
{
    clock_mark();
    int32_t part_time = clock_elapsed() / 100;
    int32_t frame_start = clock_now();
    Image* picture1 = load_picture(picture1_path, screen, nullptr);
    Image* picture2 = load_picture(picture2_path, screen, picture1);
    display_set_palette(palette);

    while ((int64_t)part_time < (int64_t)duration) {
        image_fill(screen, kNeutral);
        const int speed = random_below(5) + 7;
        blobs_draw(screen->pixels, speed);
        blobs_colour(screen, picture1, picture2);
        display_present(*screen);
        clock_wait(frame_start, kFramePeriod);
        frame_start = clock_now();
        part_time = clock_elapsed() / 100;
    }
    image_free(&picture1);
    image_free(&picture2);
}

void blobs_free()
{
    std::free(field_table);
    field_table = nullptr;
}
