// tarqle-make-data OUT_DIR: writes every picture and the tune below OUT_DIR.
#include <cstdio>

#include "tools/data.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT_DIR\n", argv[0]);
        return 2;
    }
    if (make_pictures(argv[1]) != 0 || make_tune(argv[1]) != 0)
        return 1;
    return 0;
}
