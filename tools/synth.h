// The instruments of the tune, synthesised from sines and noise: drums, bass, pad, pluck and lead.
#pragma once

#include <vector>

#include "tools/xm_writer.h"

// Instrument numbers as pattern cells name them (1-based, the order of tune_instruments()).
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

// Every instrument of the tune, in the order of TuneInstrument. Pitched instruments sound
// at the pitch of the note played (A-4 = 440 Hz); drums are meant to be played at C-4.
// Called once by the tune maker; the same samples, bit for bit, on every run and machine
// (no library function that may round differently between systems).
std::vector<XmInstrument> tune_instruments();
