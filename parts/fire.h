// Part eight: the radial fire with the skull, the bar figure and the thumbnail.
#pragma once

#include <cstdint>

#include "core/image.h"

void fire_load();
void fire_run(Image* screen, int end_time, int palette_scheme, int unused, int orientation, int map_shape);
void fire_free();
void fire_precalc(uint8_t* radius_map, uint8_t* angle_map, int width, int height, int orientation, int map_shape);
void fire_palette();
