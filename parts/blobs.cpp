// Part three, the blobs; empty until the part is built.
#include "parts/blobs.h"

void blobs_load() {}
void blobs_run(Image*, const char*, const char*, uint32_t) {}
void blobs_free() {}
void blobs_precalc() {}
void blobs_draw(uint8_t*, int) {}
