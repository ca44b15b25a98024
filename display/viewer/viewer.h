// What the viewing back-ends (SDL's, the browser's, the screen saver's) tell the show of the
// viewer and ask of it: the viewer's controls, and whether a frame is seen or held. The
// show's own module of the viewer's state (show/viewing) carries them out; it is the one
// place that pauses, steps and seeks the show and holds or plays the tune.
#pragma once

#include <cstdint>

// A place on the show time axis the viewer's controls go to, with the name a back-end
// shows for it.
struct ViewerChapter {
    const char* title;
    int32_t start_ms;
};

// The show's parts in order of their start times, in *count (0 in a program whose viewer
// does not seek), and the show time its end lies at; for a back-end that shows them.
const ViewerChapter* viewer_chapter_list(int* count, int32_t* show_length_ms);

// The chapter running at show time ms (0 without chapters).
int viewer_chapter_at(int32_t ms);

// What a back-end makes of the viewer's keys. kViewerPart is the first part's; the n-th
// part's is kViewerPart + n - 1.
enum ViewerControl {
    kViewerPause, // pause, or resume a paused show
    kViewerStep,  // while paused, the next frame
    kViewerBack,  // 5 s back
    kViewerOn,    // 5 s on
    kViewerPreviousPart,
    kViewerNextPart,
    kViewerHome, // the show's start
    kViewerPart,
};

// A control, taken between frames, from a back-end's present or retrace wait. A seek goes
// from where the show stands, or from the goal of a seek still waiting, so two seeks
// between frames add up; a seek made while the show is paused stays paused at its goal. A
// pause is taken at the next present. False for a control that does nothing now (a step
// while the show runs or loads, a seek in a program whose viewer does not seek, any
// control after the end).
bool viewer_control(ViewerControl control);

// A seek to show time goal, clamped to the show, as a back-end's own control (the page's
// bar) asks it; as viewer_control's seeks.
void viewer_seek(int32_t goal);

// The viewer ends the show (a key, the window closed), whatever it is doing (loading,
// replaying, held): the running step ends after its frame, each later one before its
// first, and the timeline goes on to its usual shut-down, without the tune.
void viewer_end();

// Whether the viewer has ended the show.
bool viewer_ended();

// Whether the frame being presented is seen: false while the show runs unseen (a seek's
// or a start's replay, the round a seek cuts short, the load phase's replay that keeps the
// part starts). A back-end's present then shows nothing; a viewing back-end may still take
// the viewer's controls now and then, so a close or a seek is never kept waiting long.
bool viewer_frame_seen();

// Called by a viewing back-end's present after it took the controls, before it shows the
// frame: whether the show now stands held at this frame (a pause asked since the last
// frame, the end of a step). The back-end then shows the picture and keeps taking
// controls until viewer_held turns false.
bool viewer_hold_here();
bool viewer_held();

// Show time now, or 0 before the first round's tune has started; for an overlay or a bar.
int32_t viewer_show_time();
