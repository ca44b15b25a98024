// An image a test owns for its scope: allocated on construction, released on destruction.
#pragma once

#include <gtest/gtest.h>

#include "core/image.h"

struct Owned {
    Image* image = nullptr;
    Owned(uint32_t w, uint32_t h)
    {
        EXPECT_EQ(image_alloc(&image, w, h), 0);
    }
    ~Owned()
    {
        image_free(&image);
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    uint8_t& at(int x, int y)
    {
        return image->pixels[y * image->width + x];
    }
};
