// What the tests of the parts share: owned images, picture files, folders of their own.
#include "tests/parts_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

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
    std::vector<uint8_t> file(128, 0);
    file[0] = 10; // manufacturer
    file[1] = 5;  // version
    file[2] = 1;  // run-length coded
    file[3] = 8;  // bits per pixel
    auto put16 = [&](int at, int value) {
        file[at] = (uint8_t)(value & 255);
        file[at + 1] = (uint8_t)(value >> 8);
    };
    put16(8, width - 1);
    put16(10, height - 1);
    file[65] = 1;
    put16(66, width);
    // Runs of up to 63 equal bytes; a single value below 192 stands for itself.
    for (size_t i = 0; i < pixels.size();) {
        size_t run = 1;
        while (i + run < pixels.size() && run < 63 && pixels[i + run] == pixels[i])
            ++run;
        if (run == 1 && pixels[i] < 192) {
            file.push_back(pixels[i]);
        } else {
            file.push_back((uint8_t)(192 + run));
            file.push_back(pixels[i]);
        }
        i += run;
    }
    file.push_back(12);
    file.insert(file.end(), palette.rgb, palette.rgb + sizeof palette.rgb);
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary).write((const char*)file.data(), (std::streamsize)file.size());
}

std::string test_folder(const std::string& name)
{
    const fs::path folder = fs::path(TARQLE_BUILD_DIR) / "test-runs" / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder.string();
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
