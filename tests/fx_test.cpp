// The effect primitives: tables, filters, sprites, palette matching, grid and drawing.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "core/clock.h"
#include "core/image.h"
#include "fx/blit.h"
#include "fx/draw.h"
#include "fx/filters.h"
#include "fx/grid.h"
#include "fx/palette_match.h"
#include "fx/tables.h"

#include "tests/owned_image.h"

namespace {

TEST(Tables, TellingValuesQuarterPointsAndSymmetry)
{
    tables_init();
    const std::pair<int, int> sines[] = {{0, 0},      {1, 6},      {2, 12},      {85, 509},  {128, 723},
                                         {255, 1022}, {256, 1023}, {257, 1022},  {384, 723}, {511, 6},
                                         {512, 0},    {513, -6},   {768, -1023}, {1023, -6}};
    for (auto [i, v] : sines)
        EXPECT_EQ(sine_table[i], v) << "sine " << i;
    const std::pair<int, int> cosines[] = {{0, 1023},    {1, 1022}, {128, 723},  {256, 0},
                                           {512, -1023}, {768, 0},  {1023, 1022}};
    for (auto [i, v] : cosines)
        EXPECT_EQ(cosine_table[i], v) << "cosine " << i;
    for (int i = 0; i < kTableSize; ++i) {
        EXPECT_EQ(cosine_table[i], sine_table[(i + 256) % 1024]) << i;
        EXPECT_EQ(sine_table[i], -sine_table[(i + 512) % 1024]) << i;
        EXPECT_EQ(sine_table[i], sine_table[(512 - i + 1024) % 1024]) << i;
        // Cut toward zero: never further from zero than the true value.
        const double exact = 1023.0 * std::sin(i * 0.006135923151542565);
        EXPECT_LE(std::abs((double)sine_table[i]), std::abs(exact) + 1e-9) << i;
        EXPECT_LT(std::abs(exact - sine_table[i]), 1.0) << i;
    }
}

TEST(Tables, IndexOfNegativeAngles)
{
    const std::pair<int32_t, int32_t> cases[] = {
        {0, 0},      {1, 1},        {1023, 1023},  {1024, 0},     {2048, 0},         {1025, 1},        {-1, 1022},
        {-256, 767}, {-1024, 1023}, {-1025, 1022}, {-2048, 1023}, {INT32_MIN, 1023}, {INT32_MAX, 1023}};
    for (auto [a, i] : cases)
        EXPECT_EQ(table_index(a), i) << a;
}

// The hand-worked 4 x 3 blocks, through both the literal and the program's form.
TEST(Filters, WorkedBlocks)
{
    using Filter = void (*)(uint8_t*, int, int, uint8_t, uint8_t);
    const Filter blurs[] = {[](uint8_t* p, int w, int h, uint8_t d, uint8_t) { filter_blur_reference(p, w, h, d); },
                            [](uint8_t* p, int w, int h, uint8_t d, uint8_t) { filter_blur(p, w, h, d); }};
    const Filter streaks[] = {filter_streak_reference, filter_streak};
    auto spot = [] {
        std::vector<uint8_t> b(12, 0);
        b[5] = 160;
        return b;
    };
    for (int form = 0; form < 2; ++form) {
        std::vector<uint8_t> b = spot();
        blurs[form](b.data(), 4, 3, 0, 0);
        EXPECT_EQ(b, (std::vector<uint8_t>{0, 40, 5, 0, 20, 87, 11, 1, 5, 23, 8, 2})) << form;
        b = spot();
        streaks[form](b.data(), 4, 3, 0, 0);
        EXPECT_EQ(b, (std::vector<uint8_t>{0, 40, 20, 10, 5, 47, 26, 14, 8, 15, 14, 10})) << form;
        b = spot();
        streaks[form](b.data(), 4, 3, 0, 1);
        EXPECT_EQ(b, (std::vector<uint8_t>{0, 0, 40, 20, 30, 35, 22, 13, 14, 15, 13, 9})) << form;
        b.assign(12, 80);
        streaks[form](b.data(), 4, 3, 1, 1);
        EXPECT_EQ(b, (std::vector<uint8_t>{79, 78, 78, 78, 77, 77, 77, 77, 76, 76, 76, 76})) << form;
    }
}

TEST(Filters, UniformBlocksAndTheFloorAtZero)
{
    for (int value : {0, 1, 77, 254, 255}) {
        for (auto [w, h] : {std::pair{4, 3}, {320, 240}, {1, 2}, {333, 5}}) {
            std::vector<uint8_t> a((size_t)w * h, (uint8_t)value), b = a, c = a, d = a, e = a;
            filter_blur_reference(b.data(), w, h, 0);
            filter_blur(c.data(), w, h, 0);
            filter_streak_reference(d.data(), w, h, 0, (uint8_t)std::min(w, 3));
            filter_streak(e.data(), w, h, 0, (uint8_t)std::min(w, 3));
            EXPECT_EQ(b, a) << value << " " << w;
            EXPECT_EQ(c, a) << value << " " << w;
            EXPECT_EQ(d, a) << value << " " << w;
            EXPECT_EQ(e, a) << value << " " << w;
        }
    }
    // A dark block with a large decay goes to 0, never wrapping to bright values.
    for (bool fast : {false, true}) {
        std::vector<uint8_t> a(320 * 8, 3), b(320 * 8, 3);
        a[100] = 200;
        b[100] = 200;
        if (fast) {
            filter_blur(a.data(), 320, 8, 4);
            filter_streak(b.data(), 320, 8, 200, 2);
        } else {
            filter_blur_reference(a.data(), 320, 8, 4);
            filter_streak_reference(b.data(), 320, 8, 200, 2);
        }
        for (size_t k = 0; k < a.size(); ++k) {
            EXPECT_LE(a[k], 200 / 2) << k;
            EXPECT_EQ(b[k], 0) << k;
        }
        EXPECT_EQ(a[0], 0);
        EXPECT_EQ(a.back(), 0);
    }
}

// Blocks the filters do not define (one row, no columns, a shift past the width) are left
// as they are by both forms, without a read outside them.
TEST(Filters, UndefinedBlocksAreLeftAlone)
{
    std::vector<uint8_t> row{9, 200, 3, 77, 0};
    const std::vector<uint8_t> keep = row;
    filter_blur(row.data(), 5, 1, 1);
    filter_blur_reference(row.data(), 5, 1, 1);
    filter_streak(row.data(), 5, 1, 0, 1);
    filter_streak_reference(row.data(), 5, 1, 0, 1);
    filter_blur(row.data(), 0, 5, 0);
    filter_streak(row.data(), 0, 5, 0, 0);
    filter_streak(row.data(), 2, 2, 0, 3);
    filter_streak_reference(row.data(), 2, 2, 0, 3);
    EXPECT_EQ(row, keep);
}

// One filter setting as a part uses it: blur when shift is negative.
struct Setting {
    int decay;
    int shift;
};

void apply(bool fast, uint8_t* p, int w, int h, Setting s)
{
    if (s.shift < 0)
        (fast ? filter_blur : filter_blur_reference)(p, w, h, (uint8_t)s.decay);
    else
        (fast ? filter_streak : filter_streak_reference)(p, w, h, (uint8_t)s.decay, (uint8_t)s.shift);
}

// Every decay and shift the parts call the filters with.
std::vector<Setting> part_settings()
{
    std::vector<Setting> s;
    for (int d = 0; d <= 4; ++d)
        for (int shift = 2; shift <= 42; shift += 2)
            s.push_back({d, shift});
    for (int d = 1; d <= 3; ++d)
        for (int shift = 0; shift <= 3; ++shift)
            s.push_back({d, shift});
    s.push_back({0, 2});
    s.push_back({1, -1});
    s.push_back({2, -1});
    s.push_back({0, -1});
    return s;
}

// Random blocks of many textures: noise, smooth ramps, sparse bright spots, flat areas.
void random_block(std::mt19937& rng, std::vector<uint8_t>& b)
{
    const int kind = (int)(rng() % 4);
    for (size_t k = 0; k < b.size(); ++k) {
        switch (kind) {
        case 0: b[k] = (uint8_t)rng(); break;
        case 1: b[k] = (uint8_t)((k * 3 + (rng() % 5)) >> 2); break;
        case 2: b[k] = rng() % 17 == 0 ? (uint8_t)(200 + rng() % 56) : 0; break;
        default: b[k] = (uint8_t)(rng() % 2 ? 255 : (rng() % 3)); break;
        }
    }
}

// Both forms on one random block; true when they agree byte for byte.
::testing::AssertionResult forms_agree(std::mt19937& rng, int w, int h, Setting s)
{
    std::vector<uint8_t> a((size_t)w * h);
    random_block(rng, a);
    std::vector<uint8_t> b = a;
    apply(false, a.data(), w, h, s);
    apply(true, b.data(), w, h, s);
    if (a == b)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "decay " << s.decay << " shift " << s.shift << " " << w << "x" << h;
}

TEST(Filters, FastFormMatchesLiteralOnRandomBlocks)
{
    std::mt19937 rng(12345);
    // Widths below, at and around the smallest the lanes take (64), runs that are and are
    // not whole blocks of 8, and height 2 (no middle rows).
    const std::pair<int, int> shapes[] = {{320, 240}, {320, 2}, {321, 3}, {317, 7}, {200, 9}, {143, 4}, {150, 5},
                                          {161, 6},   {47, 5},  {1, 2},   {8, 3},   {640, 3}, {64, 4},  {67, 3},
                                          {71, 5},    {72, 2},  {127, 3}, {999, 2}, {300, 11}};
    for (Setting s : part_settings()) {
        for (auto [w, h] : shapes) {
            if (s.shift <= w) {
                ASSERT_TRUE(forms_agree(rng, w, h, s));
            }
        }
    }
    // Random decays and shifts beyond the parts' own, on random shapes.
    for (int t = 0; t < 400; ++t) {
        const int w = 1 + (int)(rng() % 400), h = 2 + (int)(rng() % 6);
        const Setting s{(int)(rng() % 6 == 0 ? rng() % 256 : rng() % 5),
                        rng() % 3 == 0 ? -1 : (int)(rng() % (std::min(w, 255) + 1))};
        ASSERT_TRUE(forms_agree(rng, w, h, s));
    }
}

// A frame fed back into the filters 100 times, as the parts do every frame, with fresh
// bright spots added between passes so the block never settles to flat.
TEST(Filters, FastFormMatchesLiteralOverRepeatedFrames)
{
    const std::vector<Setting> runs = {{1, -1}, {2, -1}, {0, 2}, {1, 1}, {1, 0}, {3, 3}, {4, 42}, {0, 18}};
    for (Setting s : runs) {
        std::mt19937 rng(777 + s.decay * 50 + s.shift);
        std::vector<uint8_t> a(320 * 240);
        random_block(rng, a);
        std::vector<uint8_t> b = a;
        for (int frame = 0; frame < 100; ++frame) {
            for (int spot = 0; spot < 30; ++spot) {
                const size_t k = rng() % a.size();
                a[k] = b[k] = (uint8_t)(128 + rng() % 128);
            }
            apply(false, a.data(), 320, 240, s);
            apply(true, b.data(), 320, 240, s);
            ASSERT_EQ(a, b) << "decay " << s.decay << " shift " << s.shift << " frame " << frame;
        }
    }
}

TEST(Blit, PlainAndSpriteModes)
{
    Owned src(7, 5), dst(9, 6);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x)
            src.at(x, y) = (uint8_t)((x + y) % 3 == 0 ? 0 : ((x + y) % 3 == 1 ? 255 : 10 * x + y + 1));
    auto fresh = [&] {
        for (int i = 0; i < 9 * 6; ++i)
            dst.image->pixels[i] = (uint8_t)(i % 2 ? 0 : 255);
    };

    // Plain: every pixel of the rectangle, transparent colour ignored; the rest untouched.
    fresh();
    std::vector<uint8_t> before(dst.image->pixels, dst.image->pixels + 54);
    image_blit(dst.image, 2, 1, src.image, 1, 2, 5, 3, 0, 0);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 9; ++x) {
            const bool in = x >= 2 && x < 7 && y >= 1 && y < 4;
            EXPECT_EQ(dst.at(x, y), in ? src.at(x - 1, y + 1) : before[y * 9 + x]) << x << "," << y;
        }

    // Sprite with key 0, then key 255: the key never changes the destination (even where
    // the destination already holds it); every other value, 0 under key 255, is copied.
    for (uint8_t key : {uint8_t(0), uint8_t(255)}) {
        fresh();
        image_blit(dst.image, 1, 0, src.image, 0, 0, 7, 5, key, 1);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 9; ++x) {
                const bool in = x >= 1 && x < 8 && y < 5;
                const uint8_t s = in ? src.at(x - 1, y) : 0;
                EXPECT_EQ(dst.at(x, y), in && s != key ? s : before[y * 9 + x]) << x << "," << y;
            }
    }

    // Width or height 0 draws nothing.
    fresh();
    image_blit(dst.image, 0, 0, src.image, 0, 0, 0, 5, 0, 0);
    image_blit(dst.image, 0, 0, src.image, 0, 0, 7, 0, 0, 1);
    EXPECT_EQ(std::vector<uint8_t>(dst.image->pixels, dst.image->pixels + 54), before);
}

// Rectangles reaching past either image: exactly the pixels whose source and destination
// both lie inside are copied, and nothing around the images is touched.
TEST(Blit, RectanglesPastTheEdgesAreCut)
{
    std::mt19937 rng(31);
    for (int t = 0; t < 2000; ++t) {
        const int sw = 1 + (int)(rng() % 30), sh = 1 + (int)(rng() % 30);
        const int dw = 1 + (int)(rng() % 30), dh = 1 + (int)(rng() % 30);
        std::vector<uint8_t> sbuf(sw * sh + 64, 0xEE), dbuf(dw * dh + 64, 0xAA);
        Image src{sw, sh, sbuf.data() + 32}, dst{dw, dh, dbuf.data() + 32};
        for (int i = 0; i < sw * sh; ++i)
            src.pixels[i] = (uint8_t)(rng() % 3 == 0 ? 0 : 1 + rng() % 250);
        std::vector<uint8_t> want = dbuf;
        auto coord = [&] { return (int)(rng() % 80) - 40; };
        const int dx = coord(), dy = coord(), sx = coord(), sy = coord();
        const int w = (int)(rng() % 50) - 5, h = (int)(rng() % 50) - 5;
        const uint8_t sprite = (uint8_t)(rng() % 2);
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c) {
                const int x = sx + c, y = sy + r, u = dx + c, v = dy + r;
                if (x < 0 || y < 0 || x >= sw || y >= sh || u < 0 || v < 0 || u >= dw || v >= dh)
                    continue;
                const uint8_t p = src.pixels[y * sw + x];
                if (!sprite || p != 0)
                    want[32 + v * dw + u] = p;
            }
        image_blit(&dst, dx, dy, &src, sx, sy, w, h, 0, sprite);
        ASSERT_EQ(dbuf, want) << dx << "," << dy << " from " << sx << "," << sy << " " << w << "x" << h;
    }
    // Coordinates far out draw nothing and wrap nowhere.
    Owned a(8, 8), b(8, 8);
    image_fill(b.image, 9);
    image_blit(a.image, INT32_MAX - 2, 0, b.image, 0, 0, 8, 8, 0, 0);
    image_blit(a.image, 0, INT32_MIN, b.image, 0, 0, INT32_MAX, INT32_MAX, 0, 0);
    image_blit(a.image, -4, -4, b.image, INT32_MIN, 0, 8, 8, 0, 0);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(a.image->pixels[i], 0);
}

Palette palette_of(std::initializer_list<std::array<uint8_t, 3>> colours)
{
    Palette p{};
    int i = 0;
    for (auto c : colours) {
        std::memcpy(p.rgb + 3 * i, c.data(), 3);
        ++i;
    }
    return p;
}

TEST(PaletteMatch, TiesDuplicatesAndRemaps)
{
    Palette p{};
    for (int i = 0; i < 256; ++i) {
        p.rgb[3 * i] = (uint8_t)i;
        p.rgb[3 * i + 1] = (uint8_t)(255 - i);
        p.rgb[3 * i + 2] = (uint8_t)(i * 7);
    }
    // Duplicates: the lowest of the equal entries.
    std::memcpy(p.rgb + 3 * 200, p.rgb + 3 * 40, 3);
    EXPECT_EQ(palette_nearest(40, 215, 24, p), 40);
    p.rgb[3 * 10] = 1;
    std::memcpy(p.rgb + 3 * 9, p.rgb + 3 * 10, 3);
    EXPECT_EQ(palette_nearest(1, 245, 70, p), 9);

    // Ties: (100,0,0) lies 10 from both (90,0,0) at index 5 and (110,0,0) at index 3.
    Palette t = palette_of({{50, 50, 50}, {0, 0, 200}, {0, 200, 0}, {110, 0, 0}, {9, 9, 9}, {90, 0, 0}});
    for (int i = 6; i < 256; ++i)
        std::memcpy(t.rgb + 3 * i, t.rgb, 3);
    EXPECT_EQ(palette_nearest(100, 0, 0, t), 3);
    EXPECT_EQ(palette_nearest(89, 0, 0, t), 5);
    EXPECT_EQ(palette_nearest(255, 255, 255, t), 0);

    // Remap with the same palette: unique colours stay, duplicates go to their lowest index.
    Owned img(16, 16);
    for (int i = 0; i < 256; ++i)
        img.image->pixels[i] = (uint8_t)i;
    EXPECT_EQ(image_remap_palette(img.image, p, p), 0);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(img.image->pixels[i], i == 200 ? 40 : (i == 10 ? 9 : i)) << i;

    // Onto an all-black palette: everything becomes 0.
    const Palette black{};
    EXPECT_EQ(image_remap_palette(img.image, p, black), 0);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(img.image->pixels[i], 0) << i;

    // Onto a palette in another order: each pixel lands on the entry of its own colour.
    Palette reversed{};
    for (int i = 0; i < 256; ++i)
        std::memcpy(reversed.rgb + 3 * (255 - i), p.rgb + 3 * i, 3);
    for (int i = 0; i < 256; ++i)
        img.image->pixels[i] = (uint8_t)i;
    image_remap_palette(img.image, p, reversed);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(0, std::memcmp(reversed.rgb + 3 * img.image->pixels[i], p.rgb + 3 * i, 3)) << i;

    Image empty{0, 5, nullptr};
    EXPECT_EQ(image_remap_palette(&empty, p, black), 0);
}

// Rows (or columns) brightened by one grid_draw over a flat image of value 0, counted by
// how often: each brightening of 0 gives 63, twice gives 111.
std::vector<int> times_brightened(Owned& img, bool rows)
{
    const int n = rows ? img.image->height : img.image->width;
    std::vector<int> times(n, 0);
    for (int i = 0; i < n; ++i) {
        // Sample a cell of the line that no crossing line touches, if there is one.
        const int other = rows ? img.image->width : img.image->height;
        int least = 255;
        for (int j = 0; j < other; ++j)
            least = std::min<int>(least, rows ? img.at(j, i) : img.at(i, j));
        times[i] = least == 0 ? 0 : (least == 63 ? 1 : (least == 111 ? 2 : -1));
    }
    return times;
}

// The lines a draw at this state should give, counted per row (or column).
std::vector<int> expected_lines(int n, int32_t offset, float scale, bool rows)
{
    std::vector<int> times(n, 0);
    const int steps = rows ? kGridRows : kGridColumns;
    const int32_t centre = offset + (rows ? 120 : 160);
    auto mark = [&](int32_t at) {
        if (at >= 0 && at < n)
            ++times[at];
    };
    for (int j = 0; j < steps; ++j) {
        const int32_t d = rows ? grid_row_distance(j) : grid_column_distance(j);
        const int32_t k = (int32_t)(scale * (float)d);
        mark(centre - k);
        if (j < steps - 1)
            mark(centre + k);
    }
    return times;
}

// A seed whose first two random_below(9) give 4 and 4: a draw that leaves the offsets.
void seed_for_still_offsets()
{
    for (unsigned seed = 1;; ++seed) {
        random_seed_set(seed);
        if (random_below(9) == 4 && random_below(9) == 4) {
            random_seed_set(seed);
            return;
        }
    }
}

TEST(Grid, TablesAndLinesAtScaleOne)
{
    grid_tables_init();
    const int32_t rows[] = {0, 10, 21, 32, 43, 54, 65, 76, 87, 98, 109, 120};
    const int32_t columns[] = {0, 10, 21, 32, 42, 53, 64, 74, 85, 96, 106, 117, 128, 138, 149, 160};
    for (int i = 0; i < kGridRows; ++i)
        EXPECT_EQ(grid_row_distance(i), rows[i]);
    for (int i = 0; i < kGridColumns; ++i)
        EXPECT_EQ(grid_column_distance(i), columns[i]);

    const GridState start = grid_state();
    EXPECT_EQ(start.offset_x, 0);
    EXPECT_EQ(start.offset_y, 0);
    EXPECT_EQ(start.scale_x, 1.0f);
    EXPECT_EQ(start.scale_y, 1.0f);
    EXPECT_EQ(start.speed_x, 0.01357f);
    EXPECT_EQ(start.speed_y, 0.0248f);

    // Scales held at 1.0 and offsets at 0: rows 120 +- the table and row 0, the centre
    // row twice; columns likewise with column 0.
    grid_state_set({0, 0, 1.0f, 1.0f, 0.0f, 0.0f});
    seed_for_still_offsets();
    Owned img(320, 240);
    grid_draw(img.image);
    EXPECT_EQ(grid_state().offset_x, 0);
    EXPECT_EQ(grid_state().offset_y, 0);
    std::vector<int> want_rows(240, 0), want_columns(320, 0);
    for (int i = 0; i < 11; ++i) {
        ++want_rows[120 - rows[i]];
        ++want_rows[120 + rows[i]];
    }
    ++want_rows[0];
    for (int i = 0; i < 15; ++i) {
        ++want_columns[160 - columns[i]];
        ++want_columns[160 + columns[i]];
    }
    ++want_columns[0];
    EXPECT_EQ(want_rows[120], 2);
    EXPECT_EQ(times_brightened(img, true), want_rows);
    EXPECT_EQ(times_brightened(img, false), want_columns);
    // Where a row and a column cross, both brighten: 0 -> 63 -> 111, and the centre
    // (twice as a row, twice as a column) four times.
    EXPECT_EQ(img.at(10, 10), 0);
    EXPECT_EQ(img.at(170, 130), 111);
    int v = 0;
    for (int i = 0; i < 4; ++i)
        v = (3 * v + 255) >> 2;
    EXPECT_EQ(img.at(160, 120), v);

    // 255 stays 255.
    image_fill(img.image, 255);
    grid_draw(img.image);
    for (int i = 0; i < 320 * 240; ++i)
        ASSERT_EQ(img.image->pixels[i], 255);
}

TEST(Grid, BounceClampAndMotionOverManyCalls)
{
    grid_tables_init();
    // Just above 5.0 the speed flips once; the next call moves the scale back below 5.0.
    grid_state_set({0, 0, 4.99f, 1.5f, 0.02f, -0.0248f});
    Owned img(320, 240);
    grid_draw(img.image);
    GridState s = grid_state();
    EXPECT_GT(s.scale_x, 5.0f);
    EXPECT_EQ(s.speed_x, -0.02f);
    grid_draw(img.image);
    s = grid_state();
    EXPECT_LT(s.scale_x, 5.0f);
    EXPECT_EQ(s.speed_x, -0.02f);
    EXPECT_EQ(s.speed_y, -0.0248f);

    // Below 1.0 likewise.
    grid_state_set({0, 0, 1.01f, 1.01f, -0.02f, -0.0248f});
    grid_draw(img.image);
    s = grid_state();
    EXPECT_LT(s.scale_x, 1.0f);
    EXPECT_EQ(s.speed_x, 0.02f);
    EXPECT_EQ(s.speed_y, 0.0248f);

    // Offsets stay in -20..20: from -19, a step of -4 leaves -20 (not -23).
    for (unsigned seed = 1; seed < 200; ++seed) {
        random_seed_set(seed);
        const int32_t step_y = random_below(9) - 4, step_x = random_below(9) - 4;
        grid_state_set({19, -19, 1.0f, 1.0f, 0.0f, 0.0f});
        random_seed_set(seed);
        grid_draw(img.image);
        s = grid_state();
        EXPECT_EQ(s.offset_y, std::max(-20, -19 + step_y)) << seed;
        EXPECT_EQ(s.offset_x, std::min(20, 19 + step_x)) << seed;
    }

    // A long run from the start state: the scales stay near 1..5, the offsets in
    // -20..20, and each frame's lines are those of the state it left.
    grid_state_set({0, 0, 1.0f, 1.0f, 0.01357f, 0.0248f});
    random_seed_set(99);
    for (int call = 0; call < 1000; ++call) {
        image_fill(img.image, 0);
        grid_draw(img.image);
        s = grid_state();
        ASSERT_GE(s.offset_x, -20);
        ASSERT_LE(s.offset_x, 20);
        ASSERT_GE(s.offset_y, -20);
        ASSERT_LE(s.offset_y, 20);
        ASSERT_GT(s.scale_x, 1.0f - 0.03f);
        ASSERT_LT(s.scale_x, 5.0f + 0.03f);
        ASSERT_GT(s.scale_y, 1.0f - 0.03f);
        ASSERT_LT(s.scale_y, 5.0f + 0.03f);
        if (call % 97 == 0) {
            ASSERT_EQ(times_brightened(img, true), expected_lines(240, s.offset_y, s.scale_y, true)) << call;
            ASSERT_EQ(times_brightened(img, false), expected_lines(320, s.offset_x, s.scale_x, false)) << call;
        }
    }
}

TEST(Grid, ImageSmallerThanTheScreen)
{
    grid_tables_init();
    grid_state_set({0, 0, 1.0f, 1.0f, 0.0f, 0.0f});
    seed_for_still_offsets();
    Owned img(100, 50);
    grid_draw(img.image);
    // Rows 120 - 76 = 44, 120 - 87 = 33, ..., and row 0; columns 160 - 64 = 96 and below.
    EXPECT_EQ(times_brightened(img, true), expected_lines(50, 0, 1.0f, true));
    EXPECT_EQ(times_brightened(img, false), expected_lines(100, 0, 1.0f, false));
    const std::vector<int> rows = times_brightened(img, true);
    EXPECT_EQ(rows[44], 1);
    EXPECT_EQ(rows[0], 1);
    EXPECT_EQ(rows[45], 0);
    const std::vector<int> columns = times_brightened(img, false);
    EXPECT_EQ(columns[96], 1);
    EXPECT_EQ(columns[0], 1);
}

// An image inside a larger buffer, with guard bytes before and after its pixels.
struct Guarded {
    static constexpr size_t kGuard = 4096;
    std::vector<uint8_t> buffer;
    Image image;
    Guarded(int w, int h) : buffer(kGuard * 2 + (size_t)w * h, 0xAA), image{w, h, nullptr}
    {
        image.pixels = buffer.data() + kGuard;
        std::memset(image.pixels, 0, (size_t)w * h);
    }
    bool guards_intact() const
    {
        for (size_t i = 0; i < kGuard; ++i)
            if (buffer[i] != 0xAA || buffer[buffer.size() - 1 - i] != 0xAA)
                return false;
        return true;
    }
    std::set<std::pair<int, int>> drawn() const
    {
        std::set<std::pair<int, int>> s;
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x)
                if (image.pixels[y * image.width + x] != 0)
                    s.insert({x, y});
        return s;
    }
};

TEST(Line, StraightLinesClampAndLeaveTheEndOut)
{
    Guarded g(320, 240);
    // The intro's scratches: (x, y) to (x, 240) covers rows y..238.
    image_line(&g.image, 5, 100, 5, 240, 7);
    image_line(&g.image, 9, 239, 9, 240, 7);
    image_line(&g.image, 300, -50, 300, 1000, 7);
    image_line(&g.image, -30, 10, 400, 10, 7);
    image_line(&g.image, 500, 20, -1, 20, 7);
    image_line(&g.image, 12, 12, 12, 12, 7);
    std::set<std::pair<int, int>> want;
    for (int y = 100; y <= 238; ++y)
        want.insert({5, y});
    want.insert({9, 239});
    for (int y = 0; y < 239; ++y)
        want.insert({300, y});
    for (int x = 0; x < 319; ++x)
        want.insert({x, 10});
    for (int x = 319; x > 0; --x)
        want.insert({x, 20});
    want.insert({12, 12});
    EXPECT_EQ(g.drawn(), want);

    // Wholly outside: nothing.
    Guarded h(50, 40);
    image_line(&h.image, -5, -3, -1, 30, 9);
    image_line(&h.image, 50, 0, 70, 39, 9);
    image_line(&h.image, 0, 40, 49, 41, 9);
    image_line(&h.image, 3, -8, 40, -1, 9);
    image_line(&h.image, -10, 5, 5, -10, 9);
    image_line(&h.image, 100, 100, 100, 100, 9);
    EXPECT_TRUE(h.drawn().empty());
    EXPECT_TRUE(g.guards_intact() && h.guards_intact());
}

// Distance of a pixel centre from the infinite line through two points.
double distance_to_line(int px, int py, double x1, double y1, double x2, double y2)
{
    const double dx = x2 - x1, dy = y2 - y1;
    if (dx == 0 && dy == 0)
        return std::hypot(px - x1, py - y1);
    return std::abs(dy * (px - x1) - dx * (py - y1)) / std::hypot(dx, dy);
}

TEST(Line, SlopedLinesInsideAndAcrossTheEdges)
{
    // (0,0) to (4,2) and back: the same pixels between the ends, each walk leaving its
    // own end out.
    Guarded g(10, 10);
    image_line(&g.image, 0, 0, 4, 2, 1);
    EXPECT_EQ(g.drawn(), (std::set<std::pair<int, int>>{{0, 0}, {1, 1}, {2, 1}, {3, 2}}));
    Guarded r(10, 10);
    image_line(&r.image, 4, 2, 0, 0, 1);
    EXPECT_EQ(r.drawn(), (std::set<std::pair<int, int>>{{4, 2}, {3, 2}, {2, 1}, {1, 1}}));

    std::mt19937 rng(4242);
    for (int t = 0; t < 3000; ++t) {
        const int w = 1 + (int)(rng() % 90), h = 1 + (int)(rng() % 70);
        Guarded img(w, h);
        const bool inside = t % 3 == 0;
        auto coord = [&](int n) { return inside ? (int)(rng() % n) : (int)(rng() % (5 * n + 40)) - 2 * n - 20; };
        const int x1 = coord(w), y1 = coord(h), x2 = coord(w), y2 = coord(h);
        image_line(&img.image, x1, y1, x2, y2, 3);
        ASSERT_TRUE(img.guards_intact()) << x1 << "," << y1 << " " << x2 << "," << y2;
        // Each cut floors one coordinate and the walk rounds by half a pixel, so a drawn
        // pixel lies within 2.5 of the true line; a write wrapped into another row would not.
        const auto px = img.drawn();
        for (auto [x, y] : px)
            ASSERT_LE(distance_to_line(x, y, x1, y1, x2, y2), 2.5)
                << x << "," << y << " on " << x1 << "," << y1 << " " << x2 << "," << y2 << " in " << w << "x" << h;
        if (inside && x1 != x2 && y1 != y2) {
            // Inside the image nothing is cut: one pixel per step of the longer axis.
            ASSERT_EQ(px.size(), (size_t)std::max(std::abs(x2 - x1), std::abs(y2 - y1)));
            ASSERT_TRUE(px.count({x1, y1}));
        }
    }

    // A line across the whole image draws its visible part, corner to corner.
    Guarded big(100, 100);
    image_line(&big.image, -50, -50, 150, 150, 5);
    std::set<std::pair<int, int>> diagonal;
    for (int i = 0; i < 99; ++i)
        diagonal.insert({i, i});
    EXPECT_EQ(big.drawn(), diagonal);
}

TEST(Line, ExtremeCoordinatesStayInsideAndEnd)
{
    Guarded g(64, 48);
    const int far = 2000000000;
    const int ends[][4] = {
        {-far, -1, far, 0},           {-far, -far, far, far}, {far, -far, -far, far},
        {-far, 10, far, 11},          {3, -far, 4, far},      {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX},
        {INT32_MAX, 5, INT32_MIN, 6}, {0, 0, far, 1}};
    for (auto& e : ends) {
        image_line(&g.image, e[0], e[1], e[2], e[3], 8);
        ASSERT_TRUE(g.guards_intact()) << e[0] << "," << e[1] << " " << e[2] << "," << e[3];
    }
    // The diagonal through the middle is drawn where it crosses the image.
    EXPECT_GT(g.drawn().size(), 40u);
}

TEST(FillRect, ClampedSwappedAndOutside)
{
    Guarded g(20, 10);
    image_fill_rect(&g.image, 15, 8, 30, 12, 4);  // runs past the right and bottom
    image_fill_rect(&g.image, 3, 4, -5, -2, 6);   // corners out of order, negative
    image_fill_rect(&g.image, 25, 0, 30, 10, 9);  // wholly to the right: nothing
    image_fill_rect(&g.image, -9, -9, -1, -1, 9); // wholly above-left: nothing
    image_fill_rect(&g.image, 5, 5, 5, 9, 9);     // no width: nothing
    EXPECT_TRUE(g.guards_intact());
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x) {
            const int want = (x >= 15 && y >= 8) ? 4 : ((x < 3 && y < 4) ? 6 : 0);
            EXPECT_EQ(g.image.pixels[y * 20 + x], want) << x << "," << y;
        }
    // The fire's left bar.
    Owned screen(320, 240);
    image_fill_rect(screen.image, 0, 0, 60, 240, 120);
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x)
            ASSERT_EQ(screen.at(x, y), x < 60 ? 120 : 0);
}

} // namespace
