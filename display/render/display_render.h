// The headless back-end's own settings: tarqle-render's command line, read by its entry
// point before the show asks or opens anything.
#pragma once

#include <cstdint>

#include "video/video.h"

// Reads the whole command line (--png LIST, --video FILE, --scale N, --fps F, --until S,
// --help) and keeps it for display_open. --help prints the usage on standard output and
// ends the program with status 0; a bad command line prints "tarqle-render: " with the
// offending option and what is wrong, then the usage, on standard error and ends it with
// status 2. Returns whether a video file is asked for.
bool display_render_configure(int argc, char** argv);

// The title and the chapters a video gets, and the show time the whole show ends at;
// called by the entry point before the show, which keeps chapters.
void display_render_chapters(const char* title, const VideoChapter* chapters, int count, int32_t show_length_ms);

// A bad command line: "tarqle-render: " with option and what is wrong, then the usage, on
// standard error; ends the program with status 2. Also for the show's own options.
[[noreturn]] void usage_error(const char* option, const char* what);
