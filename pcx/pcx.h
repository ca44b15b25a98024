// Reading 256-colour PCX pictures into images and palettes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/image.h"

// Reads the whole file into a new buffer of length + 1 bytes (a zero byte after the
// data), stored in *data; the caller owns it (free()). Result: the length; -1 the file
// cannot be opened, its length cannot be found or the buffer cannot be allocated (*data
// null); -2 a short read ("File read failure\n", *data null).
long file_read_all(const char* path, uint8_t** data);

// Decodes the picture at path into a new block of width x height bytes (*pixels, owned
// by the caller, free()) and its size; fills palette with the file's last 768 bytes when
// it is not null. Result 0, or -1 unreadable, -2 bad header, -3 no memory, -4 malformed,
// each after its message (no line end: the caller's message follows on the same line).
// *pixels is null after every failure.
int pcx_decode(const char* path, uint8_t** pixels, Palette* palette, int32_t* width, int32_t* height);

// pcx_decode on file bytes already in memory (length bytes at data, which stay the
// caller's and are only read); path names the picture in the messages. Results and
// outputs as pcx_decode, except that -1 means a length of 0. Used by pcx_decode, and by
// the tests and the fuzzing target, which have no file.
int pcx_decode_memory(const char* path, const uint8_t* data, size_t length, uint8_t** pixels, Palette* palette,
                      int32_t* width, int32_t* height);

// Loads the picture at path into a new Image in *image (null first, and on failure).
// palette may be null. Result 5 when loaded, -1 on any failure. The caller owns the
// image and releases it with image_free.
int pcx_load(const char* path, Image** image, Palette* palette);
