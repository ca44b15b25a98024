// The extended-module (XM) file writer the tune maker uses: plain records in, file bytes out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Notes in the XM numbering: 1 is C-0, 49 is C-4, 96 is B-7; 97 releases the note.
constexpr uint8_t kXmNoteOff = 97;
constexpr uint8_t kXmNoteMax = 96;

// One cell of a pattern. Zero in a field means "nothing" (no note, no instrument, no
// volume-column command, no effect), which is how empty cells are packed.
struct XmCell {
    uint8_t note = 0;       // 1..96, kXmNoteOff or 0
    uint8_t instrument = 0; // 1-based, or 0
    uint8_t volume = 0;     // volume column: 0x10..0x50 sets volume 0..64, other commands as the format has them
    uint8_t effect = 0;     // effect type (0x08 panning, 0x0C volume, 0x0F speed/tempo, ...)
    uint8_t param = 0;

    bool operator==(const XmCell&) const = default;
};

// rows × channels cells, row after row.
struct XmPattern {
    int rows = 64; // 1..256
    std::vector<XmCell> cells;
};

// A 16-bit sample; the writer stores it delta-coded as the format wants.
struct XmSample {
    std::string name;
    std::vector<int16_t> data;
    uint32_t loop_start = 0;  // in sample frames
    uint32_t loop_length = 0; // in sample frames; 0 means the sample plays once
    uint8_t volume = 64;      // 0..64
    int8_t finetune = 0;      // 1/128 of a semitone
    uint8_t panning = 128;    // 0 left .. 255 right
    int8_t relative_note = 0; // semitones added to every note played with it
};

// An envelope point: x in ticks from the note's start, y 0..64.
struct XmEnvelopePoint {
    uint16_t x = 0;
    uint16_t y = 0;
};

// An instrument with one sample used for every note.
struct XmInstrument {
    std::string name;
    XmSample sample;
    std::vector<XmEnvelopePoint> volume_envelope; // up to 12 points; empty means none
    int volume_sustain = -1;                      // sustain point index, or -1 for none
    uint16_t fadeout = 0;                         // volume fall per tick after release
    uint8_t vibrato_sweep = 0;                    // ticks until the automatic vibrato is at full depth
    uint8_t vibrato_depth = 0;                    // 0..15; 0 means no automatic vibrato (a sine)
    uint8_t vibrato_rate = 0;                     // 0..63
};

struct XmModule {
    std::string name;           // up to 20 characters
    int channels = 4;           // 1..32
    int speed = 6;              // ticks per row
    int bpm = 125;              // 2.5 / bpm seconds per tick
    std::vector<uint8_t> order; // pattern numbers in playing order, 1..256 entries
    std::vector<XmPattern> patterns;
    std::vector<XmInstrument> instruments;
};

// Encodes module as XM 1.04 bytes with linear frequencies. Called by the tune maker and the
// tests; the module is only read. Returns an empty vector, with the reason in *error, when
// the module breaks a limit of the format (counts, lengths, note numbers, envelope size).
std::vector<uint8_t> xm_encode(const XmModule& module, std::string* error);
