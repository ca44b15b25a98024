// The console layer's KMS output: device search, the two dumb buffers, page flips (one
// buffer after a lost flip), vertical blanks, and the console's own picture put back.
#include "display/vgalayer/kms.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <time.h>
#include <sys/mman.h>
#include <unistd.h>
#include <xf86drm.h>
#include <xf86drmMode.h>

#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kMaxCards = 16;
// A flip completes on the next vertical blank; one that has not after this long
// never will (the driver lost it).
constexpr int kFlipTimeoutMs = 100;

struct Buffer {
    uint32_t handle = 0;
    uint32_t fb_id = 0;
    uint32_t pitch = 0;
    uint64_t size = 0;
    uint8_t* pixels = nullptr;
};

// The device and what the console showed on it, from kms_open to the end of the process.
int fd = -1;
char path[32];
uint32_t connector_id = 0;
uint32_t crtc_id = 0;
uint32_t vblank_pipe_bits = 0; // the CRTC's index in the form the vertical-blank wait wants
drmModeModeInfo mode;
uint32_t console_fb_id = 0; // what the CRTC showed before us, and where
uint32_t console_x = 0;
uint32_t console_y = 0;

Buffer buffers[2];
int front = 0; // the buffer on screen, or about to be once a flip completes
bool flip_pending = false;
// False once a flip was lost: from then on every frame is drawn into the front buffer
// after the vertical blank, and no flip is asked for, so that a late event can never
// be taken for another flip's.
bool flipping = true;
bool vblank_counted = true; // false once the driver said it counts no vertical blanks
// Whether the CRTC shows our buffers; read by kms_release in a signal handler.
volatile sig_atomic_t taken = 0;

void on_flip(int, unsigned int, unsigned int, unsigned int, void*)
{
    flip_pending = false;
}

int64_t now_ms()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (int64_t)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

// Waits until the flip asked for completes, or for kFlipTimeoutMs at most: then it is
// lost, and the layer stops flipping.
void wait_for_flip()
{
    drmEventContext events;
    std::memset(&events, 0, sizeof events);
    events.version = 2;
    events.page_flip_handler = on_flip;
    const int64_t deadline = now_ms() + kFlipTimeoutMs;
    while (flip_pending) {
        // Past the deadline (a stop, say, held the process) an event already there still
        // counts.
        const int64_t left = deadline - now_ms();
        pollfd p{fd, POLLIN, 0};
        int ready = poll(&p, 1, left > 0 ? (int)left : 0);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready > 0 && drmHandleEvent(fd, &events) != 0)
            ready = -1;
        if (!flip_pending || (ready >= 0 && left > 0))
            continue;
        flip_pending = false;
        flipping = false;
        std::fprintf(stderr, "%s: a page flip did not complete within %d ms; drawing into one buffer from now on\n",
                     program_invocation_short_name, kFlipTimeoutMs);
    }
}

void free_buffers()
{
    for (Buffer& b : buffers) {
        if (b.pixels != nullptr)
            munmap(b.pixels, b.size);
        if (b.fb_id != 0)
            drmModeRmFB(fd, b.fb_id);
        if (b.handle != 0)
            drmModeDestroyDumbBuffer(fd, b.handle);
        b = Buffer{};
    }
}

bool make_buffer(Buffer& b)
{
    if (drmModeCreateDumbBuffer(fd, mode.hdisplay, mode.vdisplay, 32, 0, &b.handle, &b.pitch, &b.size) != 0)
        return false;
    uint64_t offset = 0;
    if (drmModeAddFB(fd, mode.hdisplay, mode.vdisplay, 24, 32, b.pitch, b.handle, &b.fb_id) != 0 ||
        drmModeMapDumbBuffer(fd, b.handle, &offset) != 0)
        return false;
    void* map = mmap(nullptr, b.size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, (off_t)offset);
    if (map == MAP_FAILED)
        return false;
    b.pixels = static_cast<uint8_t*>(map);
    std::memset(b.pixels, 0, b.size);
    return true;
}

// The connected connector whose CRTC is lit, with the CRTC's mode: the console's screen.
bool find_console_crtc(const drmModeRes& resources)
{
    for (int c = 0; c < resources.count_connectors; ++c) {
        drmModeConnector* connector = drmModeGetConnectorCurrent(fd, resources.connectors[c]);
        if (connector == nullptr)
            continue;
        drmModeEncoder* encoder = connector->connection == DRM_MODE_CONNECTED && connector->encoder_id != 0
                                      ? drmModeGetEncoder(fd, connector->encoder_id)
                                      : nullptr;
        drmModeCrtc* crtc =
            encoder != nullptr && encoder->crtc_id != 0 ? drmModeGetCrtc(fd, encoder->crtc_id) : nullptr;
        bool lit = crtc != nullptr && crtc->mode_valid && crtc->buffer_id != 0;
        if (lit) {
            connector_id = connector->connector_id;
            crtc_id = crtc->crtc_id;
            mode = crtc->mode;
            console_fb_id = crtc->buffer_id;
            console_x = crtc->x;
            console_y = crtc->y;
            for (int i = 0; i < resources.count_crtcs; ++i)
                if (resources.crtcs[i] == crtc_id)
                    vblank_pipe_bits = i == 0 ? 0u
                                       : i == 1
                                           ? (uint32_t)DRM_VBLANK_SECONDARY
                                           : ((uint32_t)i << DRM_VBLANK_HIGH_CRTC_SHIFT) & DRM_VBLANK_HIGH_CRTC_MASK;
        }
        drmModeFreeCrtc(crtc);
        drmModeFreeEncoder(encoder);
        drmModeFreeConnector(connector);
        if (lit)
            return true;
    }
    return false;
}

// Whether the open device can be ours: dumb buffers, master (no other program is), a
// lit connector, and the two buffers made.
bool usable_device()
{
    uint64_t dumb = 0;
    if (drmGetCap(fd, DRM_CAP_DUMB_BUFFER, &dumb) != 0 || dumb == 0)
        return false;
    if (!drmIsMaster(fd) && drmSetMaster(fd) != 0)
        return false;
    drmModeRes* resources = drmModeGetResources(fd);
    if (resources == nullptr)
        return false;
    bool found = find_console_crtc(*resources);
    drmModeFreeResources(resources);
    return found && make_buffer(buffers[0]) && make_buffer(buffers[1]);
}

} // namespace

const char* kms_open()
{
    if (fd >= 0)
        return path;
    for (int card = 0; card < kMaxCards; ++card) {
        std::snprintf(path, sizeof path, "/dev/dri/card%d", card);
        fd = open(path, O_RDWR | O_CLOEXEC);
        if (fd < 0)
            continue;
        if (usable_device()) {
            // Master again only while a graphics mode shows: until then the console and
            // other programs keep the device as they had it.
            drmDropMaster(fd);
            return path;
        }
        free_buffers();
        close(fd);
        fd = -1;
    }
    return nullptr;
}

int kms_width()
{
    return mode.hdisplay;
}

int kms_height()
{
    return mode.vdisplay;
}

bool kms_take()
{
    if (fd < 0)
        return false;
    // A flip asked for before the screen was given away still completes, and reports it.
    wait_for_flip();
    if (!drmIsMaster(fd) && drmSetMaster(fd) != 0)
        return false;
    if (drmModeSetCrtc(fd, crtc_id, buffers[front].fb_id, 0, 0, &connector_id, 1, &mode) != 0)
        return false;
    taken = 1;
    return true;
}

FbSurface kms_back_buffer()
{
    wait_for_flip();
    if (!flipping)
        kms_wait_vblank();
    const Buffer& b = buffers[flipping ? 1 - front : front];
    return FbSurface{b.pixels, mode.hdisplay, mode.vdisplay, (int)b.pitch, 4, {16, 8}, {8, 8}, {0, 8}};
}

void kms_flip()
{
    if (!flipping)
        return;
    int back = 1 - front;
    if (drmModePageFlip(fd, crtc_id, buffers[back].fb_id, DRM_MODE_PAGE_FLIP_EVENT, nullptr) == 0) {
        flip_pending = true;
        front = back;
        return;
    }
    // A driver without page flips shows the buffer at once (and may tear).
    if (drmModeSetCrtc(fd, crtc_id, buffers[back].fb_id, 0, 0, &connector_id, 1, &mode) == 0)
        front = back;
}

void kms_wait_vblank()
{
    if (fd < 0 || !vblank_counted)
        return;
    drmVBlank blank;
    std::memset(&blank, 0, sizeof blank);
    blank.request.type = (drmVBlankSeqType)(DRM_VBLANK_RELATIVE | vblank_pipe_bits);
    blank.request.sequence = 1;
    if (drmWaitVBlank(fd, &blank) != 0 && (errno == EOPNOTSUPP || errno == EINVAL))
        vblank_counted = false;
}

void kms_release()
{
    if (!taken)
        return;
    taken = 0;
    drmModeSetCrtc(fd, crtc_id, console_fb_id, console_x, console_y, &connector_id, 1, &mode);
    drmDropMaster(fd);
}
