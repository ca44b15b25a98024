// The tune: sound menus, the music library's set-up, and the player process.
#pragma once

#include <cstdint>

// Asks the sound menus on the terminal and starts the music library; called once at
// start-up, before the display opens. A driver that cannot start (even one that would
// abort the process) prints "MikMod Driver error!\n" and leaves music off; with music off
// every other call does nothing. End of input ends the program through ask_number.
void music_setup();

// The answers to the sound menus, given in advance by a program that asks nothing on a
// terminal. mode is the output-mode answer 0 to 4 (0: no music); device is the driver's
// number in the device list, or 0 for the first sound device that starts, in the
// library's own order (the file writers and the no-sound driver are never taken that way:
// with no device that starts the show is silent, after "MikMod Driver error!\n");
// frequency is 8000 to 44100.
struct MusicChoice {
    int mode;
    int device;
    int frequency;
};

// Called once, before music_setup, by such a program: music_setup then prints no menu and
// takes these answers (the report line and "MikMod Driver error!\n" are printed as usual).
void music_choose(const MusicChoice& choice);

// Loads the tune at path (the path is only read during the call). Prints
// "MikMod Error\n" when it cannot; the show then runs silently. Result ignored by callers.
int music_load(const char* path);

// Starts the player process, after every part has loaded; called once per round of the
// show (a looping show calls music_stop, then this again, and the tune plays from its
// beginning; with a file writer only the first round is heard). Flushes every
// stdio stream first, so nothing buffered is written twice. From here on the sound output
// (device or file) belongs to the player, which finalises it however it ends: with the
// tune, by music_stop, by SIGTERM or SIGINT, or when the demo process dies. If no process
// can be made the show goes on silently.
void music_start();

// The clock reading at which the show last called music_start, whether music plays or not,
// in *at; false before the first call. For a program that records the show and mixes the
// tune itself, so its sound starts where the show's music would.
bool music_start_time(int32_t* at);

// Stops the player process, if one runs, and waits for it (a player that does not finish
// within a few seconds is killed). Safe at any time, also before music_setup.
void music_stop();

// Stops a player that still runs, then shuts the music library down, leaving alone an
// output the player has already finalised. Last music call; safe before music_setup.
void music_shutdown();
