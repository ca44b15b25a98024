// The tune's instruments as its composition and their synthesis both know them: numbers, names, levels, drum pitch.
#pragma once

#include <cstdint>
#include <iterator>

// Instrument numbers as pattern cells name them (1-based, the order of kInstruments).
enum TuneInstrument : uint8_t {
    kInsKick = 1,
    kInsSnare,
    kInsHat,
    kInsCrash,
    kInsBass,
    kInsPad,
    kInsPluck,
    kInsLead,
    kInsCount = kInsLead
};

// One instrument: the name its sample and instrument carry in the file, and its level in the
// mix. Each note's volume is scaled by level / 64 (a volume given with a note replaces the
// sample's own, so the balance is kept by the composition). The bass and the hi-hat carry
// more energy than the ear hears in them. The loudest level, 48, leaves room for the mono
// mix, which adds the channels up without the stereo split and peaks about 5 dB above the
// stereo one.
struct InstrumentEntry {
    const char* name;
    int level;
};

inline constexpr InstrumentEntry kInstruments[] = {
    {"kick", 48}, {"snare", 48}, {"hat", 36}, {"crash", 42}, {"bass", 36}, {"pad", 40}, {"pluck", 48}, {"lead", 48},
};
static_assert(std::size(kInstruments) == kInsCount, "one entry per instrument");

// The entry of instrument number 1..kInsCount, as a pattern cell names it.
inline constexpr const InstrumentEntry& instrument_entry(uint8_t instrument)
{
    return kInstruments[instrument - 1];
}

// Pitched instruments sound at the pitch of the note played (A-4 = 440 Hz); drums sound as
// made when played at C-4, note 49 in the XM numbering.
inline constexpr int kDrumNote = 49;
