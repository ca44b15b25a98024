// The browser back-end: the screen image drawn on the page's canvas, each pixel looked up
// in the palette as an RGBA word; with --index it writes the frame index instead, as the
// headless renderer does, and hands it to the page when the display closes.
#include <emscripten.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/shared.h"
#include "display/convert/pixel_convert.h"
#include "display/display.h"
#include "display/frame_index.h"
#include "display/gentle/gentle.h"

namespace {

// RGBA words as the canvas keeps them in memory: red in the lowest byte, opaque.
constexpr PixelFormat kCanvasRgba = {{0, 8}, {8, 8}, {16, 8}, 0xFF000000u};
uint32_t colours[256];
Palette current_palette;
std::vector<uint32_t> rgba;

bool writing_index;
bool gentle; // the gentle picture (display/gentle), from the page's switch

std::string index_text;
int frame_number;

} // namespace

// The page's side (Module.tarqle, web/page.js). The pixels are read during the call only.
EM_JS(void, web_canvas_open, (int width, int height, const char* title),
      { Module.tarqle.canvasOpen(width, height, UTF8ToString(title)); });
EM_JS(void, web_canvas_show, (const uint32_t* pixels, int width, int height),
      { Module.tarqle.canvasShow(HEAPU8.subarray(pixels, pixels + 4 * width * height), width, height); });
EM_JS(void, web_index_done, (const char* text, int length), { Module.tarqle.indexDone(UTF8ToString(text, length)); });
// Whether the viewer has asked to end the show (Esc).
EM_JS(int, web_end_wanted, (), { return Module.tarqle.endWanted() ? 1 : 0; });

namespace {

// The viewer's Esc ends the show as a closed window ends the desktop's: the running part
// ends after its frame and the usual shut-down follows, banner and all.
void take_end_wish()
{
    if (!writing_index && !clock_show_ended() && web_end_wanted() != 0)
        clock_end_show();
}

} // namespace

// How many device pixels a show pixel takes on the page in an output of width x height
// device pixels. The page sizes its canvas before the program loads, so it keeps a copy
// of this rule (layout in web/page.js); the browser checks call this to hold the copy to
// whole_placement itself.
extern "C" EMSCRIPTEN_KEEPALIVE int tarqle_whole_scale(int width, int height)
{
    return whole_placement(width, height, kScreenWidth, kScreenHeight).scale;
}

void display_open(int argc, char** argv, const char* title, int width, int height)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--gentle") == 0) {
            gentle = true;
            gentle_reset();
        } else if (std::strcmp(argv[i], "--index") == 0) {
            writing_index = true;
        } else {
            std::fprintf(stderr, "tarqle-web: %s: unknown option (the page passes only --index or --gentle)\n",
                         argv[i]);
            std::exit(1);
        }
    }
    frame_number = 0;
    index_text.clear();
    std::memset(current_palette.rgb, 0, sizeof current_palette.rgb);
    display_set_palette(current_palette);
    rgba.assign((size_t)width * (size_t)height, colours[0]);
    web_canvas_open(width, height, title);
}

void display_set_palette(const Palette& palette)
{
    current_palette = palette;
    palette_pixels(kCanvasRgba, palette, colours);
}

void display_present(const Image& image)
{
    if (writing_index) {
        char line[kFrameIndexLineSize];
        index_text.append(line, (size_t)frame_index_line(line, frame_number, clock_now(), image, current_palette));
        ++frame_number;
        return;
    }
    take_end_wish();
    const size_t size = (size_t)image.width * (size_t)image.height;
    rgba.resize(size);
    if (gentle) {
        // 0x00RRGGBB from the limiter to the canvas's byte order, red first, opaque.
        const uint32_t* shown = gentle_present(image, current_palette, clock_now());
        for (size_t i = 0; i < size; ++i)
            rgba[i] = (shown[i] >> 16 & 0xFFu) | (shown[i] & 0xFF00u) | (shown[i] & 0xFFu) << 16 | 0xFF000000u;
    } else {
        convert_frame(image, colours, {reinterpret_cast<uint8_t*>(rgba.data()), image.width * 4, 4, 1, nullptr});
    }
    web_canvas_show(rgba.data(), image.width, image.height);
}

void display_wait_retrace()
{
    take_end_wish();
}

void display_close()
{
    if (writing_index) {
        web_index_done(index_text.data(), (int)index_text.size());
        writing_index = false;
    }
}
