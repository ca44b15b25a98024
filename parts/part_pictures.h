// What the parts share when they load pictures and frame their thumbnails.
#pragma once

#include <cstdint>

#include "core/image.h"

// Loads the picture at path into *picture with its palette into palette (may be null).
// On failure prints "Cann't load image <path> !" and ends the program (fatal exit).
// Called from load and run steps; the caller owns the picture.
void load_or_exit(const char* path, Image** picture, Palette* palette);

// Refuses a picture of the wrong size: prints "Wrong image size!", frees *picture and
// ends the program (fatal exit). Never returns.
[[noreturn]] void refuse_size(Image** picture);

// Allocates a width x height image into *image or prints "Cann't allocate image!" and
// ends the program (fatal exit, with the music shut down only when with_music_shutdown).
void alloc_or_exit(Image** image, uint32_t width, uint32_t height, bool with_music_shutdown);

// Sets the one-pixel outer border of image (top and bottom rows, first and last columns)
// to value.
void frame_border(Image* image, uint8_t value);
