// The music library's settings and mixing helper, shared by the show's player and the
// offline mixdown.
#pragma once

#include <mikmod.h>

#include <algorithm>
#include <cstdint>

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

// Mixes the playing tune's next frames and drops them, so it goes on from there with the
// very samples it would have played (the mixer's output does not depend on how it is cut
// into calls). For the player's seeks: the whole tune mixes in about a fifth of a second.
// With may_go_on, it is asked between two pieces (each about 0.1 s of the tune, well under
// a millisecond to mix) whether to go on; false when it said no before the end.
inline bool music_skip_frames(int64_t frames, bool (*may_go_on)())
{
    SBYTE scratch[16384];
    const int64_t frame_bytes = ((md_mode & DMODE_16BITS) ? 2 : 1) * ((md_mode & DMODE_STEREO) ? 2 : 1);
    while (frames > 0) {
        if (may_go_on != nullptr && !may_go_on())
            return false;
        const int64_t bytes = std::min(frames * frame_bytes, (int64_t)sizeof scratch / frame_bytes * frame_bytes);
        const ULONG mixed = VC_WriteBytes(scratch, (ULONG)bytes);
        if (mixed == 0)
            return true;
        frames -= (int64_t)mixed / frame_bytes;
    }
    return true;
}

// The tune at path loaded afresh (so all of its state starts over) with the show's module
// settings, started, and mixed without a sound for its first frames: from there it plays
// the very samples a run from its start plays. lock holds the library's lock over the
// mixing, for a driver that mixes from a thread of its own (it cannot be held across the
// start, which takes it itself). Null when the tune does not load. For the player's seeks
// and their benchmark.
inline MODULE* music_load_at(const char* path, long frames, bool lock)
{
    MODULE* module = Player_Load(path, kChannelLimit, 0);
    if (module == nullptr)
        return nullptr;
    music_set_module(module);
    Player_Start(module);
    if (lock)
        MikMod_Lock();
    music_skip_frames(frames, nullptr);
    if (lock)
        MikMod_Unlock();
    return module;
}
