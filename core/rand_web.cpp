// The browser build's srand and rand: the native C library's sequence, so a seed gives
// the same random numbers, and the same frames, in the browser as on the terminal.
#include <cstdlib>

#include "core/rand_glibc.h"

namespace {
RandGlibc generator;
bool seeded;
} // namespace

extern "C" void srand(unsigned seed)
{
    rand_glibc_seed(generator, seed);
    seeded = true;
}

extern "C" int rand()
{
    // Without srand the C library runs as if seeded with 1.
    if (!seeded)
        srand(1);
    return rand_glibc_next(generator);
}
