// The SDL back-end: a resizable window or desktop fullscreen; each frame converted through
// the palette into a texture of the picture's own size, which the renderer enlarges, shown
// with vsync; the viewer's keys pause, step, seek and end the show, with a small overlay
// of the show time drawn over the enlarged picture.
#include <SDL.h>
#include <SDL_syswm.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "core/clock.h"
#include "core/shared.h"
#include "display/display.h"
#include "display/gentle/gentle.h"
#include "display/sdl/display_sdl.h"
#include "display/convert/pixel_convert.h"
#include "display/viewer/viewer.h"

namespace {

SdlOptions options = {false, 3, false, false};
bool video_started;
SDL_Window* window;
SDL_Renderer* renderer;
SDL_Texture* texture;
uint32_t pixels_of_palette[256];
Palette palette_shown; // the gentle picture converts through the palette itself
bool window_hidden;
bool vsync_on;
// Presents in a row that blocked past kPresentBudgetMs.
int slow_presents;
// Presents in a row at which the window's real size was not the size SDL lays out for.
int size_mismatches;
// Presents left at which to ask the server for the window's real size: a few after each
// size or fullscreen request or window event, since only those leave SDL with a size
// nobody granted; none while nothing changes, so a steady window costs no round trip.
int size_checks_left;

// A present waits for the next refresh, at most one refresh period on a working display.
// The show's shortest frame period is 45 ms; a present that keeps taking longer than this
// (a compositor that holds the window back, a very slow mode) would lengthen the show, so
// after kSlowPresentLimit such presents in a row vsync goes off for the rest of the run.
constexpr double kPresentBudgetMs = 25.0;
constexpr int kSlowPresentLimit = 3;

// A window manager answers a size or fullscreen request within a few frames; a size SDL
// believes for longer than this is one nobody will grant (a bare X server has nobody to
// grant fullscreen), and SDL is told the size the window really has.
constexpr int kUngrantedSizeLimit = 5;
constexpr int kSizeChecksAfterAChange = 4 * kUngrantedSizeLimit;

// SDL_GetTicks() until which the overlay shows, after a control; 0: no overlay.
Uint32 overlay_until;
constexpr Uint32 kOverlayMs = 2000;
// How often a held show looks at the viewer's keys and shows its picture again.
constexpr Uint32 kHoldPollMs = 15;
// How often a show running unseen looks at them; and when it last did.
constexpr Uint32 kUnseenEventsMs = 20;
Uint32 last_events;

// The overlay's font: 3 x 5 cells, row by row from the top, the high bit leftmost.
struct Glyph {
    char c;
    uint16_t rows;
};
constexpr Glyph kGlyphs[] = {
    {'0', 0b111'101'101'101'111}, {'1', 0b010'110'010'010'111}, {'2', 0b111'001'111'100'111},
    {'3', 0b111'001'111'001'111}, {'4', 0b101'101'111'001'001}, {'5', 0b111'100'111'001'111},
    {'6', 0b111'100'111'101'111}, {'7', 0b111'001'001'010'010}, {'8', 0b111'101'111'101'111},
    {'9', 0b111'101'111'001'111}, {':', 0b000'010'000'010'000}, {'.', 0b000'000'000'000'010},
    {'A', 0b010'101'111'101'101}, {'B', 0b110'101'110'101'110}, {'C', 0b011'100'100'100'011},
    {'D', 0b110'101'101'101'110}, {'E', 0b111'100'110'100'111}, {'F', 0b111'100'110'100'100},
    {'G', 0b011'100'101'101'011}, {'H', 0b101'101'111'101'101}, {'I', 0b111'010'010'010'111},
    {'J', 0b001'001'001'101'010}, {'K', 0b101'101'110'101'101}, {'L', 0b100'100'100'100'111},
    {'M', 0b101'111'111'101'101}, {'N', 0b110'101'101'101'101}, {'O', 0b010'101'101'101'010},
    {'P', 0b110'101'110'100'100}, {'Q', 0b010'101'101'110'011}, {'R', 0b110'101'110'101'101},
    {'S', 0b011'100'010'001'110}, {'T', 0b111'010'010'010'010}, {'U', 0b101'101'101'101'111},
    {'V', 0b101'101'101'101'010}, {'W', 0b101'101'111'111'101}, {'X', 0b101'101'010'101'101},
    {'Y', 0b101'101'010'010'010}, {'Z', 0b111'001'010'100'111},
};

// The show time, the part's name and a pause in small white letters on black, in the
// picture's top left corner: over the enlarged picture, never in the screen image.
void draw_overlay(const Placement& where)
{
    if (overlay_until == 0 || (int32_t)(SDL_GetTicks() - overlay_until) >= 0) {
        overlay_until = 0;
        return;
    }
    const int32_t ms = viewer_show_time();
    int chapter_count = 0;
    int32_t show_length = 0;
    const ViewerChapter* chapters = viewer_chapter_list(&chapter_count, &show_length);
    char text[64];
    std::snprintf(text, sizeof text, "%d:%02d.%d %s%s", ms / 60000, ms / 1000 % 60, ms / 100 % 10,
                  chapter_count > 0 ? chapters[viewer_chapter_at(ms)].title : "", viewer_held() ? " PAUSED" : "");
    const int unit = std::max(2, where.width / kScreenWidth);
    const int x0 = where.x + 2 * unit, y0 = where.y + 2 * unit;
    const SDL_Rect box = {x0, y0, ((int)std::strlen(text) * 4 + 1) * unit, 7 * unit};
    SDL_SetRenderDrawColor(renderer, 0, 0, 0, 255);
    SDL_RenderFillRect(renderer, &box);
    SDL_SetRenderDrawColor(renderer, 255, 255, 255, 255);
    for (int i = 0; text[i] != '\0'; ++i) {
        const char c = (char)std::toupper((unsigned char)text[i]);
        const auto glyph =
            std::find_if(std::begin(kGlyphs), std::end(kGlyphs), [c](const Glyph& g) { return g.c == c; });
        if (glyph == std::end(kGlyphs))
            continue;
        for (int cell = 0; cell < 15; ++cell)
            if ((glyph->rows >> (14 - cell) & 1) != 0) {
                const SDL_Rect dot = {x0 + (i * 4 + 1 + cell % 3) * unit, y0 + (1 + cell / 3) * unit, unit, unit};
                SDL_RenderFillRect(renderer, &dot);
            }
    }
}

// The viewer's control for a key, if it is one; the overlay shows after each taken.
void control(SDL_Keycode key)
{
    ViewerControl control;
    if (key == SDLK_SPACE)
        control = kViewerPause;
    else if (key == SDLK_PERIOD)
        control = kViewerStep;
    else if (key == SDLK_LEFT)
        control = kViewerBack;
    else if (key == SDLK_RIGHT)
        control = kViewerOn;
    else if (key == SDLK_PAGEUP)
        control = kViewerPreviousPart;
    else if (key == SDLK_PAGEDOWN)
        control = kViewerNextPart;
    else if (key == SDLK_HOME)
        control = kViewerHome;
    else if (key >= SDLK_1 && key <= SDLK_9)
        control = (ViewerControl)(kViewerPart + (key - SDLK_1));
    else
        return;
    if (viewer_control(control))
        overlay_until = std::max(SDL_GetTicks() + kOverlayMs, (Uint32)1);
}

// The gentle picture's pixels into the picture's texture, opaque.
void copy_gentle(const uint32_t* shown, uint8_t* out, int pitch)
{
    for (int32_t y = 0; y < kScreenHeight; ++y) {
        const uint32_t* from = shown + (size_t)y * kScreenWidth;
        uint32_t* to = reinterpret_cast<uint32_t*>(out + (size_t)y * (size_t)pitch);
        for (int32_t x = 0; x < kScreenWidth; ++x)
            to[x] = from[x] | 0xFF000000u;
    }
}

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "tarqle-sdl: %s: %s\n", what, SDL_GetError());
    fatal_exit(true, -1);
}

// The texture's pixels: ARGB8888, opaque.
constexpr PixelFormat kArgb = {{16, 8}, {8, 8}, {0, 8}, 0xFF000000u};

// The picture's place in the window: the renderer enlarges the texture into it, with
// nearest sampling at a whole-number scale, smoothly with --smooth.
Placement placement()
{
    int w = 0, h = 0;
    SDL_GetRendererOutputSize(renderer, &w, &h);
    if (options.smooth)
        return fitted_placement(w, h, kScreenWidth, kScreenHeight);
    return whole_placement(w, h, kScreenWidth, kScreenHeight);
}

// The size the window really has on an X server, asked of the server itself; false
// elsewhere, where SDL's own idea of the size is all there is.
bool real_window_size(int* width, int* height)
{
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11)
        return false;
    XWindowAttributes attributes;
    if (XGetWindowAttributes(info.info.x11.display, info.info.x11.window, &attributes) == 0)
        return false;
    *width = attributes.width;
    *height = attributes.height;
    return true;
}

// Keeps SDL's idea of the window's size the real one: a fullscreen that was not granted
// is given up, and SDL takes the size the window has.
void follow_real_size()
{
    int w = 0, h = 0, real_w = 0, real_h = 0;
    SDL_GetWindowSize(window, &w, &h);
    if (!real_window_size(&real_w, &real_h) || (real_w == w && real_h == h)) {
        size_mismatches = 0;
        return;
    }
    if (++size_mismatches < kUngrantedSizeLimit)
        return;
    size_mismatches = 0;
    if ((SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN) != 0)
        SDL_SetWindowFullscreen(window, 0);
    SDL_SetWindowSize(window, real_w, real_h);
}

void toggle_fullscreen()
{
    const bool full = (SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN_DESKTOP) != 0;
    SDL_SetWindowFullscreen(window, full ? 0 : SDL_WINDOW_FULLSCREEN_DESKTOP);
    size_checks_left = kSizeChecksAfterAChange;
}

// Everything the viewer did since the last frame.
void handle_events()
{
    last_events = SDL_GetTicks();
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        if (event.type == SDL_QUIT) {
            viewer_end();
        } else if (event.type == SDL_WINDOWEVENT) {
            const Uint8 what = event.window.event;
            size_checks_left = kSizeChecksAfterAChange;
            if (what == SDL_WINDOWEVENT_CLOSE) {
                viewer_end();
            } else if (what == SDL_WINDOWEVENT_HIDDEN || what == SDL_WINDOWEVENT_MINIMIZED) {
                window_hidden = true;
            } else if (what == SDL_WINDOWEVENT_SHOWN || what == SDL_WINDOWEVENT_RESTORED ||
                       what == SDL_WINDOWEVENT_EXPOSED) {
                window_hidden = false;
            }
        } else if (event.type == SDL_KEYDOWN && event.key.repeat == 0) {
            const SDL_Keycode key = event.key.keysym.sym;
            if (key == SDLK_ESCAPE || key == SDLK_q) {
                viewer_end();
            } else if (key == SDLK_F11 || (key == SDLK_RETURN && (event.key.keysym.mod & KMOD_ALT) != 0)) {
                toggle_fullscreen();
            } else {
                control(key);
            }
        }
    }
}

// The picture in the texture, enlarged into the window, the overlay over it; shown.
void show_picture()
{
    const Placement where = placement();
    SDL_SetRenderDrawColor(renderer, 0, 0, 0, 255);
    SDL_RenderClear(renderer);
    const SDL_Rect target = {where.x, where.y, where.width, where.height};
    SDL_RenderCopy(renderer, texture, nullptr, &target);
    draw_overlay(where);
    const Uint64 before = SDL_GetPerformanceCounter();
    SDL_RenderPresent(renderer);
    const double took_ms =
        (double)(SDL_GetPerformanceCounter() - before) * 1000.0 / (double)SDL_GetPerformanceFrequency();
    if (vsync_on) {
        slow_presents = took_ms > kPresentBudgetMs ? slow_presents + 1 : 0;
        if (slow_presents >= kSlowPresentLimit && SDL_RenderSetVSync(renderer, 0) == 0)
            vsync_on = false;
    }
}

} // namespace

void display_sdl_configure(const SdlOptions& given)
{
    options = given;
}

void display_open(int, char**, const char* title, int width, int height)
{
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
        fail("cannot start the video");
    video_started = true;
    // With no display SDL falls back to drivers that show nothing; a show nobody can see
    // is only wanted when asked for by name (SDL_VIDEODRIVER).
    const char* driver = SDL_GetCurrentVideoDriver();
    const char* asked = SDL_getenv("SDL_VIDEODRIVER");
    if (driver != nullptr && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0) &&
        (asked == nullptr || asked[0] == '\0')) {
        std::fprintf(stderr, "tarqle-sdl: no display to show the picture on (neither Wayland nor X11 answers)\n");
        fatal_exit(true, -1);
    }
    // Hidden until the renderer is made: a renderer of another kind than the window was made
    // for has SDL make the window anew, and a window shown twice under one title is one a
    // desktop (or a test) may take for the show's and close in vain.
    Uint32 flags = SDL_WINDOW_RESIZABLE | SDL_WINDOW_HIDDEN;
    if (options.fullscreen)
        flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
    window = SDL_CreateWindow(title, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width * options.scale,
                              height * options.scale, flags);
    if (window == nullptr)
        fail("cannot open the window");
    renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_PRESENTVSYNC);
    if (renderer == nullptr)
        fail("cannot draw into the window");
    SDL_RendererInfo info;
    vsync_on = SDL_GetRendererInfo(renderer, &info) == 0 && (info.flags & SDL_RENDERER_PRESENTVSYNC) != 0;
    SDL_ShowWindow(window);
    SDL_ShowCursor(SDL_DISABLE);
    // The picture's own size: the CPU converts 76 800 pixels a frame whatever the window's.
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, options.smooth ? "linear" : "nearest");
    texture = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, width, height);
    if (texture == nullptr)
        fail("cannot make the picture's texture");
    for (uint32_t& p : pixels_of_palette)
        p = kArgb.fixed;
    window_hidden = false;
    slow_presents = 0;
    size_mismatches = 0;
    size_checks_left = kSizeChecksAfterAChange;
    if (options.gentle)
        gentle_reset();
}

void display_set_palette(const Palette& palette)
{
    palette_pixels(kArgb, palette, pixels_of_palette);
    palette_shown = palette;
}

void display_present(const Image& image)
{
    if (renderer == nullptr)
        return;
    // A frame run unseen (a replay) shows nothing; the viewer's keys are looked at now and
    // then, so a close or a key is not kept waiting by a long replay.
    if (!viewer_frame_seen()) {
        if ((Uint32)(SDL_GetTicks() - last_events) >= kUnseenEventsMs)
            handle_events();
        return;
    }
    handle_events();
    // A seek asked just now: this frame of the ended round is not seen either.
    if (!viewer_frame_seen())
        return;
    viewer_hold_here();
    if (!window_hidden && size_checks_left > 0) {
        --size_checks_left;
        follow_real_size();
    }
    void* pixels = nullptr;
    int pitch = 0;
    if (!window_hidden && SDL_LockTexture(texture, nullptr, &pixels, &pitch) == 0) {
        if (options.gentle)
            copy_gentle(gentle_present(image, palette_shown, clock_source_now()), static_cast<uint8_t*>(pixels), pitch);
        else
            convert_frame(image, pixels_of_palette, {static_cast<uint8_t*>(pixels), pitch, 4, 1, nullptr});
        SDL_UnlockTexture(texture);
        show_picture();
    }
    // Held: the same picture (the overlay comes and goes) until the viewer lets go.
    while (viewer_held()) {
        SDL_Delay(kHoldPollMs);
        handle_events();
        if (!window_hidden)
            show_picture();
    }
}

void display_wait_retrace()
{
    if (renderer != nullptr && viewer_frame_seen())
        handle_events();
}

void display_close()
{
    if (texture != nullptr)
        SDL_DestroyTexture(texture);
    texture = nullptr;
    if (renderer != nullptr)
        SDL_DestroyRenderer(renderer);
    renderer = nullptr;
    if (window != nullptr)
        SDL_DestroyWindow(window);
    window = nullptr;
    if (video_started)
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    video_started = false;
}
