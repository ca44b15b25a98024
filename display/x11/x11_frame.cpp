// The X11 frame image shared by the X11 back-ends: made in a shared segment when the
// server takes one, filled from the screen image, and released.
#include "display/x11/x11_frame.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <array>
#include <bit>
#include <cstdlib>
#include <cstring>

X11Display x11;

namespace {

// Set by the error handler that stands in while the segment is being attached.
bool attach_refused;

int note_attach_error(Display*, XErrorEvent*)
{
    attach_refused = true;
    return 0;
}

// Lets go of a frame image whose segment the server refused: the mapping, the image
// record and the segment record (the segment is already marked for removal).
void release_shared_image(XImage* image, XShmSegmentInfo* segment)
{
    shmdt(segment->shmaddr);
    image->data = nullptr;
    // obdata points at the segment record, which is ours to free.
    image->obdata = nullptr;
    XDestroyImage(image);
    std::free(segment);
}

// Shared segment path of x11_image_create. Result as x11_image_create; *image stays
// null when the server refused the segment (everything already released).
int create_shared_image(XImage** image, XShmSegmentInfo** segment, int width, int height, Display* display,
                        Visual* visual)
{
    XShmSegmentInfo* info = (XShmSegmentInfo*)std::calloc(1, sizeof(XShmSegmentInfo));
    if (info == nullptr)
        return -3;
    XImage* img = XShmCreateImage(display, visual, (unsigned)x11.visual_info.depth, ZPixmap, nullptr, info,
                                  (unsigned)width, (unsigned)height);
    if (img == nullptr) {
        std::free(info);
        return -1;
    }
    const size_t size = (size_t)img->bytes_per_line * (size_t)img->height;
    // Only this user may read or change the picture while the program runs.
    info->shmid = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (info->shmid < 0) {
        img->obdata = nullptr;
        XDestroyImage(img);
        std::free(info);
        return -2;
    }
    void* address = shmat(info->shmid, nullptr, 0);
    if (address == (void*)-1) {
        shmctl(info->shmid, IPC_RMID, nullptr);
        img->obdata = nullptr;
        XDestroyImage(img);
        std::free(info);
        return -2;
    }
    info->shmaddr = img->data = (char*)address;
    info->readOnly = False;

    // A server that cannot reach the segment (over TCP, or running as another user)
    // answers with an error; it must not end the program, so it is caught here.
    XSync(display, False);
    attach_refused = false;
    XErrorHandler previous = XSetErrorHandler(note_attach_error);
    const Status attached = XShmAttach(display, info);
    XSync(display, False);
    XSetErrorHandler(previous);
    // From here the segment goes away by itself once the program and the server let go
    // of it, also if the program is killed.
    shmctl(info->shmid, IPC_RMID, nullptr);
    if (attach_refused || !attached) {
        release_shared_image(img, info);
        return 0;
    }
    *image = img;
    *segment = info;
    return 0;
}

// An indexed visual shows the palette indices themselves.
constexpr auto kIndexTable = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i)
        t[i] = i;
    return t;
}();
const uint32_t* const kIndices = kIndexTable.data();

} // namespace

int x11_image_create(XImage** image, XShmSegmentInfo** segment, int width, int height, Display* display, Visual* visual)
{
    *image = nullptr;
    *segment = nullptr;
    if (x11.use_shared_memory) {
        const int result = create_shared_image(image, segment, width, height, display, visual);
        if (result != 0)
            return result;
        if (*image == nullptr)
            x11.use_shared_memory = 0;
    }
    if (*image == nullptr) {
        XImage* img = XCreateImage(display, visual, (unsigned)x11.visual_info.depth, ZPixmap, 0, nullptr,
                                   (unsigned)width, (unsigned)height, 32, 0);
        if (img == nullptr)
            return -1;
        img->data = (char*)std::malloc((size_t)img->bytes_per_line * (size_t)img->height);
        if (img->data == nullptr) {
            XDestroyImage(img);
            return -2;
        }
        *image = img;
    }
    std::memset((*image)->data, 0, (size_t)(*image)->bytes_per_line * (size_t)(*image)->height);
    return 0;
}

void frame_fill(XImage* frame, const Image& image, const uint32_t* table, int pixel_size)
{
    const int native_order = std::endian::native == std::endian::little ? LSBFirst : MSBFirst;
    const int bits = frame->bits_per_pixel;
    if ((bits == 8 || bits == 16 || bits == 32) && (bits == 8 || frame->byte_order == native_order)) {
        convert_frame(image, table != nullptr ? table : kIndices,
                      {(uint8_t*)frame->data, frame->bytes_per_line, bits / 8, pixel_size, nullptr});
        return;
    }
    // A layout the conversion does not write (24-bit elements, the other byte order):
    // slow, but the picture is right.
    for (int32_t y = 0; y < frame->height; ++y)
        for (int32_t x = 0; x < frame->width; ++x) {
            const uint8_t index =
                image.pixels[(size_t)(y / pixel_size) * (size_t)image.width + (size_t)(x / pixel_size)];
            XPutPixel(frame, x, y, table != nullptr ? table[index] : index);
        }
}

void x11_frame_release(XImage** image, XShmSegmentInfo** segment)
{
    if (*image != nullptr) {
        if (*segment != nullptr) {
            XShmDetach(x11.display, *segment);
            shmdt((*segment)->shmaddr);
            std::free(*segment);
        } else {
            std::free((*image)->data);
        }
        (*image)->data = nullptr;
        (*image)->obdata = nullptr;
        XDestroyImage(*image);
    }
    *image = nullptr;
    *segment = nullptr;
}
