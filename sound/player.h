// The player process: the music library's output and the tune, played as the show asks.
#pragma once

#include <signal.h>
#include <sys/types.h>

// The player process, entered right after the fork with every signal blocked: opens the
// output md_device names (or ends with status 1 when it does not start), sends its
// PlayerReport, then serves the show's requests on channel (sound/player_protocol.h):
// loads the tune, and once started plays it, holds it and plays it on from any position.
// It reads everything waiting before it acts and carries out only the latest hold or
// play-from, so a burst of seeks costs one. It finalises the output however it ends: with
// the tune (unless replayable: the show may go back, so it waits for the next request), a
// stop signal (SIGUSR1, SIGTERM, SIGINT) or the show's process gone; and leaves through
// _exit, so nothing of the show's process (its stdio buffers, its exit handlers) runs a
// second time. demo_mask is the show's signal mask, put back once the handlers are in.
// heard: the output is heard as it plays (a sound device, not a file writer), so a tune that
// comes late to a position skips on to where it is due.
// Installs handler for signal_number, with flags and no signal held back meanwhile: the
// player's stop signals, and the show's SIGCHLD that hears of the player's end.
void signal_install(int signal_number, void (*handler)(int), int flags);

[[noreturn]] void player_main(int channel, pid_t demo_pid, const sigset_t& demo_mask, bool replayable, bool heard);
