// The console test's helper inside the emulator: shows a known picture through the
// console layer, leaves it in the ways a program can, and reads the console's mode.
//   vga_probe kdmode        prints "text" or "graphics" (the console's current mode)
//   vga_probe master        prints "free" when the DRM device has no master, else "held"
//   vga_probe pty PROG ...  runs PROG on a new pseudo-terminal of its own (its standard
//                           streams as given) and exits with its status
//   vga_probe pattern MODE  shows the test picture, says "device" and what the layer
//                           opened, then "ready"; on SIGUSR1 changes
//                           colour 1 (nothing else) and says "recoloured"; waits for
//                           another signal
//   vga_probe hold MODE     shows it, says "ready", and waits for a signal
//   vga_probe crash MODE    shows it, then dies of SIGSEGV
//   vga_probe fork MODE     shows it, lets a child leave through exit(), then exits
//                           itself without giving the console back
//   vga_probe speed MODE    puts changing frames on screen for 3 s and counts them,
//                           then times 20 waits for the retrace
#include <fcntl.h>
#include <xf86drm.h>
#include <linux/kd.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "display/vgalayer/vgalayer.h"
#include "tests/vga_pattern.h"

namespace {

const char* console_mode()
{
    int fd = open("/dev/tty0", O_RDWR | O_CLOEXEC | O_NOCTTY);
    int mode = -1;
    if (fd >= 0) {
        ioctl(fd, KDGETMODE, &mode);
        close(fd);
    }
    return mode == KD_TEXT ? "text" : mode == KD_GRAPHICS ? "graphics" : "none";
}

volatile sig_atomic_t recolour = 0;

void on_usr1(int)
{
    recolour = 1;
}

bool show_pattern(int mode)
{
    if (vga_init() != 0 || vga_setmode(mode) != 0) {
        std::printf("cannot set mode %d\n", mode);
        return false;
    }
    const vga_modeinfo* info = vga_getmodeinfo(mode);
    GraphicsContext screen;
    gl_setcontextvga(mode);
    gl_getcontext(&screen);
    if (gl_setcontextvgavirtual(mode) != 0)
        return false;
    GraphicsContext canvas;
    gl_getcontext(&canvas);
    for (int y = 0; y < info->height; ++y)
        for (int x = 0; x < info->width; ++x)
            canvas.vbuf[y * canvas.bytewidth + x] = pattern_index(x, y, info->width, info->height);
    int palette[768] = {};
    std::memcpy(palette, kPatternPalette, sizeof kPatternPalette);
    vga_setpalvec(0, 256, palette);
    gl_copyscreen(&screen);
    gl_freecontext(&canvas);
    return true;
}

} // namespace

// Becoming master succeeds only while no other program is.
const char* drm_master()
{
    const int fd = open("/dev/dri/card0", O_RDWR | O_CLOEXEC);
    const bool is_free = fd >= 0 && drmSetMaster(fd) == 0;
    if (fd >= 0)
        close(fd);
    return is_free ? "free" : "held";
}

int run_on_pty(char** argv)
{
    const int far_end = posix_openpt(O_RDWR | O_NOCTTY);
    if (far_end < 0 || grantpt(far_end) != 0 || unlockpt(far_end) != 0)
        return 126;
    const pid_t child = fork();
    if (child == 0) {
        // A session's leader gets the first terminal it opens as its controlling one.
        setsid();
        if (open(ptsname(far_end), O_RDWR) < 0)
            _exit(126);
        execvp(argv[0], argv);
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "kdmode") == 0) {
        std::printf("%s\n", console_mode());
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "master") == 0) {
        std::printf("%s\n", drm_master());
        return 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "pty") == 0)
        return run_on_pty(argv + 2);
    if (argc != 3)
        return 2;
    int mode = std::atoi(argv[2]);
    if (!show_pattern(mode))
        return 1;
    if (std::strcmp(argv[1], "pattern") == 0) {
        signal(SIGUSR1, on_usr1);
        std::printf("device %s\nready\n", vga_device());
        std::fflush(stdout);
        for (;;) {
            pause();
            if (recolour) {
                recolour = 0;
                vga_setpalvec(1, 1, kPatternRecolour);
                // A true-colour screen shows the change by the next frame or retrace wait.
                vga_waitretrace();
                std::printf("recoloured\n");
                std::fflush(stdout);
            }
        }
    }
    if (std::strcmp(argv[1], "hold") == 0) {
        std::printf("ready\n");
        std::fflush(stdout);
        for (;;)
            pause();
    }
    if (std::strcmp(argv[1], "speed") == 0) {
        GraphicsContext screen;
        GraphicsContext canvas;
        gl_setcontextvga(mode);
        gl_getcontext(&screen);
        gl_setcontextvgavirtual(mode);
        gl_getcontext(&canvas);
        const vga_modeinfo* info = vga_getmodeinfo(mode);
        timespec start, now;
        clock_gettime(CLOCK_MONOTONIC, &start);
        int frames = 0;
        do {
            std::memset(canvas.vbuf, frames & 7, (size_t)canvas.bytewidth * info->height);
            gl_copyscreen(&screen);
            ++frames;
            clock_gettime(CLOCK_MONOTONIC, &now);
        } while (now.tv_sec - start.tv_sec < 3);
        clock_gettime(CLOCK_MONOTONIC, &start);
        for (int i = 0; i < 20; ++i)
            vga_waitretrace();
        clock_gettime(CLOCK_MONOTONIC, &now);
        double waits_ms = (double)(now.tv_sec - start.tv_sec) * 1e3 + (double)(now.tv_nsec - start.tv_nsec) / 1e6;
        std::printf("%d frames of %dx%d in 3 s; 20 retrace waits in %.1f ms\n", frames, info->width, info->height,
                    waits_ms);
        gl_freecontext(&canvas);
        vga_setmode(TEXT);
        return 0;
    }
    if (std::strcmp(argv[1], "crash") == 0)
        raise(SIGSEGV);
    if (std::strcmp(argv[1], "fork") == 0) {
        std::fflush(stdout);
        pid_t child = fork();
        if (child == 0)
            std::exit(0);
        waitpid(child, nullptr, 0);
        std::printf("after-child %s\n", console_mode());
        return 0;
    }
    return 2;
}
