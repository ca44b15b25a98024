// Loading, size refusal and framing shared by the parts.
#include "parts/part_pictures.h"

#include <cstdio>

#include "core/shared.h"
#include "fx/draw.h"
#include "pcx/pcx.h"

void load_or_exit(const char* path, Image** picture, Palette* palette)
{
    if (pcx_load(path, picture, palette) != 5) {
        std::printf("Cann't load image %s !\n", path);
        fatal_exit();
    }
}

void refuse_size(Image** picture)
{
    std::printf("Wrong image size!\n");
    image_free(picture);
    *picture = nullptr;
    fatal_exit();
}

void alloc_or_exit(Image** image, uint32_t width, uint32_t height, bool with_music_shutdown)
{
    if (image_alloc(image, width, height) != 0) {
        std::printf("Cann't allocate image!\n");
        fatal_exit(with_music_shutdown, 1);
    }
}

void frame_border(Image* image, uint8_t value)
{
    const int w = image->width;
    const int h = image->height;
    image_fill_rect(image, 0, 0, w, 1, value);
    image_fill_rect(image, 0, h - 1, w, h, value);
    image_fill_rect(image, 0, 1, 1, h - 1, value);
    image_fill_rect(image, w - 1, 1, w, h - 1, value);
}
