// Part three: thirty blobs raising and lowering a field that reveals two pictures.
#pragma once

#include <cstdint>

#include "core/image.h"

void blobs_load();
void blobs_run(Image* screen, const char* picture1_path, const char* picture2_path, uint32_t duration);
void blobs_free();
void blobs_precalc();
void blobs_draw(uint8_t* pixels, int speed);
