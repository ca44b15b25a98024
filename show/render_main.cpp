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
        const bool seed = std::strcmp(argv[i], "--seed") == 0;
        if (!seed && std::strcmp(argv[i], "--start") != 0) {
            argv[kept++] = argv[i];
            continue;
        }
        if (i + 1 >= argc)
            usage_error(argv[i], "needs a value");
        const char* text = argv[++i];
        if (seed) {
            if (!show_seed_parse(text, &plan.seed))
                usage_error("--seed", "expected a whole number from 0 to 4294967295");
            plan.seeded = true;
        } else if (!show_time_parse(text, &plan.start_ms)) {
            usage_error("--start", "expected seconds of show time before its end, or a part's name");
        }
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
