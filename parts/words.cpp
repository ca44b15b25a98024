// Part seven, the rippling scroll with words; empty until the part is built.
#include "parts/words.h"

void words_load() {}
void words_run(Image*, float, float, float, uint32_t) {}
void words_free() {}
void words_pattern(int) {}
