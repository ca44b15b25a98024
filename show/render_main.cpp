// The headless renderer's entry point. With --video the show asks no sound menus and plays
// no music of its own: the video file carries the tune, mixed apart from the show.
#include <cstring>

#include "show/timeline.h"
#include "sound/music.h"

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--video") == 0)
            music_choose({0, 0, 0, 0});
    return show_main(argc, argv);
}
