// The tune mixed in the browser for the page, as tarqle-mixdown mixes it: the music
// library's own mixer with the show's settings, sample for sample the same.
#include <emscripten.h>

#include <cstdint>
#include <vector>

#include "sound/mixdown.h"

// The page copies the samples (interleaved 16-bit stereo) during the call (web/page.js).
EM_JS(void, web_tune_mixed, (const int16_t* samples, int frames, int rate),
      { Module.tarqle.tuneMixed(HEAP16.subarray(samples >> 1, (samples >> 1) + 2 * frames), rate); });

// Called by the page as it loads, on an instance of the live program of its own that runs
// no show: mixes the tune at path (in that instance's files, read during the call) and
// hands the samples to the page, which keeps them for every show it starts. Returns 0; -1
// when the tune does not load ("MikMod Error\n" is printed), and the page has no tune.
extern "C" EMSCRIPTEN_KEEPALIVE int music_web_mix(const char* path)
{
    std::vector<int16_t> samples;
    if (mixdown_tune(path, kMixdownRate, &samples) != 0)
        return -1;
    web_tune_mixed(samples.data(), (int)(samples.size() / 2), kMixdownRate);
    return 0;
}
