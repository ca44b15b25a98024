// The tune of the show as a module record, before it is written out (for the tune maker and its tests).
#pragma once

#include "tools/tune/xm_writer.h"

// The whole tune: its patterns, order and synthesised instruments. Called by make_tune and
// by the tests; the caller owns the record. The same record on every call.
XmModule tune_module();
