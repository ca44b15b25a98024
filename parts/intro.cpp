// Part two, the intro: the intro picture under lettering scenes, warped through two
// interfering ring fields and worn like old film.
#include "parts/intro.h"

#include <cstdio>
#include <cstring>

#include "core/clock.h"
#include "core/shared.h"
#include "display/display.h"
#include "fx/blit.h"
#include "fx/draw.h"
#include "fx/filters.h"
#include "fx/palette_match.h"
#include "fx/tables.h"
#include "pcx/pcx.h"

namespace {

const char* const kPicturePath = "grafika/intro/taze.pcx";
const char* const kLetteringPath = "grafika/intro/inttxt.pcx";
constexpr int32_t kFramePeriod = 60; // milliseconds
constexpr int kEndTime = 192;        // part time, tenths of a second
constexpr int kSceneLength = 32;     // part time
constexpr int kFieldWidth = 106;
constexpr int kFieldHeight = 80;
constexpr int kPixels = kScreenWidth * kScreenHeight;
constexpr int kLetteringWidth = 319;  // the pieces reach column 318
constexpr int kLetteringHeight = 243; // and row 242

// A rectangle of the lettering picture; x2 and y2 are just outside it.
struct Piece {
    int x1, y1, x2, y2;
};
constexpr Piece kPieces[] = {
    {7, 8, 134, 47},  {7, 144, 163, 190},   {181, 5, 281, 54}, {170, 144, 304, 192}, {217, 56, 283, 108},
    {6, 47, 167, 90}, {132, 194, 319, 243}, {7, 94, 192, 142}, {7, 144, 163, 190},   {8, 199, 132, 234},
};

// One piece laid over the picture at screen position (x, y).
struct Placement {
    int piece, x, y;
};
struct Scene {
    int count;
    Placement placements[3];
};
constexpr Scene kScenes[] = {
    {0, {}},
    {2, {{0, 100, 20}, {1, 100, 180}}},
    {3, {{2, 100, 20}, {3, 40, 180}, {4, 190, 180}}},
    {2, {{5, 90, 20}, {6, 80, 180}}},
    {3, {{7, 90, 20}, {8, 10, 180}, {9, 180, 190}}},
    {0, {}},
};
static_assert(sizeof kScenes / sizeof kScenes[0] * kSceneLength == kEndTime);

constexpr bool pieces_fit()
{
    for (const Piece& p : kPieces)
        if (p.x2 > kLetteringWidth || p.y2 > kLetteringHeight)
            return false;
    for (const Scene& s : kScenes)
        for (int i = 0; i < s.count; ++i) {
            const Piece& p = kPieces[s.placements[i].piece];
            if (s.placements[i].x + p.x2 - p.x1 > kScreenWidth || s.placements[i].y + p.y2 - p.y1 > kScreenHeight)
                return false;
        }
    return true;
}
static_assert(pieces_fit(), "every piece lies inside the lettering picture and the screen");

Image* intro_picture;
Image* lettering_picture;
Image* field_image;
Image* warp_image;
Palette intro_palette;
uint8_t grey_table[16];

// Loads a picture with the intro palette; on failure releases it and earlier (the
// picture loaded before it, or null) and ends the program. The picture must be at least
// min_width x min_height, and exactly that with exact.
Image* load_picture(const char* path, int min_width, int min_height, bool exact, Image* earlier)
{
    Image* picture = nullptr;
    if (pcx_load(path, &picture, &intro_palette) != 5) {
        std::printf("Cann't load image %s !\n", path);
        image_free(&earlier);
        fatal_exit();
    }
    const bool small = picture->width < min_width || picture->height < min_height;
    const bool large = picture->width > min_width || picture->height > min_height;
    if (small || (exact && large)) {
        std::printf("Wrong image size!\n");
        image_free(&picture);
        image_free(&earlier);
        fatal_exit();
    }
    return picture;
}

} // namespace

void intro_use_pictures(Image* picture, Image* lettering, const Palette& palette)
{
    intro_picture = picture;
    lettering_picture = lettering;
    if (&palette != &intro_palette) // intro_load hands over the buffer it loaded into
        intro_palette = palette;
    for (int i = 0; i < 16; ++i)
        grey_table[i] = (uint8_t)palette_nearest(16 * i, 16 * i, 16 * i, intro_palette);
    if (image_alloc(&warp_image, kScreenWidth, kScreenHeight) != 0 ||
        image_alloc(&field_image, kFieldWidth, kFieldHeight) != 0) {
        std::printf("Cann't allocate image!\n");
        fatal_exit();
    }
}

void intro_load()
{
    // The picture is copied whole every frame and the pieces are cut from the lettering:
    // nothing may be read outside either.
    Image* picture = load_picture(kPicturePath, kScreenWidth, kScreenHeight, true, nullptr);
    Image* lettering = load_picture(kLetteringPath, kLetteringWidth, kLetteringHeight, false, picture);
    intro_use_pictures(picture, lettering, intro_palette);
}

int intro_warp_shift(int u)
{
    const int distance = u > 16 ? u - 16 : 16 - u;
    const int shift = ((16 - distance) >> 1) - 1;
    return shift < 0 ? 0 : shift > 4 ? 4 : shift;
}

void intro_warp_field(int frame_count)
{
    const int f = frame_count;
    const int c1x = (sine_table[table_index(9 * f + 500)] >> 4) + 11;
    const int c1y = (cosine_table[table_index(16 * f)] >> 4) + 16;
    const int c2x = (sine_table[table_index(13 * f - 300)] >> 4) + 35;
    const int c2y = (cosine_table[table_index(11 * f + 100)] >> 4) + 40;
    // Squared distances index the sine table directly: rings without square roots.
    uint8_t* out = field_image->pixels;
    for (int y = 0; y < kFieldHeight; ++y)
        for (int x = 0; x < kFieldWidth; ++x) {
            const int a = sine_table[(((x - c1x) * (x - c1x) + (y - c1y) * (y - c1y)) >> 3) & 1023];
            const int b = sine_table[(((x - c2x) * (x - c2x) + (y - c2y) * (y - c2y)) >> 2) & 1023];
            *out++ = (uint8_t)(192 + ((a + b) >> 5));
        }
    image_scale_copy(warp_image, 0, 0, kScreenWidth, kScreenHeight, field_image, 0, 0, kFieldWidth, kFieldHeight, 0, 0);
    filter_streak(warp_image->pixels, kScreenWidth, kScreenHeight, 1, 0);
}

void intro_warp(const Image* screen, Image* warp, int shift)
{
    const uint8_t* src = screen->pixels;
    uint8_t* w = warp->pixels;
    // A warp value lies in 0..255, so d is in -192..63: only the first row can reach
    // before the image and only the last row beyond it.
    static_assert(192 <= kScreenWidth && 63 <= kScreenWidth);
    for (int k = 0; k < kScreenWidth; ++k) {
        const int i = k + ((w[k] - 192) >> shift);
        w[k] = src[i < 0 ? 0 : i];
    }
    for (int k = kScreenWidth; k < kPixels - kScreenWidth; ++k)
        w[k] = src[k + ((w[k] - 192) >> shift)];
    for (int k = kPixels - kScreenWidth; k < kPixels; ++k) {
        const int i = k + ((w[k] - 192) >> shift);
        w[k] = src[i > kPixels - 1 ? kPixels - 1 : i];
    }
}

void intro_draw(Image* screen, int scene, int frame_count, int shift)
{
    std::memcpy(screen->pixels, intro_picture->pixels, kPixels);
    const Scene& s = kScenes[scene];
    for (int i = 0; i < s.count; ++i) {
        const Placement& at = s.placements[i];
        const Piece& p = kPieces[at.piece];
        image_blit(screen, at.x, at.y, lettering_picture, p.x1, p.y1, p.x2 - p.x1, p.y2 - p.y1, 0, 1);
    }
    intro_warp_field(frame_count);
    intro_warp(screen, warp_image, shift);
    std::memcpy(screen->pixels, warp_image->pixels, kPixels);
}

void intro_damage(Image* screen)
{
    // Every later part draws from the same generator: the draws below happen in exactly
    // this order and number.
    if (random_below(100) <= 7) {
        const int shift = random_below(3) + 1;
        const int decay = random_below(3) + 1;
        filter_streak(screen->pixels, kScreenWidth, kScreenHeight, (uint8_t)decay, (uint8_t)shift);
    }
    if (random_below(100) <= 7)
        for (int k = 0; k < kPixels; ++k)
            screen->pixels[k] = (uint8_t)~screen->pixels[k];
    if (random_below(100) <= 39) {
        const int scratches = random_below(40);
        for (int i = 0; i < scratches; ++i) {
            const int x = random_below(kScreenWidth);
            if (random_below(100) <= 39) {
                const uint8_t colour = grey_table[random_below(16)];
                const int y = random_below(kScreenHeight);
                image_line(screen, x, y, x, kScreenHeight, colour);
            }
        }
    }
}

void intro_run(Image* screen)
{
    clock_mark();
    int part_time = (int)(clock_elapsed() * 0.01);
    int32_t frame_start = clock_now();
    display_set_palette(intro_palette);
    image_fill(screen, 0);

    // The field moves by frame count, the scenes by time; a scene steps at most once a
    // frame, so its start never passes the part time and the scene number stays below 6.
    int scene = 0, scene_start = 0, frame_count = 0;
    while (part_time < kEndTime) {
        if (part_time >= scene_start + kSceneLength) {
            ++scene;
            scene_start += kSceneLength;
        }
        intro_draw(screen, scene, frame_count, intro_warp_shift(part_time - scene_start));
        intro_damage(screen);
        display_present(*screen);
        ++frame_count;
        clock_wait(frame_start, kFramePeriod);
        frame_start = clock_now();
        part_time = (int)(clock_elapsed() * 0.01);
    }
}

void intro_free()
{
    image_free(&intro_picture);
    image_free(&lettering_picture);
    image_free(&field_image);
    image_free(&warp_image);
}
