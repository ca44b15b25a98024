// Placeholders of the effect primitives, so the parts link while the primitives are built.
#include "fx/blit.h"
#include "fx/draw.h"
#include "fx/filters.h"
#include "fx/grid.h"
#include "fx/palette_match.h"

void filter_blur(uint8_t*, int, int, uint8_t) {}
void filter_streak(uint8_t*, int, int, uint8_t, uint8_t) {}
void filter_blur_reference(uint8_t*, int, int, uint8_t) {}
void filter_streak_reference(uint8_t*, int, int, uint8_t, uint8_t) {}
void image_blit(Image*, int, int, const Image*, int, int, int, int, uint8_t, uint8_t) {}
int palette_nearest(int, int, int, const Palette&) { return 0; }
int image_remap_palette(Image*, const Palette&, const Palette&) { return 0; }
void image_line(Image*, int, int, int, int, uint8_t) {}
void image_fill_rect(Image*, int, int, int, int, uint8_t) {}
void grid_tables_init() {}
void grid_draw(Image*) {}
