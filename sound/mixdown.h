// The tune mixed offline, all at once, by the music library's own software mixer.
#pragma once

#include <cstdint>
#include <vector>

// The rate tarqle-mixdown writes the tune at, and the page plays it at: the page's samples
// are that file's.
constexpr int kMixdownRate = 44100;

// Mixes the tune at path from its start until it ends by itself (at most half an hour)
// into *samples, replacing what was there: interleaved 16-bit stereo, left first, at rate
// Hz (8000 to 44100), with the show's own volume and module settings. Returns 0. When the
// tune cannot be loaded it prints "MikMod Error\n", as the show does, and when the
// library's mixer cannot start "MikMod Driver error!\n"; both return -1 and leave
// *samples empty, so the caller can use silence. Called by programs that do not start the
// show's music in the same process (the library has one set of settings per process);
// the path is only read during the call.
int mixdown_tune(const char* path, int rate, std::vector<int16_t>* samples);
