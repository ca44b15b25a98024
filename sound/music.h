// The tune: sound menus, the music library's set-up, and the player process.
#pragma once

#include <cstdint>

// Asks the sound menus on the terminal and creates the player process, which opens the
// sound output; called once at start-up, before the display opens, while the process has
// one thread (the player is a fork, and a fork of a threaded process may not call into
// the sound libraries). A driver that cannot start (even one that would abort the
// process) prints "MikMod Driver error!\n" and leaves music off, its library's own
// messages going nowhere; with music off every other call does nothing. End of input ends
// the program through ask_number.
void music_setup();

// The answers to the sound menus, given in advance by a program that asks nothing on a
// terminal. mode is the output-mode answer 0 to 4 (0: no music); device is the driver's
// number in the device list, or 0 for the first sound device that starts, in the
// library's own order (the file writers and the no-sound driver are never taken that way:
// with no device that starts the show is silent, after "MikMod Driver error!\n");
// frequency is 8000 to 44100. picture_delay_ms is how long after the show's clock reads a
// frame's time the viewer sees it (a display that waits for the screen's refresh shows a
// frame up to a refresh later); an output that knows its latency holds the tune back by
// as much, so sound and picture meet on the screen. 0 when unknown. replayable: the show
// may go back (a viewer's seek, a looping show), so the player outlives the tune's end,
// ready to play it again, until music_stop; otherwise it ends with the tune.
struct MusicChoice {
    int mode;
    int device;
    int frequency;
    int picture_delay_ms;
    bool replayable;
};

// Called once, before music_setup, by such a program: music_setup then prints no menu and
// takes these answers (the report line and "MikMod Driver error!\n" are printed as usual).
void music_choose(const MusicChoice& choice);

// Has the player load the tune at path (the path is only read during the call) and, where
// the output allows, mix its first buffers; returns when that is done. Prints
// "MikMod Error\n" when the tune cannot be loaded; the show then runs silently. Result
// ignored by callers.
int music_load(const char* path);

// Releases the player, after every part has loaded; called once. The sound output (device
// or file) belongs to the player from music_setup on; it finalises it however it ends:
// with the tune, by music_stop, by SIGTERM or SIGINT, or when the demo process dies. When
// the output knows its latency (tarqle-sdl's own output), returns when the tune's first
// sample is heard, so the run phase begins with it; otherwise at once. A looping show calls
// it again at each round, and the tune starts again from its beginning.
void music_start();

// As music_start, for a round that the viewer holds at its start (a pause asked while it
// loaded, a seek waiting for it): the tune is made ready at its beginning and stays
// silent until music_play_from; returns at once.
void music_start_held();

// Called by the show when it stops moving for the viewer (a pause, a seek while it is
// replayed), after a start: the tune falls silent where it is, until music_play_from or
// the next start.
void music_hold();

// Called by the show when a held show goes on live at show time show_ms (a seek's new
// picture, a resumed pause): the tune plays on from its own position show_ms, to the
// sample, heard with the frame the show presents next (held back by the picture's delay,
// as at the start). Returns at once, or, where the show's clock follows the heard tune
// (the page), once that sample is heard; the player mixes its way to the position itself,
// skips on by the time that took, and keeps the heard tune on time from there; a later
// hold or play-from that comes meanwhile takes the place of this one.
void music_play_from(int32_t show_ms);

// The clock reading at which the show's last music_start or music_start_held returned,
// whether music plays or not, in *at; false before the first call. For a program that records the show and mixes
// the tune itself, so its sound starts where the show's music would.
bool music_start_time(int32_t* at);

// Stops the player process, if one runs, and waits for it (a player that does not finish
// within a few seconds is killed). Safe at any time, also before music_setup.
void music_stop();

// Stops a player that still runs; after it music is off. Last music call; safe before
// music_setup.
void music_shutdown();
