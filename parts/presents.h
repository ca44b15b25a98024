// Part one: the presents screen, streaked and blurred in greys and reds.
#pragma once

#include "core/image.h"

void presents_load();
void presents_run(Image* screen);
void presents_free();
