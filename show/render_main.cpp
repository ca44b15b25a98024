// The headless renderer's entry point: its whole command line is read first, then the show.
// With --video the show asks no sound menus and plays no music of its own: the video file
// carries the tune, mixed apart from the show.
#include "display/render/display_render.h"
#include "show/timeline.h"
#include "sound/music.h"

int main(int argc, char** argv)
{
    if (display_render_configure(argc, argv))
        music_choose({0, 0, 0, 0});
    return show_main(argc, argv);
}
