// The ninth part of the show: the whiteout of the fire's last frame and the fading closing picture.
#pragma once

#include <cstdint>

#include "core/image.h"

// Fades the work palette (the fire's) up to white over 1.3 seconds, 70 ms a frame,
// presenting screen unchanged. Runs right after fire_run, without a blank screen.
void whiteout_run(Image* screen);

// Loads the picture at path (it must be the screen's size; ends the program otherwise),
// shows it with its own palette and fades it toward black over the last 2 seconds of
// end tenths of a second, 83 ms a frame. The picture lives only during this call; the
// screen keeps it afterwards.
void closing_run(Image* screen, uint32_t end_time, const char* path);

// One whiteout step on all 768 bytes: 223 or less gains 16, 224 or more becomes 255.
void whiteout_step(Palette* palette);

// One fade step: each byte of fade falls by a sixteenth (>> 4) of the same byte of own,
// to 0 when it is not greater than that.
void closing_fade_step(Palette* fade, const Palette& own);
