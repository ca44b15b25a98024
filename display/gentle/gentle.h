// The gentle picture: each presented frame as the viewer is shown it when flashing is to
// be kept down. Every pixel may make only a few large swings of brightness or of
// saturated red a second, and so may every region of a 10° field and the whole picture,
// counted per frame whichever pixels swing, and the picture's mean brightness; a swing
// beyond a budget is held back until the budget frees. The show's own frames are not
// touched: this acts only on what a back-end shows.
#pragma once

#include <cstdint>

#include "core/image.h"

// Transitions (swings of relative luminance of kGentleLumaStep or more, or of red
// quantity of kGentleRedStep or more) one pixel may make within any kGentleWindowMs of
// presentation time. Four is two flashes: WCAG 2.3.1 allows three a second, and the
// budget leaves room for frames that reach the screen a little late or early.
constexpr int kGentleBudget = 4;
constexpr int32_t kGentleWindowMs = 1100;
// Below WCAG 2.3.1's own 0.1 and 20, so that rounding to 8 bits or a lossy video cannot
// turn a swing the limiter let through as small into one that counts.
constexpr float kGentleLumaStep = 0.08f;
constexpr float kGentleRedStep = 16.0f;
// A region of kFlashFieldShare of the picture's width and height (sliding over it), or the
// whole picture, swings at a frame where at least 1 / kGentleRegionShare of its pixels
// swing, in either direction: half the quarter that a flash must cover, so that swings
// that end a frame apart or a region placed between ours still count. Such a frame, and a
// swing of the picture's mean relative luminance, each count against a budget of their
// own of kGentleBudget in any kGentleWindowMs.
constexpr int kGentleRegionShare = 8;
static_assert(kGentleBudget <= 6 && kGentleWindowMs >= 1000, "at most three flashes in any second");

// Called by a back-end's display_open when the viewer asked for the gentle picture, and
// by the tests: forgets the frames shown before, so the next frame is shown as it is.
void gentle_reset();

// Called by a back-end's display_present, in place of its own conversion: converts image
// through palette to 0x00RRGGBB pixels, limits them against the frames shown before (now
// is the reading of this present, in milliseconds, on a clock that the viewer's seeks,
// pauses and steps never move, so that none of them forgets the swings just shown; it
// must not decrease) and returns the width × height pixels to show, rows from the top.
// The pixels belong to the module and stay valid until the next call; image and palette
// are read only during the call.
const uint32_t* gentle_present(const Image& image, const Palette& palette, int32_t now);

// The limiter itself, on width × height true-colour pixels 0x??RRGGBB (the top byte is
// kept): replaces each pixel by what is shown in its place at time now. A change of size
// starts afresh, as gentle_reset does. Called by gentle_present and by the tests.
void gentle_limit(uint32_t* pixels, int32_t width, int32_t height, int32_t now);
