// The viewer's controls that the viewing back-ends (SDL's, the browser's) share: pause,
// step and seeks on the show time axis, taken between frames, and where the show stands.
#pragma once

#include <cstdint>

// A place on the show time axis the viewer's controls go to, with the name the back-end
// shows for it.
struct ViewerChapter {
    const char* title;
    int32_t start_ms;
};

// Called once by a viewing program's entry point, before the show starts: the show's parts
// in order of their start times (at most nine, the part controls go to them) and the show
// time its end lies at. The chapters are kept, not copied. Without it the seeking controls
// do nothing.
void viewer_chapters(const ViewerChapter* chapters, int count, int32_t show_length_ms);

// The chapters viewer_chapters was given, for a back-end that shows them (count 0 without).
const ViewerChapter* viewer_chapter_list(int* count, int32_t* show_length_ms);

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

// A control, taken between frames: a seek goes through the clock (clock_seek), whose
// replay shows the frame the whole run shows there, a show held going on held there; a
// pause is taken at the next present. *now is the show time the next control goes on
// from. False for a control that does nothing now (a step while running, a part beyond
// the chapters).
bool viewer_control(ViewerControl control, int32_t* now);

// A seek to show time goal, clamped to the show, as a back-end's own control (the page's
// bar) asks it; as viewer_control's seeks.
void viewer_seek(int32_t goal, int32_t* now);

// The viewer ends the show (a key, the window closed): a held show goes on, so the end
// comes at the next frame, without the tune.
void viewer_end();

// Called by a back-end's present after the controls, before it shows the frame: whether
// the show now stands held, the clock paused (a pause asked between frames, a step, a seek
// made while held is taken here). The back-end then shows the picture and keeps taking
// controls until viewer_held turns false.
bool viewer_take_hold();
bool viewer_held();

// Show time now, or 0 while the tune has not started (the first round's load phase); also
// what the controls taken between two frames go on from (two seeks add up).
int32_t viewer_show_time();

// The chapter running at show time ms (0 without chapters).
int viewer_chapter_at(int32_t ms);
