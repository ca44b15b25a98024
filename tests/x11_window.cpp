// A second X connection's view of a program's window.
#include "tests/x11_window.h"

#include <X11/Xutil.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

// Windows come and go while a helper looks at them (the window manager's frames, the
// program's own helper windows, a window closing): an error about one that vanished is
// an answer ("absent"), not a reason to end the test process, as Xlib's default handler
// would. Scoped to one helper call; the sync before restoring collects late errors.
int errors_seen;

int note_error(Display*, XErrorEvent*)
{
    ++errors_seen;
    return 0;
}

struct ToleratedErrors {
    Display* display;
    XErrorHandler before;
    explicit ToleratedErrors(Display* d) : display(d)
    {
        XSync(display, False);
        errors_seen = 0;
        before = XSetErrorHandler(note_error);
    }
    ~ToleratedErrors()
    {
        XSync(display, False);
        XSetErrorHandler(before);
    }
    ToleratedErrors(const ToleratedErrors&) = delete;
    ToleratedErrors& operator=(const ToleratedErrors&) = delete;
};

Window find_named(Display* display, Window under, const char* title)
{
    Window root = 0, parent = 0, *children = nullptr, found = 0;
    unsigned int count = 0;
    if (!XQueryTree(display, under, &root, &parent, &children, &count))
        return 0;
    for (unsigned int i = 0; i < count && found == 0; ++i) {
        XWindowAttributes a;
        char* name = nullptr;
        if (XGetWindowAttributes(display, children[i], &a) && a.map_state == IsViewable && a.c_class == InputOutput &&
            XFetchName(display, children[i], &name) && name != nullptr && std::strcmp(name, title) == 0)
            found = children[i];
        if (name != nullptr)
            XFree(name);
        if (found == 0)
            found = find_named(display, children[i], title);
    }
    if (children != nullptr)
        XFree(children);
    return found;
}

} // namespace

Window x11_find_window(Display* display, const char* title, int timeout_ms)
{
    for (int waited = 0; waited <= timeout_ms; waited += 20) {
        Window found;
        {
            ToleratedErrors tolerated(display);
            found = find_named(display, DefaultRootWindow(display), title);
        }
        if (found != 0)
            return found;
        usleep(20000);
    }
    return 0;
}

std::vector<uint32_t> x11_window_pixels(Display* display, Window window, int* width, int* height)
{
    ToleratedErrors tolerated(display);
    std::vector<uint32_t> pixels;
    XWindowAttributes a;
    *width = *height = 0;
    if (!XGetWindowAttributes(display, window, &a))
        return pixels;
    *width = a.width;
    *height = a.height;
    XImage* image = XGetImage(display, window, 0, 0, (unsigned)a.width, (unsigned)a.height, AllPlanes, ZPixmap);
    if (image == nullptr)
        return pixels;
    pixels.reserve((size_t)a.width * (size_t)a.height);
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x)
            pixels.push_back((uint32_t)XGetPixel(image, x, y) & 0xFFFFFFu);
    XDestroyImage(image);
    return pixels;
}

void x11_send_key(Display* display, Window window, unsigned long keysym)
{
    ToleratedErrors tolerated(display);
    XKeyEvent key{};
    key.display = display;
    key.window = window;
    key.root = DefaultRootWindow(display);
    key.same_screen = True;
    key.keycode = XKeysymToKeycode(display, keysym);
    for (int type : {KeyPress, KeyRelease}) {
        key.type = type;
        XSendEvent(display, window, True, type == KeyPress ? KeyPressMask : KeyReleaseMask, (XEvent*)&key);
    }
    XFlush(display);
}

void x11_close_window(Display* display, Window window)
{
    ToleratedErrors tolerated(display);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = (long)XInternAtom(display, "WM_DELETE_WINDOW", False);
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
}

pid_t x11_start_window_manager(Display* display, const char* display_name)
{
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("DISPLAY", display_name, 1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execlp("openbox", "openbox", "--sm-disable", (char*)nullptr);
        _exit(127);
    }
    if (pid < 0)
        return -1;
    // A window manager says so by the check window it names on the root.
    const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
    for (int tries = 0; tries < 250; ++tries) {
        Atom type = 0;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False, AnyPropertyType, &type, &format,
                           &items, &after, &data);
        if (data != nullptr)
            XFree(data);
        if (items > 0)
            return pid;
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return -1;
        usleep(20000);
    }
    x11_stop_window_manager(pid);
    return -1;
}

void x11_stop_window_manager(pid_t pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}
