// The entry point of the browser programs, called by the page once the data is in place,
// with the page's own options (--index, --gentle) and the viewer's --seed N and --start
// TIME, which are taken out here. The show ends through exit, also when it ends early, so
// the page hears of every end alike.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "show/timeline.h"

namespace {

// A bad option from the page's address: on standard output, whose last line the page
// shows as the reason the show stopped.
[[noreturn]] void option_error(const char* option, const char* value, const char* what)
{
    std::printf("tarqle-web: %s %s: %s\n", option, value, what);
    std::exit(2);
}

} // namespace

int main(int argc, char** argv)
{
    ShowPlan plan = {false, false, 0, 0};
    int kept = 1;
    bool index = false;
    for (int i = 1; i < argc; ++i) {
        index = index || std::strcmp(argv[i], "--index") == 0;
        if (std::strcmp(argv[i], "--seed") != 0 && std::strcmp(argv[i], "--start") != 0) {
            argv[kept++] = argv[i];
            continue;
        }
        const char* option = argv[i];
        const char* text = i + 1 < argc ? argv[++i] : "";
        if (const char* expected = show_plan_option(option, text, &plan))
            option_error(option, text, expected);
    }
    argv[kept] = nullptr;
    show_plan(plan);
    // The page's viewer seeks; the frame index, like the headless renderer's, is one run.
    if (!index)
        show_plan_seeks();
    std::exit(show_main(kept, argv));
}
