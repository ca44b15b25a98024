// Part four, the picture set and flicker; empty until the part is built.
#include "parts/pictures.h"

Image* picture_set[kPictureCount];
Palette picture_palette;
Image* slide_buffer;

void pictures_load() {}
void flicker_run(Image*) {}
void pictures_free() {}
