// Where the programs find their pictures and tune: the current folder, or the installed data.
#pragma once

#include <string>

// The path to open for a data file named relative to the data folder ("grafika/..." or
// "music/..."): the name itself when the current folder holds both grafika/ and music/
// (a build or a copied data set), else the name inside the installed data folder. Called
// by the one place each kind of file is opened; messages keep naming the file by its
// relative name. Any other name is given back unchanged. The current folder is looked
// at on every call (two stat calls; a show opens a few dozen files).
std::string data_path(const char* relative);

// The installed data folder the programs fall back to, fixed when they are built.
const char* data_installed_folder();
