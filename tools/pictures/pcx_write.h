// Writing 256-colour PCX pictures: version 5, run-length coded, 8 bits, one plane.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/image.h"

// The whole file for width x height pixels (rows from the top, no gap) and palette.
// Rows are stored with an even number of bytes per line, padded with 0, and each row is
// coded on its own. Used by the picture maker and the tests; the result is the caller's.
std::vector<uint8_t> pcx_encode(const uint8_t* pixels, int32_t width, int32_t height, const Palette& palette);

// Writes pcx_encode's bytes to path, making the folders above it. Result 0, or -1 after
// a message on standard error.
int pcx_write(const std::string& path, const uint8_t* pixels, int32_t width, int32_t height, const Palette& palette);
