// The tune's composition: the notes of the whole show, as a module record still without its instruments.
#pragma once

#include "tools/tune/xm_writer.h"

// The tune's channels, speed, tempo, patterns and order; its cells name the instruments by
// their numbers in tools/tune/instruments.h. Called by the tune maker; the same record on
// every call, the caller's to keep.
XmModule tune_score();
