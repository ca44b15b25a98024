// Whole programs run as a user runs them, watched for what they leave behind.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// One running program: its process id (which is also its process group's) and folder.
struct Show {
    pid_t pid = -1;
    std::string folder;
};

// How a program ended and what of its process group outlived it.
struct ShowEnd {
    int status = -1;          // exit status, or 128 + signal number
    bool timed_out = false;   // killed after the time limit
    bool left_behind = false; // something of its group still ran 3 s after it ended
    long group_ended_ms = -1; // ms from its end until its whole group was gone
    std::string out, err;     // standard output and error, from folder/out.txt and err.txt
};

// Starts argv (argv[0] a path) in folder, in a process group of its own, with input as its
// whole standard input, output to files in folder and extra "NAME=value" environment
// entries. The calling process becomes the subreaper of the group, so a player orphaned
// by the program's end is reaped and timed here. Called by the tests' main thread.
Show show_start(const std::vector<std::string>& argv, const std::string& input, const std::string& folder,
                const std::vector<std::string>& env = {});

// Waits for the program to end (SIGKILL to the group after timeout_seconds), then up to
// three seconds for the rest of its group; whatever remains then is killed and reported.
ShowEnd show_finish(const Show& show, int timeout_seconds);

// Sends signal_number to the program (whole_group: to its process group, as a terminal's
// Ctrl-C does).
void show_signal(const Show& show, int signal_number, bool whole_group = false);

// The number of processes in the program's process group (the program and its player).
int group_members(const Show& show);

// Waits up to timeout_seconds until the file at path holds more than min_bytes bytes.
bool wait_for_size(const std::string& path, long min_bytes, int timeout_seconds);

// Empty when the bytes are a whole, self-consistent RIFF WAVE file (sizes in the headers
// match the file); otherwise what is wrong. *data_bytes gets the data chunk's size, and
// the format fields go to *channels, *bits and *rate when given.
std::string wav_problem(const std::string& bytes, long* data_bytes, int* channels = nullptr, int* bits = nullptr,
                        long* rate = nullptr);

// The sound menu's answers that choose the WAV writer at 44100 Hz, 16-bit stereo, with the
// device number read from the menu as the music library lists it here.
std::string wav_writer_answers();

// The sound menus as printed up to and including the frequency prompt for those answers.
std::string sound_menus_text();
