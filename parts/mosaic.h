// Part five: the random picture mosaic, growing finer.
#pragma once

#include "core/image.h"

void mosaic_run(Image* screen);
