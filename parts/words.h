// Part seven: the rippling picture scroll with words.
#pragma once

#include <cstdint>

#include "core/image.h"

void words_load();
void words_run(Image* screen, float red, float green, float blue, uint32_t duration);
void words_free();
void words_pattern(int phase);
