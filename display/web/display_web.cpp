// The browser back-end: the screen image drawn on the page's canvas, each pixel looked up
// in the palette as an RGBA word; the viewer's keys and the page's bar pause, step, seek
// and end the show, and the page hears of the show time and part of every frame it gets.
// With --index it writes the frame index instead, as the headless renderer does, and hands
// it to the page when the display closes.
#include <emscripten.h>

#include <algorithm>
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
#include "display/viewer/viewer.h"

namespace {

// RGBA words as the canvas keeps them in memory: red in the lowest byte, opaque.
constexpr PixelFormat kCanvasRgba = {{0, 8}, {8, 8}, {16, 8}, 0xFF000000u};
uint32_t colours[256];
Palette current_palette;
std::vector<uint32_t> rgba;

bool writing_index;
bool gentle; // the gentle picture (display/gentle), from the page's switch

std::string index_text;
FrameNumbering numbering;

// What web_next_control found waiting.
constexpr int kControlKey = 1;
constexpr int kControlTime = 2;
// How often a held show gives the page its turn and looks at the viewer's controls.
constexpr int kHoldTurnMs = 15;
// The longest key name the page hands over (KeyboardEvent.key: "PageDown"), with its zero.
constexpr int kKeyNameSize = 16;

} // namespace

// The page's side (Module.tarqle, web/page.js). The pixels are read during the call only.
EM_JS(void, web_canvas_open, (int width, int height, const char* title),
      { Module.tarqle.canvasOpen(width, height, UTF8ToString(title)); });
EM_JS(void, web_canvas_show, (const uint32_t* pixels, int width, int height),
      { Module.tarqle.canvasShow(HEAPU8.subarray(pixels, pixels + 4 * width * height), width, height); });
EM_JS(void, web_index_done, (const char* text, int length), { Module.tarqle.indexDone(UTF8ToString(text, length)); });
// Whether the viewer has asked to end the show (Esc).
EM_JS(int, web_end_wanted, (), { return Module.tarqle.endWanted() ? 1 : 0; });
// The page's bar: one call per chapter, then the show's length.
EM_JS(void, web_chapter, (const char* title, int32_t start_ms),
      { Module.tarqle.chapter(UTF8ToString(title), start_ms); });
EM_JS(void, web_show_length, (int32_t ms), { Module.tarqle.showLength(ms); });
// The viewer's next control from the page's queue: kControlKey with its key's name
// (KeyboardEvent.key) in key, kControlTime with a show time in *ms (a click on the bar), 0
// when none waits.
EM_JS(int, web_next_control, (char* key, int size, int32_t* ms), {
    const control = Module.tarqle.nextControl();
    if (!control)
        return 0;
    if ('key' in control) {
        stringToUTF8(control.key, key, size);
        return 1;
    }
    HEAP32[ms >> 2] = control.ms;
    return 2;
});
// Where the show stands, after each frame shown and at each turn while held; controlled:
// a control was taken just now, so the page shows its overlay.
EM_JS(void, web_show_state, (int32_t ms, int chapter, int is_held, int controlled),
      { Module.tarqle.showState(ms, chapter, !!is_held, !!controlled); });
// Around a held show's turn: the page takes the unwinding it goes through for no end.
EM_JS(void, web_asleep, (int flag), { Module.tarqle.asleep(!!flag); });
// Whether the page is closing: a held show then ends at once.
EM_JS(int, web_closing, (), { return Module.tarqle.ending() ? 1 : 0; });

namespace {

// The viewer's control for a key's name (KeyboardEvent.key), as tarqle-sdl's keys; false
// for any other key.
bool key_control(const char* key, ViewerControl* control)
{
    struct Named {
        const char* key;
        ViewerControl control;
    };
    static const Named kKeys[] = {{" ", kViewerPause},
                                  {".", kViewerStep},
                                  {"ArrowLeft", kViewerBack},
                                  {"ArrowRight", kViewerOn},
                                  {"PageUp", kViewerPreviousPart},
                                  {"PageDown", kViewerNextPart},
                                  {"Home", kViewerHome}};
    for (const Named& named : kKeys)
        if (std::strcmp(key, named.key) == 0) {
            *control = named.control;
            return true;
        }
    if (key[0] < '1' || key[0] > '9' || key[1] != '\0')
        return false;
    *control = (ViewerControl)(kViewerPart + (key[0] - '1'));
    return true;
}

// Everything the viewer did since the last frame: Esc ends the show as a closed window
// ends the desktop's (the running part ends after its frame and the usual shut-down
// follows, banner and all); the other controls pause, step and seek. Returns whether a
// control was taken.
bool take_controls()
{
    if (!viewer_ended() && web_end_wanted() != 0)
        viewer_end();
    bool taken = false;
    char key[kKeyNameSize];
    int32_t ms = 0;
    for (int kind; (kind = web_next_control(key, sizeof key, &ms)) != 0;) {
        ViewerControl control;
        if (kind == kControlTime && !viewer_ended()) {
            viewer_seek(ms);
            taken = true;
        } else if (kind == kControlKey && key_control(key, &control)) {
            taken = viewer_control(control) || taken;
        }
    }
    return taken;
}

// Tells the page the show time and part it stands at, for its bar and overlay.
void tell_state(bool controlled)
{
    const int32_t ms = viewer_show_time();
    web_show_state(ms, viewer_chapter_at(ms), viewer_held() ? 1 : 0, controlled ? 1 : 0);
}

// The page's turn while the show is held; a page that closes ends the show at once.
void hold_turn()
{
    web_asleep(1);
    emscripten_sleep(kHoldTurnMs);
    web_asleep(0);
    if (web_closing() != 0)
        fatal_exit(true, 0);
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
    numbering = {0, false};
    index_text.clear();
    std::memset(current_palette.rgb, 0, sizeof current_palette.rgb);
    display_set_palette(current_palette);
    rgba.assign((size_t)width * (size_t)height, colours[0]);
    web_canvas_open(width, height, title);
    int chapter_count = 0;
    int32_t show_length = 0;
    const ViewerChapter* chapters = viewer_chapter_list(&chapter_count, &show_length);
    for (int k = 0; k < chapter_count; ++k)
        web_chapter(chapters[k].title, chapters[k].start_ms);
    web_show_length(show_length);
}

void display_set_palette(const Palette& palette)
{
    current_palette = palette;
    palette_pixels(kCanvasRgba, palette, colours);
}

void display_present(const Image& image)
{
    if (writing_index) {
        int frame_number = 0;
        if (!frame_index_number(&numbering, !viewer_frame_seen(), &frame_number))
            return;
        char line[kFrameIndexLineSize];
        index_text.append(line, (size_t)frame_index_line(line, frame_number, clock_now(), image, current_palette));
        return;
    }
    // A frame run unseen (a replay) shows nothing; the page's controls wait for the frame
    // its replay stops on, except Esc, which ends the show at once.
    if (!viewer_frame_seen()) {
        if (!viewer_ended() && web_end_wanted() != 0)
            viewer_end();
        return;
    }
    const bool controlled = take_controls();
    // A seek asked just now: this frame of the ended round is not seen either.
    if (!viewer_frame_seen())
        return;
    viewer_hold_here();
    const size_t size = (size_t)image.width * (size_t)image.height;
    rgba.resize(size);
    if (gentle) {
        // 0x00RRGGBB from the limiter to the canvas's byte order, red first, opaque.
        // On the page's own clock (performance.now()): the show's follows the tune and the seeks.
        const uint32_t* shown = gentle_present(image, current_palette, (int32_t)(int64_t)emscripten_get_now());
        for (size_t i = 0; i < size; ++i)
            rgba[i] = (shown[i] >> 16 & 0xFFu) | (shown[i] & 0xFF00u) | (shown[i] & 0xFFu) << 16 | 0xFF000000u;
    } else {
        convert_frame(image, colours, {reinterpret_cast<uint8_t*>(rgba.data()), image.width * 4, 4, 1, nullptr});
    }
    web_canvas_show(rgba.data(), image.width, image.height);
    tell_state(controlled);
    // Held: the same picture until the viewer lets go.
    while (viewer_held()) {
        hold_turn();
        tell_state(take_controls());
    }
}

void display_wait_retrace()
{
    if (!writing_index && viewer_frame_seen())
        tell_state(take_controls());
}

void display_close()
{
    if (writing_index) {
        web_index_done(index_text.data(), (int)index_text.size());
        writing_index = false;
    }
}
