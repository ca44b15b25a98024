// The eighth part of the show: the radial fire with the skull, the bar figure and the thumbnail.
#pragma once

#include <cstdint>

#include "core/image.h"

// The heat buffer: rows 68 and 69 are seeded, rows 1..64 are shown.
constexpr int kFireWidth = 64;
constexpr int kFireHeight = 70;

// Where a run of the fire stands between frames.
struct FireRun {
    int frame = 0;  // frames drawn so far; turns the angle mapping
    int figure = 0; // frame of the running figure, 0..4
};

// Allocates the polar maps, the heat buffer and the thumbnail, loads the skull and the
// sprite sheet (their palettes land in the work palette). Load phase, once; ends the
// program on failure.
void fire_load();

// Plays the fire into screen until part time end (tenths of a second), 60 ms a frame.
// palette_scheme and unused are not looked at (the fire palette is the only one);
// orientation and map_shape go to fire_precalc. Leaves its last frame and the fire
// palette on the display and in the work palette for the whiteout.
void fire_run(Image* screen, int end_time, int palette_scheme, int unused, int orientation, int map_shape);

// Releases everything fire_load made. Once, at shut-down.
void fire_free();

// Fills the two maps (width x height/2 bytes each, owned by the caller) with the radius
// byte and angle byte of every pixel of the upper half of a width x height screen.
// orientation 1: radius grows outward; 0: inward. Every map_shape gives the polar maps.
void fire_precalc(uint8_t* radius_map, uint8_t* angle_map, int width, int height, int orientation, int map_shape);

// Writes the fire palette (black up to 78, then a grey ramp to white) into the work palette.
void fire_palette();

// One step of rising heat over rows 0..67 of the 64 x 70 buffer p, in place.
void fire_propagate(uint8_t* p);

// Whether the seed rows are fed at elapsed milliseconds of a fire ending at end tenths
// of a second: until 2.5 seconds before the end, compared unrounded.
bool fire_seeding(int32_t elapsed, int end);

// Seeds rows 68 and 69 of p from the shared random numbers (64 draws) when seeding,
// else clears them.
void fire_seed(uint8_t* p, bool seeding);

// Wraps the heat buffer around the centre of the 320 x 240 screen pixels through the
// maps, turned by frame's angle shift; the lower half is the upper turned half a circle.
void fire_map(uint8_t* screen, const uint8_t* radius_map, const uint8_t* angle_map, const uint8_t* fire, int frame);

// Whether the skull is drawn on a frame of part time t of a fire ending at end. Draws
// one random number only where chance decides (t 10 up to end - 31), none otherwise.
bool fire_skull_shown(int32_t t, int end);

// Draws one frame of the fire at elapsed milliseconds into screen (not presented) and
// advances run. Needs fire_load and the maps filled; fire_run calls it once per frame.
void fire_frame(Image* screen, FireRun* run, int32_t elapsed, int end);
