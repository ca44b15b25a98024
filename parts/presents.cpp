// Part one, the presents screen; empty until the part is built.
#include "parts/presents.h"

void presents_load() {}
void presents_run(Image*) {}
void presents_free() {}
