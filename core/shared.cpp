// The state every module shares.
#include "core/shared.h"

#include "core/seek_state.h"

Palette work_palette;
bool show_failed;

namespace {
// The whiteout fades the palette the fire left in it.
[[maybe_unused]] const bool palette_kept = seek_state_declare(&work_palette, sizeof work_palette);
} // namespace
