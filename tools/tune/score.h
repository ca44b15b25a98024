// The tune's score: the grid notes are written into, melodies read from text, and the patterns cut from it.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/tune/xm_writer.h"

// The whole song, rows × channels cells, row after row.
struct Grid {
    int rows = 0;
    int channels = 0;
    std::vector<XmCell> cells;
};

Grid grid_make(int rows, int channels);
XmCell& cell(Grid& g, int row, int channel);

// Starts a note (XM numbering) at row on channel with volume 0..64 before the instrument's
// level in the mix (tools/tune/instruments.h). Rows past the end of the song are dropped
// (an echo may run over).
void play(Grid& g, int row, int channel, int note, uint8_t instrument, int volume);
// Changes the volume of the note sounding on channel, an instrument's note, to volume 0..64
// before the instrument's level.
void set_volume(Grid& g, int row, int channel, uint8_t instrument, int volume);
// Ends the note sounding on channel at row.
void release(Grid& g, int row, int channel);

// The XM note of pitch class pc (C = 0) in octave.
constexpr int note_number(int octave, int pc)
{
    return 12 * octave + pc + 1;
}

// A note of a melody: its row from the melody's start, its note and its length in rows.
struct MelodyNote {
    int row;
    int note;
    int length;
};

// Melody text: tokens "A4:4" (note, octave, length in rows) or "r:2" (rest), '#' raises a
// note. The text is the caller's own and well formed.
std::vector<MelodyNote> parse_melody(const char* text);

// Cuts the grid into patterns of pattern_rows (the last one shorter) and appends them to
// module's order; a pattern equal to an earlier one is stored once.
void grid_to_patterns(const Grid& g, int pattern_rows, XmModule& module);
