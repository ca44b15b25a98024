// Part six: pictures sliding in from the four sides.
#pragma once

#include "core/image.h"

void slides_run(Image* screen);
