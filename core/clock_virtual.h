// Control of the virtual clock, for the tests that drive parts frame by frame.
#pragma once

#include <cstdint>

// Sets the virtual clock's reading; the next clock_now returns it.
void clock_virtual_set(int32_t now);
