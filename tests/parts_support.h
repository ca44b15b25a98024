// What the tests of the parts share: owned images, picture files, folders of their own.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/image.h"

// An image released at the end of the scope; released() hands it on to a new owner.
struct OwnedImage {
    Image* image = nullptr;
    OwnedImage(int width, int height);
    ~OwnedImage();
    Image* released();
};

// Writes a picture file of width x height with these pixels (rows packed) and colours,
// making the folders above it.
void write_pcx(const std::string& path, int width, int height, const std::vector<uint8_t>& pixels,
               const Palette& palette);

// A new empty folder under the build's test-runs folder, for files of one test.
std::string test_folder(const std::string& name);

// Makes folder the working folder and sends standard output to standard error, so that
// a death test can match the messages a failing step prints. For death statements only.
void enter_for_death(const std::string& folder);

// Runs a step that must return: should it end the program instead (a fatal-exit
// sequence exits with status 0, which would look like a pass), the test program fails.
void must_return(const std::function<void()>& step);

// A load or run step tried with two pictures of these sizes (width 0: the file is left
// out), and the message it must end the program with.
struct PictureCase {
    const char* name;
    int width1, height1, width2, height2;
    const char* message;
};

// A new folder (named after the case) holding the case's two pictures at path1 and
// path2 below it, with patterned pixels and palette.
std::string picture_case_folder(const PictureCase& c, const char* path1, const char* path2, const Palette& palette);
