// The tests' display back-end: no screen, just a record of the frames and palettes.
#include "display/null/display_null.h"

#include "core/clock.h"
#include "display/display.h"
#include "display/frame_index.h"
#include "display/viewer/viewer.h"

NullDisplay null_display;

void null_display_reset()
{
    null_display = NullDisplay{};
}

void display_open(int, char**, const char*, int, int)
{
    void (*after_present)(size_t) = null_display.after_present;
    void (*while_held)(size_t) = null_display.while_held;
    null_display_reset();
    null_display.after_present = after_present;
    null_display.while_held = while_held;
    null_display.open = true;
}

void display_set_palette(const Palette& palette)
{
    null_display.palette = palette;
    ++null_display.palettes;
}

void display_present(const Image& image)
{
    const size_t size = (size_t)image.width * (size_t)image.height;
    null_display.frame.assign(image.pixels, image.pixels + size);
    null_display.frames.push_back({clock_now(), frame_crc(image.pixels, size),
                                   frame_crc(null_display.palette.rgb, sizeof null_display.palette.rgb)});
    if (null_display.keep_pixels)
        null_display.pixels.push_back(null_display.frame);
    if (null_display.after_present != nullptr)
        null_display.after_present(null_display.frames.size());
    if (null_display.while_held != nullptr && viewer_frame_seen() && viewer_hold_here())
        while (viewer_held())
            null_display.while_held(null_display.frames.size());
}

void display_wait_retrace() {}

void display_close()
{
    null_display.open = false;
}
