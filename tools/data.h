// The data the programs read, made by tarqle-make-data: the pictures and the tune.
#pragma once

#include <string>

// Each writes its files below out_dir (grafika/... or music/...), the same bytes on every
// run, and returns 0, or prints why on standard error and returns non-zero.
int make_pictures(const std::string& out_dir);
int make_tune(const std::string& out_dir);
