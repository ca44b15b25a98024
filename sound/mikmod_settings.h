// The music library's settings that the show's player and the offline mixdown share.
#pragma once

#include <mikmod.h>

// The most channels a tune may bring.
constexpr int kChannelLimit = 64;

// md_mode for the answers 1 to 4 of the output-mode menu; md_mode is replaced as a whole.
constexpr UWORD kMusicModes[] = {
    DMODE_SOFT_MUSIC,
    DMODE_SOFT_MUSIC | DMODE_STEREO,
    DMODE_SOFT_MUSIC | DMODE_16BITS,
    DMODE_SOFT_MUSIC | DMODE_STEREO | DMODE_16BITS,
};
static_assert(sizeof kMusicModes / sizeof kMusicModes[0] == 4, "one mode for each answer 1 to 4");

// Registers every module loader, once per process: the library links a loader registered
// a second time into its list again, and its list then never ends.
inline void music_register_loaders()
{
    static bool registered = false;
    if (!registered)
        MikMod_RegisterAllLoaders();
    registered = true;
}

// The library's volume, panning and reverb levels; set before MikMod_Init by whoever
// starts the library (music_setup, mixdown_tune).
inline void music_set_levels()
{
    md_volume = 96;
    md_musicvolume = 128;
    md_sndfxvolume = 128;
    md_pansep = 128;
    md_reverb = 0;
}

// A freshly loaded tune's settings: extended speed, panning on, and no wrap, so the tune
// plays once and then ends. Called by the loader of the tune right after Player_Load.
inline void music_set_module(MODULE* module)
{
    module->extspd = 1;
    module->panflag = 1;
    module->wrap = 0;
}
