// What the show asked of the tune, as the tests' music back-end (music_log.cpp) records it:
// "start", "start held", "hold", "play MS".
#pragma once

#include <string>
#include <vector>

extern std::vector<std::string> music_log;
