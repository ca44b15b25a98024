// The browser back-end's own settings, given by the browser programs' entry point.
#pragma once

#include <cstdint>

// A place on the show time axis the viewer's keys and the page's bar go to, with the name
// the page shows for it.
struct WebChapter {
    const char* title;
    int32_t start_ms;
};

// Called once by the entry point, before the show starts: the show's parts in order of
// their start times (at most nine, 1 to 9 go to them) and the show time its end lies at;
// display_open hands them to the page for its bar. The chapters are kept, not copied.
// Without it the viewer's seeking keys and the bar do nothing.
void display_web_chapters(const WebChapter* chapters, int count, int32_t show_length_ms);
