// The headless back-end's own settings: tarqle-render's command line, read by its entry
// point before the show asks or opens anything.
#pragma once

// Reads the whole command line (--png LIST, --video FILE, --scale N, --fps F, --until S,
// --help) and keeps it for display_open. --help prints the usage on standard output and
// ends the program with status 0; a bad command line prints "tarqle-render: " with the
// offending option and what is wrong, then the usage, on standard error and ends it with
// status 2. Returns whether a video file is asked for.
bool display_render_configure(int argc, char** argv);
