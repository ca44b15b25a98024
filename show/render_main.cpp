// The headless renderer's entry point: its whole command line is read first, then the show.
// With --video the show asks no sound menus and plays no music of its own: the video file
// carries the tune, mixed apart from the show, with the parts as its chapters.
#include <cstring>

#include "display/render/display_render.h"
#include "show/timeline.h"
#include "sound/music.h"

namespace {

VideoChapter chapters[kShowParts];

} // namespace

int main(int argc, char** argv)
{
    // The show's own options are taken out here; the rest belongs to the back-end.
    ShowPlan plan = {false, false, 0, 0};
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seed") != 0 && std::strcmp(argv[i], "--start") != 0) {
            argv[kept++] = argv[i];
            continue;
        }
        if (i + 1 >= argc)
            usage_error(argv[i], "needs a value");
        const char* option = argv[i];
        if (const char* expected = show_plan_option(option, argv[++i], &plan))
            usage_error(option, expected);
    }
    argv[kept] = nullptr;
    argc = kept;
    for (int k = 0; k < kShowParts; ++k)
        chapters[k] = {show_parts[k].title, show_parts[k].start_ms};
    display_render_chapters(kShowTitle, chapters, kShowParts, kShowLength);
    const bool video = display_render_configure(argc, argv);
    if (video && plan.start_ms > 0)
        usage_error("--start", "a video is always of the whole show from its beginning");
    show_plan(plan);
    if (video)
        music_choose({0, 0, 0, 0, false});
    return show_main(argc, argv);
}
