// Part two: the intro, a picture warped by moving rings, lettering scenes, film damage.
#pragma once

#include <cstdint>

#include "core/image.h"

// Load step, called by the entry point before the music starts: loads the intro picture
// (exactly 320 x 240) and the lettering picture (at least 319 x 243) with the intro
// palette, builds the grey table and allocates the field and warp images. Ends the
// program on a missing or wrongly sized picture or a failed allocation.
void intro_load();

// Second run step, on a blank screen: 19.2 seconds of 60 ms frames. The intro palette
// stays set on the display.
void intro_run(Image* screen);

// Releases the two pictures and the field and warp images; called once at shut-down.
void intro_free();

// Draws the ring field of frame frame_count at 106 x 80, enlarges it onto the warp
// image and smooths it there. Needs intro_load (or intro_use_pictures) first.
void intro_warp_field(int frame_count);

// The second half of intro_load, for pictures already in memory: takes ownership of
// both (sizes as intro_load demands, their colours in palette), builds the grey table
// and allocates the field and warp images.
void intro_use_pictures(Image* picture, Image* lettering, const Palette& palette);

// Warp strength for part time u since the scene began: how far the warp values are
// shifted down, 0 (strongest) to 4.
int intro_warp_shift(int u);

// Moves every pixel along storage order by (warp value - 192) >> shift places: warp[k]
// becomes screen[k + d], limited to the image in the first and the last row. Both
// images are 320 x 240; the warp image is read and overwritten, the screen only read.
void intro_warp(const Image* screen, Image* warp, int shift);

// Draws one frame without the film damage: picture, lettering of scene, field of
// frame_count, warp with shift, result back into screen (320 x 240).
void intro_draw(Image* screen, int scene, int frame_count, int shift);

// The film damage of one frame, drawing its random numbers in the show's order: now and
// then a streak, a negative, and vertical grey scratches down to the bottom row.
void intro_damage(Image* screen);
