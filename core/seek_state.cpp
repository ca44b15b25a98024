// The declared state a seek puts back, copied as one run of bytes.
#include "core/seek_state.h"

#include <cstdlib>
#include <cstring>

namespace {

struct Region {
    void* bytes;
    size_t size;
};
// Zero-initialised, so static state may be declared before any constructor runs.
constexpr int kMostRegions = 16;
Region regions[kMostRegions];
int region_count;

} // namespace

bool seek_state_declare(void* bytes, size_t size)
{
    for (int i = 0; i < region_count; ++i)
        if (regions[i].bytes == bytes)
            return true;
    // A fixed number of owners declare: one more is a program's mistake, not an input's.
    if (region_count == kMostRegions)
        std::abort();
    regions[region_count++] = {bytes, size};
    return true;
}

void seek_state_withdraw(void* bytes)
{
    for (int i = 0; i < region_count; ++i)
        if (regions[i].bytes == bytes) {
            // The others keep their order, and with it their place in what is saved.
            std::memmove(&regions[i], &regions[i + 1], (size_t)(region_count - i - 1) * sizeof regions[0]);
            --region_count;
            return;
        }
}

size_t seek_state_size()
{
    size_t size = 0;
    for (int i = 0; i < region_count; ++i)
        size += regions[i].size;
    return size;
}

void seek_state_save(uint8_t* to)
{
    for (int i = 0; i < region_count; ++i) {
        std::memcpy(to, regions[i].bytes, regions[i].size);
        to += regions[i].size;
    }
}

void seek_state_restore(const uint8_t* from)
{
    for (int i = 0; i < region_count; ++i) {
        std::memcpy(regions[i].bytes, from, regions[i].size);
        from += regions[i].size;
    }
}
