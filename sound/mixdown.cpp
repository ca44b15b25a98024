// The tune mixed offline: the no-sound driver's software mixer, read back sample by sample.
#include "sound/mixdown.h"

#include <cstdio>

#include "sound/mikmod_settings.h"

namespace {

// Stereo frames mixed by one call of the mixer; the tune's end is found to this many.
constexpr int kChunkFrames = 512;
// A tune that jumps back on itself never ends; it is cut here.
constexpr long kLimitSeconds = 30 * 60;

} // namespace

int mixdown_tune(const char* path, int rate, std::vector<int16_t>* samples)
{
    samples->clear();
    // The no-sound driver mixes nothing by itself; the mixer runs only when asked for
    // bytes, so the whole tune comes out as fast as it can be mixed, and never reaches a
    // device or a file.
    music_register_loaders();
    MikMod_RegisterDriver(&drv_nos);
    music_set_levels();
    md_mode = kMusicModes[3]; // 16 bits, stereo
    md_mixfreq = (UWORD)(rate >= 8000 && rate <= 44100 ? rate : 44100);
    md_device = (UWORD)MikMod_DriverFromAlias(drv_nos.Alias);
    if (MikMod_Init("") != 0) {
        std::printf("MikMod Driver error!\n");
        std::fflush(stdout);
        return -1;
    }
    MODULE* module = Player_Load(path, kChannelLimit, 0);
    if (module == nullptr) {
        MikMod_Exit();
        std::printf("MikMod Error\n");
        std::fflush(stdout);
        return -1;
    }
    music_set_module(module);

    const size_t limit = (size_t)kLimitSeconds * md_mixfreq * 2;
    Player_Start(module);
    while (Player_Active() && samples->size() < limit) {
        const size_t at = samples->size();
        samples->resize(at + 2 * kChunkFrames);
        const ULONG bytes = VC_WriteBytes(reinterpret_cast<SBYTE*>(samples->data() + at), 4 * kChunkFrames);
        samples->resize(at + bytes / 2);
        if (bytes == 0)
            break;
    }
    Player_Stop();
    Player_Free(module);
    MikMod_Exit();
    return 0;
}
