// What the viewer is doing with the show (loading, running, held, stepping, replaying to a
// seek's goal, ended, and in which round), kept in one place: the timeline asks it at each
// turn of the show, the back-ends send it the viewer's controls (display/viewer), and only
// its transitions stand or run the clock, end the parts' time and hold or play the tune.
#pragma once

#include <cstdint>

#include "core/image.h"

// The states, for the tests and the overlay's words.
enum ViewingState {
    kViewingLoading,   // a round's load phase, before its tune starts
    kViewingKeeping,   // the load phase replaying the whole run unseen, keeping the part starts
    kViewingRunning,   // live, the tune playing
    kViewingPausing,   // live, a pause asked: the show holds at the next present
    kViewingHeld,      // standing in a present, the clock and the tune held
    kViewingStepping,  // live for one frame, the tune held; holds at the next present
    kViewingReplaying, // running unseen from a kept state to a seek's goal, the tune held
    kViewingCut,       // the round ending unseen for a seek, whose replay comes next
    kViewingEnded,     // ended by the viewer: every part's time is out
};

// Called by show_plan_seeks, before the show starts: the viewer seeks, so the chapters
// and the seeking controls exist.
void viewing_seeks();

// Called once by the timeline at start-up, before the first load phase: screen is the
// image a replay's last frame stands in (shown at the hand-over); start_ms: show time the
// first round starts at (0: its beginning), replayed to like a seek.
void viewing_begin(Image* screen, int32_t start_ms);

ViewingState viewing_state();

// The timeline at a round's load phase, before its first load step: a new round (the
// viewer's pause, if any, stays in force).
void viewing_round_loads();

// Around the load phase's replay of the whole run, which keeps the state at every part
// start: the show runs unseen on a standing clock, from show time 0, and afterwards the
// clock reads as before. A seek asked meanwhile waits for the round's start.
void viewing_keep_begin();
void viewing_keep_end();

// The end of the load phase: starts the round's tune (held when the viewer's pause is in
// force or a seek waits) and its show time. Nothing of the tune once the viewer has ended
// the show.
void viewing_round_starts();

// Whether a seek (or the first round's start time) waits, with its goal in *goal_ms; the
// timeline then puts back the kept state at or before it and calls viewing_replay.
bool viewing_seek_waiting(int32_t* goal_ms);

// The run phase is replayed from a kept state at show time from up to the waiting seek's
// goal: unseen, on a standing clock; at the goal the show goes on live (or held, when the
// viewer's pause is in force), showing the frame the whole run shows there, and the tune
// plays on from there.
void viewing_replay(int32_t from);

// Whether the run phase is replayed and nothing ends the replay early: the show then holds
// what the whole run on the virtual clock holds at this show time, which the timeline
// keeps at the part starts.
bool viewing_replay_running();

// What comes after a run phase: a seek's replay, a new round, or the end.
enum ViewingNext { kViewingSeek, kViewingNewRound, kViewingEnd };
ViewingNext viewing_round_ends(bool loop);
