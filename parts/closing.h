// Part nine: the whiteout of the fire's last frame and the fading closing picture.
#pragma once

#include <cstdint>

#include "core/image.h"

void whiteout_run(Image* screen);
void closing_run(Image* screen, uint32_t end_time, const char* path);
