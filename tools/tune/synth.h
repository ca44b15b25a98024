// The instruments of the tune, synthesised from sines and noise: drums, bass, pad, pluck and lead.
#pragma once

#include <vector>

#include "tools/tune/xm_writer.h"

// Every instrument of the tune, in the order of TuneInstrument (tools/tune/instruments.h),
// named as its entry there. Pitched instruments sound at the pitch of the note played; drums
// are made for kDrumNote. Called once by the tune maker; the same samples, bit for bit, on
// every run and machine (no library function that may round differently between systems).
std::vector<XmInstrument> tune_instruments();
