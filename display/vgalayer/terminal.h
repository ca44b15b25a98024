// The console layer's terminal: the virtual console the program runs on, taken for a
// graphics mode (keys unechoed, switching answered) and given back on every way out,
// and for the time of a stop (Ctrl+Z). Only the console layer calls these, from its main
// flow unless said.
#pragma once

// Opens the program's controlling terminal and checks that it is a virtual console
// showing text, with its switching automatic. Called by vga_init before any screen device
// is opened; changes nothing. Result: true, or false with terminal_error saying why.
bool terminal_open();

// Why terminal_open or terminal_take failed, one sentence; empty while neither did. The
// text is this module's.
const char* terminal_error();

// Takes the terminal opened for a graphics mode: keys are read without echo or line
// editing (Ctrl+C and Ctrl+Z still signal), the console draws nothing, and it asks us
// before switching away. From then on the terminal comes back by itself (after
// screen_give_up) however the process ends, and for the time of a stop, after which
// terminal_follow takes it again. Every ioctl is checked: result false, with the terminal
// left as it was and terminal_error saying which failed.
bool terminal_take();

// Gives the terminal back: the screen given up first (screen_give_up), a switch asked
// for meanwhile let go, switching automatic again, text mode, the keys typed since it
// was taken discarded and its settings as they were. Does nothing when not taken, and in
// a process forked from the one that took it. Async-signal-safe.
void terminal_give_back();

// Whether the screen is ours to draw on: the terminal is taken and in front.
bool terminal_shown();

// Answers what happened since the last call: a switch the console asked for (away: the
// screen given up; back: screen_take_back) and the end of a stop (the terminal taken again
// and, when in front, screen_take_back). Called first by every call that puts something on
// screen, so a switch waits at most for the next frame.
void terminal_follow();

// The next byte typed on the taken terminal; -1 when none waits or it is not taken.
int terminal_key();

// Defined by the console layer, called by this module. screen_give_up: gives the screen
// back to the console while the terminal is still taken (no more drawing until
// screen_take_back); async-signal-safe. screen_take_back: takes the screen again and shows
// the physical screen anew.
void screen_give_up();
void screen_take_back();
