// Part nine, the closing screens; empty until the part is built.
#include "parts/closing.h"

void whiteout_run(Image*) {}
void closing_run(Image*, uint32_t, const char*) {}
