// The console layer: 256-colour screen modes on the console's screen (KMS, else the
// Linux framebuffer), with the mode, palette, retrace and screen-context calls the
// console back-end uses.
#pragma once

#include <cstdint>

// Mode numbers. TEXT is the console's own text screen; the others are 256-colour
// pictures of the size in their name.
constexpr int TEXT = 0;
constexpr int G320x200x256 = 5;
constexpr int G320x240x256 = 6;
constexpr int G320x400x256 = 7;
constexpr int G360x480x256 = 8;
constexpr int G640x480x256 = 10;
constexpr int G800x600x256 = 11;

// What a mode is: picture size, colours, bytes per row of its screen contexts.
struct vga_modeinfo {
    int width;
    int height;
    int colors;
    int linewidth;
};

// A screen of the current mode: width x height bytes, bytewidth bytes per row. The
// physical one is what the screen shows; a virtual one is a buffer in memory.
struct GraphicsContext {
    int width;
    int height;
    int bytewidth;
    uint8_t* vbuf;
    bool physical;
};

// Checks that the program runs on a virtual console of its own (its controlling
// terminal, showing text); then opens the first DRM device that can show the console's
// screen through KMS (a connected connector, dumb buffers, no other master), failing that
// the framebuffer device (FRAMEBUFFER in the environment, else /dev/fb0), mapped. Either
// way the console's resolution stays. Called once before any other call. Result 0; -2
// without such a console, before any device is opened (vga_console_error says why); -1
// when neither device can be used. Touches nothing on screen.
int vga_init();

// Why vga_init or vga_setmode gave -2: one sentence, without the program's name; empty
// before. The text is the layer's.
const char* vga_console_error();

// What vga_init opened, as "KMS on /dev/dri/card0" or "framebuffer /dev/fb0"; empty
// before. The text is the layer's.
const char* vga_device();

// Non-zero when the mode's picture fits the screen (after vga_init).
int vga_hasmode(int mode);

// Sets a graphics mode: the console stops drawing (its terminal goes to graphics, its
// keys are read unechoed and without line editing) and the screen is cleared to black;
// from then on the console comes back by itself however the process ends, with the keys
// typed meanwhile discarded. Switching terminals is then the layer's to answer: away, it
// gives the screen up and draws nothing; back, it takes it again and shows the physical
// screen anew, at the next call that puts something on screen. A stop (Ctrl+Z) gives the
// console back as at the end until the process goes on (fg), and the next such call takes
// it again. The program's clock runs on meanwhile; nothing else changes for the caller.
// TEXT clears the screen and gives it back to the console; it does nothing when no
// graphics mode is set. Result 0; -2 when the terminal refused to switch
// (vga_console_error says why, nothing changed); -1 for an unknown or unavailable mode.
int vga_setmode(int mode);

// The mode's size and colours; null for an unknown mode. The record is the layer's
// and lives as long as the program.
const vga_modeinfo* vga_getmodeinfo(int mode);

// Colours of the current mode: 256 in a graphics mode, 16 in TEXT.
int vga_getcolors();

// Sets count palette entries from start on, three 6-bit components (0..63) each, red,
// green, blue, read from pal during the call. The screen shows the change by the next
// copy to the physical screen or wait for the retrace, whichever comes first (at once on
// an indexed framebuffer; on KMS from the vertical blank after that). Result: the number
// of entries set.
int vga_setpalvec(int start, int count, const int* pal);

// The next key typed on the console's terminal while a graphics mode is set, one byte
// of what the terminal sends (27 for Esc, also first in the sequences of other keys); 0
// when none waits. Does not wait.
int vga_getkey();

// Waits for the next vertical retrace where the driver counts them; else returns at once.
int vga_waitretrace();

// Makes the physical screen of the current mode the current context. Result 0, or
// non-zero when mode is not the mode set.
int gl_setcontextvga(int mode);

// Copies the current context into *gc.
void gl_getcontext(GraphicsContext* gc);

// Fills the current context with the colour; on the physical screen it shows at once
// (on KMS from the next vertical blank).
void gl_clearscreen(int colour);

// The layer draws each frame in one pass from its copy of the physical screen, into the
// back buffer that flips on the vertical blank (KMS) or onto the framebuffer itself, so
// there is nothing to enable; kept so callers can ask.
void gl_enablepageflipping(GraphicsContext* gc);

// Makes a new virtual screen of the mode's size, black, the current context. Its
// buffer is the layer's until gl_freecontext. Result 0, or non-zero when the mode is
// unknown or memory runs out.
int gl_setcontextvgavirtual(int mode);

// Copies the current context onto gc; when gc is the physical screen, it shows (on KMS
// from the next vertical blank, after waiting for the previous frame's flip).
void gl_copyscreen(GraphicsContext* gc);

// Releases a virtual screen's buffer (the physical screen has none of its own) and
// clears the record. Safe on a zeroed record and on one freed before.
void gl_freecontext(GraphicsContext* gc);
