// A stand-in for the console layer, linked into the console back-end's tests in place
// of the real one: modes as the test says, the physical screen kept in memory.
#pragma once

#include <cstdint>
#include <vector>

struct FakeLayer {
    int init_result = 0;         // what vga_init returns
    std::vector<int> available;  // the modes vga_hasmode reports
    int setmode_result = 0;      // what vga_setmode returns for a graphics mode
    int mode = 0;                // the mode set (TEXT = 0)
    std::vector<int> modes_set;  // every vga_setmode argument, in order
    std::vector<uint8_t> screen; // the physical screen of the mode set
    int copies = 0;              // gl_copyscreen calls onto the physical screen
    std::vector<int> palette;    // the last vga_setpalvec values
    int palette_start = -1;
    int palette_count = 0;
    int retraces = 0;        // vga_waitretrace calls
    int virtual_screens = 0; // virtual contexts made and not yet freed
    std::vector<int> keys;   // what vga_getkey hands out, in order, then 0
};

// Reset by each test; read after the calls.
extern FakeLayer fake_layer;
