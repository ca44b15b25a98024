// What the picture maker promises the parts: every file's path and size, and where things lie on its sheets.
// The sheets hold the intro's lettering pieces, the scroll's words and the fire figure's frames.
#pragma once

#include <cstdint>

// A rectangle of a sheet, right and bottom excluded.
struct SheetRect {
    int32_t x0, y0, x1, y1;
};

// The ten pieces of the intro lettering, on colour 0.
inline constexpr SheetRect kIntroPieces[10] = {
    {7, 8, 134, 47},  {7, 144, 163, 190},   {181, 5, 281, 54}, {170, 144, 304, 192}, {217, 56, 283, 108},
    {6, 47, 167, 90}, {132, 194, 319, 243}, {7, 94, 192, 142}, {7, 144, 163, 190},   {8, 199, 132, 234},
};

// The 24 words of the rippling scroll, on colour 0.
inline constexpr SheetRect kWordRects[24] = {
    {2, 2, 211, 47},      {209, 12, 317, 50},   {2, 49, 242, 108},    {7, 106, 257, 155},   {6, 158, 211, 205},
    {226, 159, 314, 203}, {8, 204, 156, 250},   {172, 203, 278, 262}, {5, 257, 204, 311},   {218, 257, 307, 313},
    {8, 312, 193, 361},   {200, 315, 311, 366}, {8, 362, 186, 409},   {190, 370, 315, 419}, {3, 413, 159, 458},
    {4, 458, 262, 503},   {6, 507, 215, 545},   {5, 547, 119, 604},   {129, 544, 278, 599}, {6, 605, 187, 644},
    {5, 646, 274, 691},   {3, 693, 145, 740},   {150, 692, 317, 744}, {6, 742, 217, 799},
};

// The five frames of the fire part's figure, on colour 255.
inline constexpr SheetRect kFigureFrames[5] = {
    {3, 100, 47, 253}, {47, 114, 89, 249}, {91, 100, 139, 253}, {140, 132, 183, 249}, {183, 121, 221, 250},
};

// Every picture file: its path below the data folder, its size, and whether the part that
// reads it needs exactly that size (otherwise at least it, or for the skull at most).
enum class SizeRule { kExact, kAtLeast, kAtMost };
struct PictureFile {
    const char* path;
    int32_t width, height;
    SizeRule rule;
};

inline constexpr PictureFile kPictureFiles[] = {
    {"grafika/prese/presents.pcx", 320, 240, SizeRule::kExact},
    {"grafika/intro/taze.pcx", 320, 240, SizeRule::kExact},
    {"grafika/intro/inttxt.pcx", 319, 243, SizeRule::kAtLeast},
    {"grafika/blobs/blobs1.pcx", 320, 240, SizeRule::kExact},
    {"grafika/blobs/blobs2.pcx", 320, 240, SizeRule::kExact},
    {"grafika/aaa/b1.pcx", 320, 240, SizeRule::kExact},
    {"grafika/aaa/b2.pcx", 320, 240, SizeRule::kExact},
    {"grafika/aaa/b3.pcx", 320, 240, SizeRule::kExact},
    {"grafika/aaa/b4.pcx", 320, 240, SizeRule::kExact},
    {"grafika/aaa/c1.pcx", 320, 240, SizeRule::kExact},
    {"grafika/aaa/c2.pcx", 320, 240, SizeRule::kExact},
    {"grafika/aaa/c3.pcx", 320, 240, SizeRule::kExact},
    {"grafika/aaa/d1.pcx", 320, 240, SizeRule::kExact},
    {"grafika/aaa/d2.pcx", 320, 240, SizeRule::kExact},
    {"grafika/aaa/d3.pcx", 320, 240, SizeRule::kExact},
    {"grafika/aaa/d4.pcx", 320, 240, SizeRule::kExact},
    {"grafika/aaa/d5.pcx", 320, 240, SizeRule::kExact},
    {"grafika/aaa/d6.pcx", 320, 240, SizeRule::kExact},
    {"grafika/aaa/e1.pcx", 320, 240, SizeRule::kExact},
    {"grafika/aaa/e2.pcx", 320, 240, SizeRule::kExact},
    {"grafika/aaa/e3.pcx", 320, 240, SizeRule::kExact},
    {"grafika/aaa/e4.pcx", 320, 240, SizeRule::kExact},
    {"grafika/words.pcx", 317, 799, SizeRule::kAtLeast},
    {"grafika/fire/skull.pcx", 320, 240, SizeRule::kAtMost},
    {"grafika/fire/fire.pcx", 221, 253, SizeRule::kAtLeast},
    {"grafika/dornvask.pcx", 320, 240, SizeRule::kExact},
};
