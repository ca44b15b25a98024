// The state a seek puts back: what the show carries from one frame to a later one, each
// module declaring its own, so a replay can start from a state kept earlier.
#pragma once

#include <cstddef>
#include <cstdint>

// Declares size bytes at bytes as state a seek must put back: memory that a later frame
// reads as an earlier one left it (a generator, positions that move frame by frame, a
// buffer that every frame carries on), beyond what a load step makes and no run step
// changes. Declared by the module that owns it: static state once, when the program
// starts (returns true, for an initialiser); state made by a load step by that step, and
// withdrawn by the free step before it goes. Declaring the same bytes again does nothing.
bool seek_state_declare(void* bytes, size_t size);
void seek_state_withdraw(void* bytes);

// The bytes of all the declared state, which seek_state_save writes and seek_state_restore
// reads (the same declarations in between).
size_t seek_state_size();
void seek_state_save(uint8_t* to);
void seek_state_restore(const uint8_t* from);
