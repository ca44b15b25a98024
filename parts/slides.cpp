// Part six, the sliding pictures; empty until the part is built.
#include "parts/slides.h"

void slides_run(Image*) {}
