// The viewer's controls the viewing back-ends share: the held show, the seeks' goals.
#include "display/viewer/viewer.h"

#include <algorithm>

#include "core/clock.h"

namespace {

const ViewerChapter* chapters;
int chapter_count;
int32_t show_length;
// held: the show stands in the back-end's present, its clock paused; hold_next: the next
// frame presented holds (a pause asked between frames, a step, a seek made while held), so
// the clock never stands while the show waits on it.
bool held;
bool hold_next;
// How far Back and On go.
constexpr int32_t kStepMs = 5000;

// Lets a held show go on, its clock from where it stood; for a step, a seek that holds
// again or the end, without the tune.
void release(bool quietly)
{
    if (held && quietly)
        clock_step();
    else if (held)
        clock_resume();
    held = false;
}

// The show time a seeking control goes to from show time now, or -1 for any other.
int32_t seek_goal(ViewerControl control, int32_t now)
{
    if (chapter_count == 0)
        return -1;
    const int k = viewer_chapter_at(now);
    switch (control) {
    case kViewerBack: return std::max(now - kStepMs, (int32_t)0);
    case kViewerOn: return std::min(now + kStepMs, show_length - 1);
    case kViewerPreviousPart: return chapters[std::max(k - 1, 0)].start_ms;
    case kViewerNextPart: return chapters[std::min(k + 1, chapter_count - 1)].start_ms;
    case kViewerHome: return 0;
    default: break;
    }
    const int part = control - kViewerPart;
    return part >= 0 && part < chapter_count ? chapters[part].start_ms : -1;
}

} // namespace

void viewer_chapters(const ViewerChapter* given, int count, int32_t show_length_ms)
{
    chapters = given;
    chapter_count = count;
    show_length = show_length_ms;
}

const ViewerChapter* viewer_chapter_list(int* count, int32_t* show_length_ms)
{
    *count = chapter_count;
    *show_length_ms = show_length;
    return chapters;
}

void viewer_seek(int32_t goal, int32_t* now)
{
    if (chapter_count == 0)
        return;
    goal = std::clamp(goal, (int32_t)0, show_length - 1);
    clock_seek(goal);
    *now = goal;
    hold_next = hold_next || held;
    release(hold_next);
}

bool viewer_control(ViewerControl control, int32_t* now)
{
    if (const int32_t goal = seek_goal(control, *now); goal >= 0) {
        viewer_seek(goal, now);
    } else if (control == kViewerPause) {
        // A pause not yet taken counts as one: two presses between frames cancel out.
        hold_next = !held && !hold_next;
        release(false);
    } else if (control == kViewerStep && held) {
        release(true);
        hold_next = true;
    } else {
        return false;
    }
    return true;
}

void viewer_end()
{
    release(true);
    hold_next = false;
    clock_end_show();
}

bool viewer_take_hold()
{
    if (hold_next) {
        hold_next = false;
        clock_pause();
        held = true;
    }
    return held;
}

bool viewer_held()
{
    return held;
}

int32_t viewer_show_time()
{
    const int32_t ms = clock_show_time();
    return ms >= 0 && ms < show_length ? ms : 0;
}

int viewer_chapter_at(int32_t ms)
{
    int k = 0;
    while (k + 1 < chapter_count && chapters[k + 1].start_ms <= ms)
        ++k;
    return k;
}
