// tarqle-make-icon PICTURE.pcx OUT.png SIZE: the desktop icon, made from one of the show's pictures.
// It is the largest centred square of the picture, sampled down to SIZE x SIZE in the picture's own colours.
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "pcx/pcx.h"

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: tarqle-make-icon PICTURE.pcx OUT.png SIZE\n");
        return 2;
    }
    const int size = std::atoi(argv[3]);
    Image* image = nullptr;
    Palette pal;
    if (size < 16 || size > 1024 || pcx_load(argv[1], &image, &pal) != 5) {
        std::fprintf(stderr, "\ntarqle-make-icon: cannot make an icon of %s\n", argv[1]);
        return 1;
    }
    const int side = image->width < image->height ? image->width : image->height;
    const int left = (image->width - side) / 2, top = (image->height - side) / 2;
    std::vector<png_byte> rgb((size_t)size * (size_t)size * 3);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const int sx = left + x * side / size, sy = top + y * side / size;
            const uint8_t v = image->pixels[(size_t)sy * (size_t)image->width + (size_t)sx];
            for (int c = 0; c < 3; ++c)
                rgb[((size_t)y * (size_t)size + (size_t)x) * 3 + (size_t)c] = pal.rgb[3 * v + c];
        }
    image_free(&image);

    FILE* f = std::fopen(argv[2], "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (f == nullptr || info == nullptr || setjmp(png_jmpbuf(png))) {
        std::fprintf(stderr, "tarqle-make-icon: cannot write %s\n", argv[2]);
        return 1;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, (png_uint_32)size, (png_uint_32)size, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < size; ++y)
        png_write_row(png, &rgb[(size_t)y * (size_t)size * 3]);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0 ? 0 : 1;
}
