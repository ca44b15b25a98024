// The viewer's state and its transitions: the one owner of whether the show runs, stands,
// steps, replays or has ended, and of whether the tune plays.
#include "show/viewing.h"

#include <algorithm>

#include "core/clock.h"
#include "display/display.h"
#include "display/viewer/viewer.h"
#include "show/timeline.h"
#include "sound/music.h"

namespace {

// What the viewer is doing, and what it asked that outlives a state: its pause (from the
// press that pauses to the one that resumes, across steps, seeks and rounds) and a seek's
// goal (waiting, or being replayed to).
struct Viewing {
    ViewingState state;
    bool paused;
    bool seek_waiting;
    int32_t goal;
    // The first round's tune has started: show time means something.
    bool started;
    // Whether the tune is silent because this module held it (or started it held).
    bool tune_held;
    // Before the load phase's replay: the reading the clock goes on from after it.
    int32_t reading_before_keep;
};
Viewing viewing = {kViewingLoading, false, false, 0, false, false, 0};

Image* held_screen;
bool seeking;
ViewerChapter chapters[kShowParts];
// How far Back and On go.
constexpr int32_t kStepMs = 5000;

void hold_tune()
{
    if (viewing.tune_held)
        return;
    viewing.tune_held = true;
    music_hold();
}

// The tune plays on from where the show stands, heard with the frame presented next.
void play_tune()
{
    if (!viewing.tune_held)
        return;
    viewing.tune_held = false;
    music_play_from(clock_show_time());
}

// The show stands at the frame being presented.
void stand()
{
    clock_stand(clock_now());
    viewing.state = kViewingHeld;
}

// The round ends at once, unseen, and the replay to goal comes next.
void cut_to(int32_t goal)
{
    viewing.seek_waiting = true;
    viewing.goal = std::clamp(goal, (int32_t)0, kShowLength - 1);
    // A seek asked while loading waits for the round's start, ending nothing.
    if (viewing.state == kViewingLoading || viewing.state == kViewingKeeping)
        return;
    viewing.state = kViewingCut;
    clock_time_out(true);
    hold_tune();
}

// Where a seek goes on from: the goal of one still waiting, else where the show stands.
int32_t seek_origin()
{
    return viewing.seek_waiting ? viewing.goal : viewer_show_time();
}

// The show time a seeking control goes to from show time now, or -1 for any other.
int32_t seek_goal(ViewerControl control, int32_t now)
{
    const int k = viewer_chapter_at(now);
    switch (control) {
    case kViewerBack: return std::max(now - kStepMs, (int32_t)0);
    case kViewerOn: return std::min(now + kStepMs, kShowLength - 1);
    case kViewerPreviousPart: return chapters[std::max(k - 1, 0)].start_ms;
    case kViewerNextPart: return chapters[std::min(k + 1, kShowParts - 1)].start_ms;
    case kViewerHome: return 0;
    default: break;
    }
    const int part = control - kViewerPart;
    return part >= 0 && part < kShowParts ? chapters[part].start_ms : -1;
}

// Space: pauses a running show (at its next present), resumes a held one.
void toggle_pause()
{
    viewing.paused = !viewing.paused;
    switch (viewing.state) {
    case kViewingRunning: viewing.state = kViewingPausing; break;
    // Two presses between frames cancel out; a round or a seek's goal that would have held
    // here plays its tune.
    case kViewingPausing:
        viewing.state = kViewingRunning;
        play_tune();
        break;
    case kViewingHeld:
        clock_run();
        viewing.state = kViewingRunning;
        play_tune();
        break;
    // The step's frame runs on, with its tune.
    case kViewingStepping:
        viewing.state = kViewingRunning;
        play_tune();
        break;
    // Loading, replaying or cut: the show starts held, or goes on, where it next comes to.
    default: break;
    }
}

// A replay has reached its goal: the live clock takes over at the goal, and the frame
// standing in the screen image is shown, with the tune from there unless the viewer's
// pause holds both (the frame then stands until the viewer resumes).
void hand_over()
{
    viewing.seek_waiting = false;
    clock_stand(clock_after(clock_now(), viewing.goal - clock_show_time()));
    if (viewing.paused) {
        viewing.state = kViewingPausing;
    } else {
        viewing.state = kViewingRunning;
        clock_run();
        play_tune();
    }
    display_present(*held_screen);
}

void before_wait(int32_t frame_end)
{
    if (viewing.state == kViewingReplaying && clock_between(clock_now(), frame_end) + clock_show_time() > viewing.goal)
        hand_over();
}

} // namespace

void viewing_seeks()
{
    seeking = true;
    for (int k = 0; k < kShowParts; ++k)
        chapters[k] = {show_parts[k].title, show_parts[k].start_ms};
}

void viewing_begin(Image* screen, int32_t start_ms)
{
    held_screen = screen;
    viewing = {kViewingLoading, false, start_ms > 0, start_ms, false, false, 0};
    clock_on_wait(before_wait);
}

ViewingState viewing_state()
{
    return viewing.state;
}

void viewing_round_loads()
{
    if (viewing.state != kViewingEnded)
        viewing.state = kViewingLoading;
}

void viewing_keep_begin()
{
    if (viewing.state == kViewingEnded)
        return;
    viewing.state = kViewingKeeping;
    viewing.reading_before_keep = clock_now();
    clock_stand(viewing.reading_before_keep);
    clock_show_begin(viewing.reading_before_keep);
}

void viewing_keep_end()
{
    if (viewing.state == kViewingEnded)
        return;
    viewing.state = kViewingLoading;
    clock_stand(viewing.reading_before_keep);
    clock_run();
}

void viewing_round_starts()
{
    if (viewing.state == kViewingEnded)
        return;
    viewing.tune_held = viewing.paused || viewing.seek_waiting;
    if (viewing.tune_held)
        music_start_held();
    else
        music_start();
    int32_t at = 0;
    if (music_start_time(&at))
        clock_show_begin(at);
    viewing.started = true;
    viewing.state = viewing.paused ? kViewingPausing : kViewingRunning;
}

bool viewing_seek_waiting(int32_t* goal_ms)
{
    *goal_ms = viewing.goal;
    return viewing.seek_waiting && viewing.state != kViewingEnded;
}

void viewing_replay(int32_t from)
{
    viewing.state = kViewingReplaying;
    clock_time_out(false);
    hold_tune();
    const int32_t reading = clock_now();
    clock_stand(reading);
    clock_show_begin(clock_after(reading, -from));
}

bool viewing_replay_running()
{
    return viewing.state == kViewingReplaying || viewing.state == kViewingKeeping;
}

ViewingNext viewing_round_ends(bool loop)
{
    if (viewing.state == kViewingCut)
        return kViewingSeek;
    if (viewing.state == kViewingEnded || !loop)
        return kViewingEnd;
    return kViewingNewRound;
}

const ViewerChapter* viewer_chapter_list(int* count, int32_t* show_length_ms)
{
    *count = seeking ? kShowParts : 0;
    *show_length_ms = kShowLength;
    return chapters;
}

int viewer_chapter_at(int32_t ms)
{
    return seeking ? show_part_at(ms) : 0;
}

bool viewer_control(ViewerControl control)
{
    if (viewing.state == kViewingEnded)
        return false;
    if (control == kViewerPause) {
        toggle_pause();
        return true;
    }
    if (control == kViewerStep) {
        if (viewing.state != kViewingHeld)
            return false;
        viewing.state = kViewingStepping;
        clock_run();
        return true;
    }
    const int32_t goal = seeking ? seek_goal(control, seek_origin()) : -1;
    if (goal < 0)
        return false;
    cut_to(goal);
    return true;
}

void viewer_seek(int32_t goal)
{
    if (seeking && viewing.state != kViewingEnded)
        cut_to(goal);
}

void viewer_end()
{
    viewing.state = kViewingEnded;
    viewing.paused = false;
    viewing.seek_waiting = false;
    clock_time_out(true);
    clock_run();
}

bool viewer_ended()
{
    return viewing.state == kViewingEnded;
}

bool viewer_frame_seen()
{
    return viewing.state != kViewingKeeping && viewing.state != kViewingReplaying && viewing.state != kViewingCut;
}

bool viewer_hold_here()
{
    if (viewing.state == kViewingPausing) {
        stand();
        hold_tune();
    } else if (viewing.state == kViewingStepping) {
        stand();
    }
    return viewing.state == kViewingHeld;
}

bool viewer_held()
{
    return viewing.state == kViewingHeld;
}

int32_t viewer_show_time()
{
    if (!viewing.started)
        return 0;
    const int32_t ms = clock_show_time();
    return ms >= 0 && ms < kShowLength ? ms : 0;
}
