// The modes the console layer knows: their numbers and sizes.
#include "display/vgalayer/vgalayer.h"

namespace {

struct ModeEntry {
    int number;
    vga_modeinfo info;
};

constexpr ModeEntry kModes[] = {
    {G320x200x256, {320, 200, 256, 320}}, {G320x240x256, {320, 240, 256, 320}}, {G320x400x256, {320, 400, 256, 320}},
    {G360x480x256, {360, 480, 256, 360}}, {G640x480x256, {640, 480, 256, 640}}, {G800x600x256, {800, 600, 256, 800}},
};

} // namespace

const vga_modeinfo* vga_getmodeinfo(int mode)
{
    for (const ModeEntry& m : kModes)
        if (m.number == mode)
            return &m.info;
    return nullptr;
}
