// The rippling picture scroll with words: five pictures in an endless band seen through
// a wandering interference ripple, a trembling word, the grid, a streak and a thumbnail.
#include "parts/words.h"

#include <cstring>
#include <initializer_list>

#include "core/clock.h"
#include "core/rounding.h"
#include "core/shared.h"
#include "display/display.h"
#include "fx/blit.h"
#include "fx/filters.h"
#include "fx/grid.h"
#include "fx/tables.h"
#include "parts/part_pictures.h"

namespace {

constexpr int kBandWidth = 320;
constexpr int kBandHeight = 240;
constexpr int kBandPixels = kBandWidth * kBandHeight;
constexpr int kPatternWidth = 106;
constexpr int kPatternHeight = 80;
constexpr int kThumbWidth = 80;
constexpr int kThumbHeight = 60;
constexpr int kPictures = 5;
constexpr int kFramePeriod = 70;
static_assert(kBandWidth == kScreenWidth && kBandHeight == kScreenHeight,
              "the rippled band is copied over the screen image whole");

const char* const kScrollPaths[kPictures] = {
    "grafika/aaa/d1.pcx", "grafika/aaa/d5.pcx", "grafika/aaa/d6.pcx", "grafika/aaa/c1.pcx", "grafika/aaa/d2.pcx",
};
const char* const kWordsPath = "grafika/words.pcx";

// The words on the sheet, in the order they are shown; the end marker sends the
// sequence back to record 0.
constexpr WordRect kWords[] = {
    {2, 2, 211, 47},      {209, 12, 317, 50},   {2, 49, 242, 108},    {7, 106, 257, 155},   {6, 158, 211, 205},
    {226, 159, 314, 203}, {8, 204, 156, 250},   {172, 203, 278, 262}, {5, 257, 204, 311},   {218, 257, 307, 313},
    {8, 312, 193, 361},   {200, 315, 311, 366}, {8, 362, 186, 409},   {190, 370, 315, 419}, {3, 413, 159, 458},
    {4, 458, 262, 503},   {6, 507, 215, 545},   {5, 547, 119, 604},   {129, 544, 278, 599}, {6, 605, 187, 644},
    {5, 646, 274, 691},   {3, 693, 145, 740},   {150, 692, 317, 744}, {6, 742, 217, 799},   {-1, -1, -1, -1},
};
constexpr int kWordCount = sizeof kWords / sizeof kWords[0] - 1;
static_assert(kWordCount == 24);

// The sheet must hold every word rectangle.
constexpr int32_t words_min_width()
{
    int32_t w = 0;
    for (int i = 0; i < kWordCount; ++i)
        w = kWords[i].right > w ? kWords[i].right : w;
    return w;
}
constexpr int32_t words_min_height()
{
    int32_t h = 0;
    for (int i = 0; i < kWordCount; ++i)
        h = kWords[i].bottom > h ? kWords[i].bottom : h;
    return h;
}
static_assert(words_min_width() == 317 && words_min_height() == 799);

Image* scroll_pictures[kPictures];
Image* words_picture;
Image* pattern_image;
Image* displacement_map;
Image* scroll_image;
Image* thumbnail;

// The current word: its rectangle on the sheet and where it stands before trembling.
WordRect word_rect;
int32_t word_base_x, word_base_y;

bool fast_scroll(int32_t v)
{
    return (v >= 120 && v <= 127) || (v >= 147 && v <= 154) || (v >= 175 && v <= 182) || (v >= 205 && v <= 212);
}

} // namespace

void words_reduce(Image* picture)
{
    const int n = picture->width * picture->height;
    for (int i = 0; i < n; ++i) {
        const uint8_t p = picture->pixels[i];
        picture->pixels[i] = p == 0 ? 0 : p < 200 ? 1 : 255;
    }
}

void words_load()
{
    Palette scratch;
    for (int i = 0; i < kPictures; ++i) {
        load_or_exit(kScrollPaths[i], &scroll_pictures[i], &scratch);
        if (scroll_pictures[i]->width != kBandWidth || scroll_pictures[i]->height != kBandHeight)
            refuse_size(&scroll_pictures[i]);
    }
    load_or_exit(kWordsPath, &words_picture, &scratch);
    if (words_picture->width < words_min_width() || words_picture->height < words_min_height())
        refuse_size(&words_picture);
    words_reduce(words_picture);

    alloc_or_exit(&displacement_map, kBandWidth, kBandHeight, true);
    alloc_or_exit(&pattern_image, kPatternWidth, kPatternHeight, true);
    alloc_or_exit(&scroll_image, kBandWidth, kBandHeight, true);
    alloc_or_exit(&thumbnail, kThumbWidth, kThumbHeight, true);
}

void words_free()
{
    for (Image*& picture : scroll_pictures) {
        image_free(&picture);
        picture = nullptr;
    }
    for (Image** image : {&pattern_image, &displacement_map, &scroll_image, &words_picture, &thumbnail}) {
        image_free(image);
        *image = nullptr;
    }
}

WordRect words_current()
{
    return word_rect;
}

WordsCentres words_pattern_centres(int phase)
{
    const int32_t* s = sine_table;
    const int32_t* c = cosine_table;
    WordsCentres w;
    w.ax = (s[table_index(9 * phase + 500)] >> 4) + 11;
    w.ay = (c[table_index(16 * phase)] >> 4) + 16;
    w.bx = (s[table_index(13 * phase - 300)] >> 4) + 35;
    w.by = (c[table_index(11 * phase + 100)] >> 4) + 40;
    return w;
}

void words_pattern(int phase)
{
    const WordsCentres w = words_pattern_centres(phase);
    uint8_t* out = pattern_image->pixels;
    for (int y = 0; y < kPatternHeight; ++y) {
        const int ya = (y - w.ay) * (y - w.ay);
        const int yb = (y - w.by) * (y - w.by);
        for (int x = 0; x < kPatternWidth; ++x) {
            // Squared distances are never negative, so the low ten bits are the index.
            const int ra = (((x - w.ax) * (x - w.ax) + ya) >> 3) & (kTableSize - 1);
            const int rb = (((x - w.bx) * (x - w.bx) + yb) >> 2) & (kTableSize - 1);
            *out++ = (uint8_t)(((sine_table[ra] + sine_table[rb]) >> 5) + 64);
        }
    }
    image_scale_copy(displacement_map, 0, 0, kBandWidth, kBandHeight, pattern_image, 0, 0, kPatternWidth,
                     kPatternHeight, 0, 0);
}

void words_ripple(uint8_t* map, const uint8_t* band, int count)
{
    // The offset (-16..15) never spans a row, so only the first and last 16 pixels can
    // reach outside the band; those are clamped to its ends.
    for (int k = 0; k < count; ++k) {
        int from = k + ((map[k] - 64) >> 2);
        if (from < 0)
            from = 0;
        else if (from > count - 1)
            from = count - 1;
        map[k] = band[from];
    }
}

void words_ramp(float red, float green, float blue)
{
    const float factor[3] = {red, green, blue};
    for (int i = 0; i < 256; ++i)
        for (int c = 0; c < 3; ++c) {
            const int v = (int)rounded_float(factor[c] * (float)i);
            work_palette.rgb[3 * i + c] = (uint8_t)(v > 255 ? 255 : v);
        }
}

void words_paste(Image* screen, const Image* sheet, int x, int y, int left, int top, int width, int height)
{
    if (x < 0) {
        left -= x;
        width += x;
        x = 0;
    }
    if (y < 0) {
        top -= y;
        height += y;
        y = 0;
    }
    if (x + width > screen->width)
        width = screen->width - x;
    if (y + height > screen->height)
        height = screen->height - y;
    if (width <= 0 || height <= 0)
        return;
    image_blit(screen, x, y, sheet, left, top, width, height, 0, 1);
}

void words_frame(Image* screen, WordsRun* run, int32_t v)
{
    words_pattern(run->frame + (run->frame >> 1));

    run->offset += fast_scroll(v) ? 160 : 15;
    if (run->offset > kBandWidth - 1) {
        run->offset = 0;
        run->picture = run->picture == kPictures - 1 ? 0 : run->picture + 1;
    }
    const int o = run->offset;
    const int next = run->picture == kPictures - 1 ? 0 : run->picture + 1;
    image_blit(scroll_image, 0, 0, scroll_pictures[run->picture], o, 0, kBandWidth - o, kBandHeight, 0, 0);
    image_blit(scroll_image, kBandWidth - o, 0, scroll_pictures[next], 0, 0, o, kBandHeight, 0, 0);

    words_ripple(displacement_map->pixels, scroll_image->pixels, kBandPixels);
    std::memcpy(screen->pixels, displacement_map->pixels, kBandPixels);

    if (v - run->last_change >= 10) {
        run->last_change = v;
        ++run->word;
        if (kWords[run->word].left < 0)
            run->word = 0;
        word_rect = kWords[run->word];
        word_base_x = random_below(315 - (word_rect.right - word_rect.left));
        word_base_y = random_below(235 - (word_rect.bottom - word_rect.top));
    }
    const int32_t y = word_base_y + random_below(9) - 4;
    const int32_t x = word_base_x + random_below(9) - 4;
    words_paste(screen, words_picture, x, y, word_rect.left, word_rect.top, word_rect.right - word_rect.left,
                word_rect.bottom - word_rect.top);

    grid_draw(screen);
    filter_streak(screen->pixels, kBandWidth, kBandHeight, 1, 1);

    image_scale_copy(thumbnail, 0, 0, kThumbWidth, kThumbHeight, screen, 0, 0, kBandWidth, kBandHeight, 0, 0);
    frame_border(thumbnail, 0);
    image_blit(screen, 316 - kThumbWidth, 236 - kThumbHeight, thumbnail, 0, 0, kThumbWidth, kThumbHeight, 0, 0);
    ++run->frame;
}

void words_run(Image* screen, float red, float green, float blue, uint32_t duration)
{
    clock_mark();
    int32_t v = clock_elapsed() / 100;
    int32_t frame_start = clock_now();
    words_ramp(red, green, blue);
    display_set_palette(work_palette);

    WordsRun run;
    while ((uint32_t)v < duration) {
        words_frame(screen, &run, v);
        display_present(*screen);
        clock_wait(frame_start, kFramePeriod);
        frame_start = clock_now();
        v = clock_elapsed() / 100;
    }
}
