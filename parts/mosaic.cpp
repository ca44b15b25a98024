// Part five, the mosaic; empty until the part is built.
#include "parts/mosaic.h"

void mosaic_run(Image*) {}
