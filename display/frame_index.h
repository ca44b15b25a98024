// The frame index of the headless back-ends: one line per presented frame, alike on every
// platform, so runs can be compared line for line.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/image.h"

// CRC-32 of size bytes (the polynomial, start and final values of zlib's crc32).
uint32_t frame_crc(const uint8_t* data, size_t size);

// Room for the longest line frame_index_line writes, with its terminating zero.
constexpr size_t kFrameIndexLineSize = 64;

// Writes "frame<TAB>time<TAB>image CRC<TAB>palette CRC\n" (CRCs as 8 hex digits) for a
// presented image and the palette it is shown in, into line, which holds at least
// kFrameIndexLineSize bytes. Returns the line's length. Called by the back-ends' present.
int frame_index_line(char* line, int frame, int32_t time, const Image& image, const Palette& palette);

// The numbering of a frame index across a seek's replay: the replay's frames are counted,
// not written, and the one it stops on is written at the hand-over under its own number.
struct FrameNumbering {
    int next;      // the number of the next frame written
    bool replayed; // frames were counted unseen since the last one written
};

// Called by a headless back-end's present for every frame, replaying being whether the
// show runs unseen (!viewer_frame_seen): false then (the frame is only counted); otherwise
// true, with the frame's number in *number.
bool frame_index_number(FrameNumbering* numbering, bool replaying, int* number);
