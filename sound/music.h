// The tune: sound menus, the music library's set-up, and the player process.
#pragma once

// Asks the sound menus on the terminal and starts the music library; called once at
// start-up, before the display opens. With music off every other call does nothing.
void music_setup();

// Loads the tune at path (the path is only read during the call). Prints
// "MikMod Error\n" when it cannot; the show then runs silently. Result ignored by callers.
int music_load(const char* path);

// Starts the player process, after every part has loaded.
void music_start();

// Stops the player process, if one runs, and waits for it.
void music_stop();

// Stops a player that still runs, then shuts the music library down. Last music call.
void music_shutdown();
