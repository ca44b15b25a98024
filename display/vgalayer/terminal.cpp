// The console layer's terminal: checking that the program runs on a virtual console, its
// graphics mode, keys and switching, and giving it back at the end, on the signals that
// end the process and for the time of a stop.
#include "display/vgalayer/terminal.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/kd.h>
#include <linux/major.h>
#include <linux/vt.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// What the layer does with each signal whose default action ends the process, before
// that action: gives the console back (for a fault, whatever handler came before ours, a
// sanitizer's say, still runs after it; the others only where the program left them to
// their default), or, for SIGPIPE, ignores it, so that a write to a closed pipe fails
// instead. The real-time signals, which end the process too, are given back like the
// requests. The console's own switching signal is the layer's (kSwitchSignal).
enum class Course { request, fault, ignore };
struct EndingSignal {
    int number;
    Course course;
};
constexpr EndingSignal kEndingSignals[] = {
    {SIGHUP, Course::request},    {SIGINT, Course::request},  {SIGQUIT, Course::request}, {SIGTERM, Course::request},
    {SIGUSR1, Course::request},   {SIGALRM, Course::request}, {SIGXCPU, Course::request}, {SIGXFSZ, Course::request},
    {SIGVTALRM, Course::request}, {SIGPROF, Course::request}, {SIGIO, Course::request},   {SIGPWR, Course::request},
    {SIGSTKFLT, Course::request}, {SIGSEGV, Course::fault},   {SIGBUS, Course::fault},    {SIGFPE, Course::fault},
    {SIGILL, Course::fault},      {SIGABRT, Course::fault},   {SIGTRAP, Course::fault},   {SIGSYS, Course::fault},
    {SIGPIPE, Course::ignore},
};
// The signals that stop the process: the console comes back for the time of the stop.
constexpr int kStopSignals[] = {SIGTSTP, SIGTTIN, SIGTTOU};
// The console asks by this signal to switch its terminal away from us and back.
constexpr int kSwitchSignal = SIGUSR2;

struct sigaction earlier_action[_NSIG];

// The terminal from terminal_open on, and its virtual console's number.
int tty_fd = -1;
int console_number = 0;
char error_text[256] = "";
// Its settings when it was last taken, put back when it is given back.
termios settings;
// Whether the terminal is taken, by which process (not a child forked from it), and
// whether it is in front (false while switched away).
volatile sig_atomic_t taken = 0;
pid_t owner_pid = 0;
volatile sig_atomic_t shown = 0;
// Set by the signal handlers, taken by terminal_follow: the console asked to switch; a
// stop gave the terminal back and the process goes on.
volatile sig_atomic_t switch_asked = 0;
volatile sig_atomic_t go_on_asked = 0;
bool hooks_installed = false;

void fail(const char* what)
{
    std::snprintf(error_text, sizeof error_text, "%s", what);
}

void fail_ioctl(const char* request, int error)
{
    std::snprintf(error_text, sizeof error_text,
                  "the console's terminal tty%d refused to be switched (%s: %s); the program must run on it, "
                  "not on a terminal it only reaches (another virtual console, ssh, tmux)",
                  console_number, request, std::strerror(error));
}

bool in_our_hands()
{
    return taken && getpid() == owner_pid;
}

void on_switch_signal(int)
{
    switch_asked = 1;
}

void on_ending_signal(int sig, siginfo_t* info, void* context)
{
    terminal_give_back();
    // Then the signal takes the course it would have taken without us.
    const struct sigaction& earlier = earlier_action[sig];
    if (earlier.sa_flags & SA_SIGINFO) {
        earlier.sa_sigaction(sig, info, context);
    } else if (earlier.sa_handler != SIG_DFL) {
        earlier.sa_handler(sig);
    } else {
        signal(sig, SIG_DFL);
        raise(sig);
    }
}

void on_stop_signal(int sig);

void catch_stop(int sig)
{
    struct sigaction act;
    std::memset(&act, 0, sizeof act);
    act.sa_handler = on_stop_signal;
    sigemptyset(&act.sa_mask);
    act.sa_flags = SA_RESTART;
    sigaction(sig, &act, nullptr);
}

// The console comes back, the process stops with the signal's default action, and once
// it goes on (SIGCONT) the next frame takes the terminal again.
void on_stop_signal(int sig)
{
    const int saved_errno = errno;
    const bool had_it = in_our_hands();
    terminal_give_back();
    signal(sig, SIG_DFL);
    raise(sig);
    sigset_t just_this;
    sigemptyset(&just_this);
    sigaddset(&just_this, sig);
    sigprocmask(SIG_UNBLOCK, &just_this, nullptr);
    // Stopped until SIGCONT; then on from here.
    catch_stop(sig);
    if (had_it)
        go_on_asked = 1;
    errno = saved_errno;
}

void on_exit()
{
    terminal_give_back();
}

void install_hooks()
{
    if (hooks_installed)
        return;
    hooks_installed = true;
    std::atexit(on_exit);
    struct sigaction act;
    std::memset(&act, 0, sizeof act);
    sigemptyset(&act.sa_mask);
    act.sa_sigaction = on_ending_signal;
    act.sa_flags = SA_SIGINFO | SA_RESETHAND;
    const auto take = [&](int sig, Course course) {
        struct sigaction& earlier = earlier_action[sig];
        if (sigaction(sig, nullptr, &earlier) != 0)
            return;
        const bool left_default = earlier.sa_handler == SIG_DFL && !(earlier.sa_flags & SA_SIGINFO);
        if (course == Course::ignore && left_default)
            signal(sig, SIG_IGN);
        else if (left_default || (course == Course::fault && earlier.sa_handler != SIG_IGN))
            sigaction(sig, &act, nullptr);
    };
    for (const EndingSignal& s : kEndingSignals)
        take(s.number, s.course);
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig)
        take(sig, Course::request);
    for (int sig : kStopSignals) {
        struct sigaction earlier;
        if (sigaction(sig, nullptr, &earlier) == 0 && earlier.sa_handler == SIG_DFL && !(earlier.sa_flags & SA_SIGINFO))
            catch_stop(sig);
    }
    std::memset(&act, 0, sizeof act);
    act.sa_handler = on_switch_signal;
    sigemptyset(&act.sa_mask);
    act.sa_flags = SA_RESTART;
    sigaction(kSwitchSignal, &act, nullptr);
}

// Keys one at a time as they are typed, unechoed; the signal keys still signal.
termios raw_settings(const termios& cooked)
{
    termios raw = cooked;
    raw.c_lflag &= ~(tcflag_t)(ECHO | ECHONL | ICANON);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    return raw;
}

// Takes the terminal: settings, graphics, switching, each checked; on a failure the
// steps done are undone.
bool take_terminal()
{
    termios cooked;
    if (tcgetattr(tty_fd, &cooked) != 0) {
        fail_ioctl("TCGETS", errno);
        return false;
    }
    const termios raw = raw_settings(cooked);
    if (tcsetattr(tty_fd, TCSANOW, &raw) != 0) {
        fail_ioctl("TCSETS", errno);
        return false;
    }
    if (ioctl(tty_fd, KDSETMODE, KD_GRAPHICS) != 0) {
        fail_ioctl("KDSETMODE", errno);
        tcsetattr(tty_fd, TCSANOW, &cooked);
        return false;
    }
    vt_mode process{};
    process.mode = VT_PROCESS;
    process.relsig = kSwitchSignal;
    process.acqsig = kSwitchSignal;
    switch_asked = 0;
    if (ioctl(tty_fd, VT_SETMODE, &process) != 0) {
        fail_ioctl("VT_SETMODE", errno);
        ioctl(tty_fd, KDSETMODE, KD_TEXT);
        tcsetattr(tty_fd, TCSANOW, &cooked);
        return false;
    }
    // Started or gone on while another console is in front, the screen is not ours
    // until the console switches back to us.
    vt_stat state{};
    shown = ioctl(tty_fd, VT_GETSTATE, &state) != 0 || state.v_active == console_number;
    settings = cooked;
    owner_pid = getpid();
    taken = 1;
    return true;
}

} // namespace

bool terminal_open()
{
    if (tty_fd >= 0)
        return true;
    // Not blocking: a key read must never wait, also when a stop has put the terminal
    // back to whole lines under the read.
    const int fd = open("/dev/tty", O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        fail("the program has no terminal (it was started without one, by a service say)");
        return false;
    }
    unsigned int device = 0;
    if (ioctl(fd, TIOCGDEV, &device) != 0 || major(device) != TTY_MAJOR || minor(device) < 1 ||
        minor(device) > MAX_NR_CONSOLES) {
        fail("its terminal is not a virtual console but a pseudo-terminal (a terminal window, ssh, tmux, "
             "screen) or a serial line");
        close(fd);
        return false;
    }
    console_number = (int)minor(device);
    int mode = -1;
    vt_mode switching{};
    if (ioctl(fd, KDGETMODE, &mode) != 0 || mode != KD_TEXT) {
        std::snprintf(error_text, sizeof error_text,
                      "its virtual console tty%d is not showing text: another program has its screen", console_number);
        close(fd);
        return false;
    }
    if (ioctl(fd, VT_GETMODE, &switching) != 0 || switching.mode != VT_AUTO) {
        std::snprintf(error_text, sizeof error_text,
                      "the switching of its virtual console tty%d belongs to another program", console_number);
        close(fd);
        return false;
    }
    tty_fd = fd;
    return true;
}

const char* terminal_error()
{
    return error_text;
}

bool terminal_take()
{
    if (taken)
        return true;
    if (tty_fd < 0) {
        fail("the terminal was not opened");
        return false;
    }
    install_hooks();
    return take_terminal();
}

void terminal_give_back()
{
    if (!in_our_hands())
        return;
    screen_give_up();
    taken = 0;
    if (switch_asked && shown)
        ioctl(tty_fd, VT_RELDISP, 1);
    switch_asked = 0;
    shown = 0;
    vt_mode automatic{};
    automatic.mode = VT_AUTO;
    ioctl(tty_fd, VT_SETMODE, &automatic);
    ioctl(tty_fd, KDSETMODE, KD_TEXT);
    // Also from the background: at Ctrl+Z the shell may take the terminal before this
    // runs, and with SIGTTOU blocked the change goes through instead of stopping us.
    sigset_t ttou, earlier_mask;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    sigprocmask(SIG_BLOCK, &ttou, &earlier_mask);
    tcflush(tty_fd, TCIFLUSH);
    tcsetattr(tty_fd, TCSANOW, &settings);
    sigprocmask(SIG_SETMASK, &earlier_mask, nullptr);
}

bool terminal_shown()
{
    return taken && shown;
}

void terminal_follow()
{
    if (go_on_asked) {
        go_on_asked = 0;
        // Gone on in the background (bg), the settings' change stops it again (SIGTTOU)
        // until it is brought to the front.
        if (!taken && !take_terminal()) {
            std::fprintf(stderr, "%s: %s; the show goes on unseen\n", program_invocation_short_name, error_text);
            return;
        }
        if (shown)
            screen_take_back();
        return;
    }
    if (!switch_asked || !taken)
        return;
    switch_asked = 0;
    if (shown) {
        screen_give_up();
        shown = 0;
        ioctl(tty_fd, VT_RELDISP, 1);
        return;
    }
    ioctl(tty_fd, VT_RELDISP, VT_ACKACQ);
    shown = 1;
    screen_take_back();
}

int terminal_key()
{
    unsigned char key = 0;
    if (!in_our_hands() || read(tty_fd, &key, 1) != 1)
        return -1;
    return key;
}
