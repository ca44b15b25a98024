// The SDL back-end: a resizable window or desktop fullscreen; each frame converted through
// the palette into a texture of the picture's own size, which the renderer enlarges, shown
// with vsync; the viewer's keys end the show.
#include <SDL.h>
#include <SDL_syswm.h>

#include <cstdio>
#include <cstring>

#include "core/clock.h"
#include "core/shared.h"
#include "display/display.h"
#include "display/gentle/gentle.h"
#include "display/sdl/display_sdl.h"
#include "display/convert/pixel_convert.h"

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
}

// Everything the viewer did since the last frame.
void handle_events()
{
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        if (event.type == SDL_QUIT) {
            clock_end_show();
        } else if (event.type == SDL_WINDOWEVENT) {
            const Uint8 what = event.window.event;
            if (what == SDL_WINDOWEVENT_CLOSE)
                clock_end_show();
            else if (what == SDL_WINDOWEVENT_HIDDEN || what == SDL_WINDOWEVENT_MINIMIZED)
                window_hidden = true;
            else if (what == SDL_WINDOWEVENT_SHOWN || what == SDL_WINDOWEVENT_RESTORED ||
                     what == SDL_WINDOWEVENT_EXPOSED)
                window_hidden = false;
        } else if (event.type == SDL_KEYDOWN && event.key.repeat == 0) {
            const SDL_Keycode key = event.key.keysym.sym;
            if (key == SDLK_ESCAPE || key == SDLK_q)
                clock_end_show();
            else if (key == SDLK_F11 || (key == SDLK_RETURN && (event.key.keysym.mod & KMOD_ALT) != 0))
                toggle_fullscreen();
        }
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
    Uint32 flags = SDL_WINDOW_RESIZABLE;
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
    handle_events();
    if (window_hidden)
        return;
    follow_real_size();
    const Placement where = placement();
    void* pixels = nullptr;
    int pitch = 0;
    if (SDL_LockTexture(texture, nullptr, &pixels, &pitch) != 0)
        return;
    if (options.gentle)
        copy_gentle(gentle_present(image, palette_shown, clock_now()), static_cast<uint8_t*>(pixels), pitch);
    else
        convert_frame(image, pixels_of_palette, {static_cast<uint8_t*>(pixels), pitch, 4, 1, nullptr});
    SDL_UnlockTexture(texture);

    SDL_SetRenderDrawColor(renderer, 0, 0, 0, 255);
    SDL_RenderClear(renderer);
    const SDL_Rect target = {where.x, where.y, where.width, where.height};
    SDL_RenderCopy(renderer, texture, nullptr, &target);
    const Uint64 before = SDL_GetPerformanceCounter();
    SDL_RenderPresent(renderer);
    const double took_ms = (double)(SDL_GetPerformanceCounter() - before) * 1000.0 / (double)SDL_GetPerformanceFrequency();
    if (vsync_on) {
        slow_presents = took_ms > kPresentBudgetMs ? slow_presents + 1 : 0;
        if (slow_presents >= kSlowPresentLimit && SDL_RenderSetVSync(renderer, 0) == 0)
            vsync_on = false;
    }
}

void display_wait_retrace()
{
    if (renderer != nullptr)
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
