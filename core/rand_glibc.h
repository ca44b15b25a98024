// The C library generator of the native programs (glibc's additive feedback generator,
// the default "TYPE_3" table of 31 words): the show's shared generator on every platform,
// as a plain record whose state can be copied.
#pragma once

#include <cstdint>

struct RandGlibc {
    int32_t table[31];
    int front; // the word that is updated next
    int rear;  // the word added to it, three places behind
};

// Fills the table from seed as srand does (seed 0 counts as 1) and runs it past the
// 310 numbers the C library throws away. The caller owns the state.
void rand_glibc_seed(RandGlibc& generator, uint32_t seed);

// The next number, 0 .. 2147483647: the same sequence as the C library's rand after
// srand with the same seed.
int32_t rand_glibc_next(RandGlibc& generator);
