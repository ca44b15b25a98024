// Writing small 256-colour PCX pictures for the tests that load them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/image.h"

// Writes a run-length coded picture of width x height pixels (row after row) with the
// palette as its trailer to path, creating the folders on the way. False on failure.
bool write_pcx(const std::string& path, int width, int height, const std::vector<uint8_t>& pixels,
               const Palette& palette);
