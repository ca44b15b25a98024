// The screen saver back-end's own settings, given by tarqle-saver's entry point: which
// window the show is drawn into.
#pragma once

#include <cstdint>

enum class SaverTarget {
    own_window, // a window of its own, to try the saver
    named,      // a window someone else made (the daemon's), by its id
    typed,      // a window id typed on the command line: one that does not exist is an error
    root,       // the screen's root window, or the desktop's virtual root where it has one
};

struct SaverOptions {
    SaverTarget target;
    uint64_t window_id; // the named or typed window's id; unused otherwise
};

// Called once by the entry point before the show starts (display_open reads it); without
// it the saver opens a window of its own. The record is copied.
void display_saver_configure(const SaverOptions& options);
