// The tests' display back-end: no screen, just a record of the last frame and palette.
#include "display/null/display_null.h"

#include <cstring>

#include "display/display.h"

NullDisplay null_display;

void display_open(int, char**, const char*, int, int)
{
    null_display = NullDisplay{};
    null_display.open = true;
}

void display_set_palette(const Palette& palette)
{
    null_display.palette = palette;
    ++null_display.palettes;
}

void display_present(const Image& image)
{
    null_display.frame.assign(image.pixels, image.pixels + (size_t)image.width * (size_t)image.height);
    ++null_display.presents;
}

void display_wait_retrace() {}

void display_close()
{
    null_display.open = false;
}
