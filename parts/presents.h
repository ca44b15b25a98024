// Part one: the presents screen, streaked and blurred in greys and reds.
#pragma once

#include "core/image.h"

// Load step, called by the entry point before the music starts: loads the presents
// picture (exactly 320 x 240) with its colours into the work palette and recolours it
// into the presents palette. Ends the program on a missing or wrongly sized picture.
void presents_load();

// First run step, on a blank screen: 11 seconds of 60 ms frames, then prints the frame
// count. The presents palette stays set on the display.
void presents_run(Image* screen);

// Releases the presents picture; called once at shut-down.
void presents_free();

// The second half of presents_load, for a picture already in memory: takes ownership
// of picture (320 x 240, its own colours in work_palette), builds the presents palette
// and recolours the picture into it.
void presents_use_picture(Image* picture);

// Draws frame number frame_count of the part into screen (320 x 240): the clean picture
// streaked by the frame's settings, then blurred. Needs a picture in use.
void presents_draw(Image* screen, int frame_count);
