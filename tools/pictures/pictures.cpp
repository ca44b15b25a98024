// The picture maker: every family of pictures in turn, each writing its own files.
#include "tools/data.h"
#include "tools/pictures/families.h"

int make_pictures(const std::string& out_dir)
{
    Out out{out_dir};
    make_presents(out);
    make_landscapes(out);
    make_lettering(out);
    make_textures(out);
    make_still_lifes(out);
    make_fire_pictures(out);
    make_closing(out);
    return out.failures == 0 ? 0 : 1;
}
