// What the tests of the parts share: owned images, picture files, folders of their own.
#include "tests/parts_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "tools/pictures/pcx_write.h"

namespace fs = std::filesystem;

OwnedImage::OwnedImage(int width, int height)
{
    EXPECT_EQ(image_alloc(&image, (uint32_t)width, (uint32_t)height), 0);
}

OwnedImage::~OwnedImage()
{
    image_free(&image);
}

Image* OwnedImage::released()
{
    Image* out = image;
    image = nullptr;
    return out;
}

void write_pcx(const std::string& path, int width, int height, const std::vector<uint8_t>& pixels,
               const Palette& palette)
{
    ASSERT_EQ(pixels.size(), (size_t)width * (size_t)height);
    ASSERT_EQ(pcx_write(path, pixels.data(), width, height, palette), 0) << path;
}

std::string test_folder(const std::string& name)
{
    const fs::path folder = fs::path(TARQLE_BUILD_DIR) / "test-runs" / name;
    fs::remove_all(folder);
    // A data folder of its own: the programs read from the current folder only when it
    // holds both grafika/ and music/.
    fs::create_directories(folder / "grafika");
    fs::create_directories(folder / "music");
    return folder.string();
}

std::string picture_case_folder(const PictureCase& c, const char* path1, const char* path2, const Palette& palette)
{
    const std::string folder = test_folder(c.name);
    std::vector<uint8_t> one((size_t)(c.width1 * c.height1)), two((size_t)(c.width2 * c.height2));
    for (size_t k = 0; k < one.size(); ++k)
        one[k] = (uint8_t)(k % 320);
    for (size_t k = 0; k < two.size(); ++k)
        two[k] = (uint8_t)(k / 320);
    if (c.width1 > 0)
        write_pcx(folder + "/" + path1, c.width1, c.height1, one, palette);
    if (c.width2 > 0)
        write_pcx(folder + "/" + path2, c.width2, c.height2, two, palette);
    return folder;
}

void enter_for_death(const std::string& folder)
{
    if (chdir(folder.c_str()) != 0)
        std::abort();
    std::fflush(stdout);
    dup2(STDERR_FILENO, STDOUT_FILENO);
}

namespace {
bool inside_step;

void fail_if_inside_step()
{
    if (inside_step) {
        std::fprintf(stderr, "a step that should return ended the program\n");
        std::_Exit(1);
    }
}
} // namespace

void must_return(const std::function<void()>& step)
{
    static const bool registered = std::atexit(fail_if_inside_step) == 0;
    ASSERT_TRUE(registered);
    inside_step = true;
    step();
    inside_step = false;
}
