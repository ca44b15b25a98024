// Part two: the intro, a picture warped by moving rings, lettering scenes, film damage.
#pragma once

#include "core/image.h"

void intro_load();
void intro_run(Image* screen);
void intro_free();
void intro_warp_field(int frame_count);
