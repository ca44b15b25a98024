// A music back-end for the tests of the viewer's state: no player, only a record of what
// the show asked of the tune, in order, with the show time of each play-from.
#include "tests/music_log.h"

#include "core/clock.h"
#include "sound/music.h"

std::vector<std::string> music_log;

namespace {
bool started;
int32_t started_at;
} // namespace

void music_choose(const MusicChoice&) {}
void music_setup() {}

int music_load(const char*)
{
    return 0;
}

void music_start()
{
    music_log.push_back("start");
    started = true;
    started_at = clock_now();
}

void music_start_held()
{
    music_log.push_back("start held");
    started = true;
    started_at = clock_now();
}

void music_hold()
{
    music_log.push_back("hold");
}

void music_play_from(int32_t show_ms)
{
    music_log.push_back("play " + std::to_string(show_ms));
}

bool music_start_time(int32_t* at)
{
    *at = started_at;
    return started;
}

void music_stop() {}
void music_shutdown() {}
