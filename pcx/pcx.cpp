// PCX picture decoding; no picture loads until the decoder is built.
#include "pcx/pcx.h"

int pcx_load(const char*, Image** image, Palette*)
{
    *image = nullptr;
    return -1;
}
