// Part eight, the fire; empty until the part is built.
#include "parts/fire.h"

void fire_load() {}
void fire_run(Image*, int, int, int, int, int) {}
void fire_free() {}
void fire_precalc(uint8_t*, uint8_t*, int, int, int, int) {}
void fire_palette() {}
