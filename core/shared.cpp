// The state every module shares.
#include "core/shared.h"

Palette work_palette;
bool show_failed;
