// Part two, the intro; empty until the part is built.
#include "parts/intro.h"

void intro_load() {}
void intro_run(Image*) {}
void intro_free() {}
void intro_warp_field(int) {}
