// Running the built programs from the tests: a folder of their own, fed input, bounded in time.
#pragma once

#include <string>
#include <vector>

struct RunResult {
    int status = -1;        // exit status, or 128 + signal number when killed
    bool timed_out = false; // killed after the time limit
    std::string out;        // standard output
    std::string err;        // standard error
};

// A new empty folder for one run, under the build's test-runs folder, with links to the
// build's grafika and music folders (when they exist). Returns its path.
std::string make_run_folder(const std::string& name);

// Runs argv[0] (a path) in folder with input on standard input, extra "NAME=value"
// entries added to the environment, and kills it after timeout_seconds.
RunResult run_program(const std::vector<std::string>& argv, const std::string& input, const std::string& folder,
                      int timeout_seconds, const std::vector<std::string>& env = {});

// In a forked child: adds the "NAME=value" entries to the environment and replaces the
// child with argv[0] (a path); ends the child with status 127 when that fails.
[[noreturn]] void exec_program(const std::vector<std::string>& argv, const std::vector<std::string>& env);

// The whole file as bytes; empty when it cannot be read.
std::string read_file(const std::string& path);

// The lines of the frame index a run wrote in folder (frames/index.tsv); none when missing.
std::vector<std::string> index_lines(const std::string& folder);

// The build's program of that name (tarqle-render, tarqle-x, ...).
std::string program_path(const std::string& name);
