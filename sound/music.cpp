// The tune: sound menus, the player process that opens the output and plays the tune, and
// the requests the show sends it.
#include "sound/music.h"

#include <fcntl.h>
#include <mikmod.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

#include "core/clock.h"
#include "core/data_path.h"
#include "core/prompt.h"
#include "sound/mikmod_settings.h"
#include "sound/output.h"

namespace {

// 1 after a successful music_setup; while it is not 1 every music call does nothing.
int music_enabled;
// 1 while a player process exists that nobody has waited for yet. Cleared by the SIGCHLD
// handler when the player ends by itself, and by music_stop.
volatile sig_atomic_t player_running;
// The player of the last fork; only read while player_running is 1.
volatile pid_t player_pid;
// The demo process's end of the socket pair over which it sends the player its requests
// and reads the answers; -1 without a player. A socket, not a pipe, so that a request to
// a player that has ended fails instead of raising SIGPIPE.
int player_channel = -1;
// Whether music_start has released the player, and whether the show holds the tune.
bool player_released;
bool tune_held;

// The answers given by music_choose, if any; the menus are asked otherwise.
bool answers_chosen;
MusicChoice chosen;

// Whether music_start was called, and the clock's reading when it returned.
bool start_called;
int32_t start_time;

// Player process only: set by the stop signals, read by the player's loops.
volatile sig_atomic_t stop_requested;

// How long a driver may take to start in a new player before it counts as failed.
constexpr int kDriverStartSeconds = 10;
// How long the player may take to load the tune, and to answer the start.
constexpr int kLoadSeconds = 30;
constexpr int kStartAnswerSeconds = 2;
// How long music_stop lets a signalled player finish its file before it is killed.
constexpr int kStopGraceSeconds = 3;
// The latency target, in milliseconds, for the library's PulseAudio driver: short, yet
// room for a busy machine's hiccups, since that driver cannot be corrected afterwards.
const char* const kLibraryPulseLatency = "40";
// A waiting player looks at its stop flag this often.
constexpr int kRequestPollMilliseconds = 20;
// music_start waits for the first sample to be heard at most this long; an output that
// reports more is taken as not knowing its latency.
constexpr int64_t kLongestLatencyMicroseconds = 1000000;

// The requests, one byte each. kLoad is followed by the tune's path as a uint32_t length
// and the bytes, and answered by one byte, 1 when the tune loaded. kGo (the tune from its
// start) is followed by an int64_t, the CLOCK_MONOTONIC microsecond before which the
// first sample must not be heard, and answered by an int64_t, the microsecond at which it
// is heard, 0 when the output cannot tell. kHold silences the tune. kSeek is followed by
// an int32_t, the tune's position in milliseconds, and an int64_t, the CLOCK_MONOTONIC
// microsecond at which that position is to be heard; it is not answered.
constexpr char kLoad = 'L';
constexpr char kGo = 'G';
constexpr char kHold = 'H';
constexpr char kSeek = 'S';

const char* const kModePrompt = "Choose output mode:\n0. NO music\n1. 8 bits, mono\n2. 8 bits, stereo\n"
                                "3. 16 bits, mono\n4. 16 bits, stereo\nType corresponding number : ";

// SIGCHLD in the demo process: reaps the player when it ends by itself. Only the player
// is waited for here, never another child of the process.
void music_on_child_exit(int)
{
    const int saved_errno = errno;
    if (player_running == 1 && waitpid(player_pid, nullptr, WNOHANG) == player_pid)
        player_running = 0;
    errno = saved_errno;
}

// SIGUSR1, SIGTERM and SIGINT in the player: only a flag, since the music library's lock
// may be held by the interrupted update; the player's loops stop outside the handler.
void music_on_stop_signal(int)
{
    stop_requested = 1;
}

void install(int signal_number, void (*handler)(int), int flags)
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = flags;
    sigaction(signal_number, &action, nullptr);
}

void sleep_milliseconds(long ms)
{
    timespec pause{ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&pause, nullptr);
}

// Waits up to seconds for child pid to end and reaps it; false if it still runs then. A
// child that is no longer ours counts as ended.
bool reap_within(pid_t pid, int seconds)
{
    for (long waited = 0; waited < seconds * 1000L; ++waited) {
        const pid_t got = waitpid(pid, nullptr, WNOHANG);
        if (got == pid || (got < 0 && errno != EINTR))
            return true;
        sleep_milliseconds(1);
    }
    return false;
}

bool send_all(int fd, const void* data, size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t sent = send(fd, bytes, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        bytes += sent;
        size -= (size_t)sent;
    }
    return true;
}

// Reads exactly size bytes within timeout_ms in all; false at the end of the stream, on
// an error, when the time is up, or (in the player) when a stop signal came.
bool receive_all(int fd, void* data, size_t size, int timeout_ms)
{
    char* bytes = static_cast<char*>(data);
    timespec from, now;
    clock_gettime(CLOCK_MONOTONIC, &from);
    while (size > 0 && stop_requested == 0) {
        clock_gettime(CLOCK_MONOTONIC, &now);
        const long left = timeout_ms - ((now.tv_sec - from.tv_sec) * 1000 + (now.tv_nsec - from.tv_nsec) / 1000000);
        if (left <= 0)
            return false;
        pollfd ready{fd, POLLIN, 0};
        const int got = poll(&ready, 1, (int)std::min(left, (long)kRequestPollMilliseconds));
        if (got < 0 && errno != EINTR)
            return false;
        if (got <= 0)
            continue;
        const ssize_t n = read(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        size -= (size_t)n;
    }
    return size == 0;
}

// What a player reports once its driver has started: the driver's name and the mode and
// frequency it accepted.
struct DriverReport {
    UWORD mode;
    UWORD mixfreq;
    char name[64];
};

// Drivers that write a file, a pipe or nothing: a listener who asked for the first sound
// device that starts wants none of them (the WAV writer would leave music.wav in whatever
// folder the show was started from), and a show on the no-sound driver is a silent one.
const char* const kNotSoundDevices[] = {"nosound", "wav", "aif", "raw", "pipe", "stdout"};

bool is_sound_device(int device)
{
    for (const char* alias : kNotSoundDevices)
        if (MikMod_DriverFromAlias(alias) == device)
            return false;
    return true;
}

// The tune at path with the show's module settings, or null.
MODULE* load_module(const char* path)
{
    MODULE* loaded = Player_Load(path, kChannelLimit, 0);
    if (loaded != nullptr)
        music_set_module(loaded);
    return loaded;
}

// Prints the driver list as "1. description" lines when print; returns the number of drivers.
int driver_menu(bool print)
{
    // One driver a line as "%2d %s", lines joined by line ends with no final one.
    char* list = MikMod_InfoDriver();
    int count = 0;
    for (const char* line = list; line != nullptr && *line != '\0';) {
        const char* end = std::strchr(line, '\n');
        const size_t length = end != nullptr ? (size_t)(end - line) : std::strlen(line);
        const char* text = line;
        while (*text == ' ')
            ++text;
        while (*text >= '0' && *text <= '9')
            ++text;
        if (*text == ' ')
            ++text;
        ++count;
        if (print)
            std::printf("%d. %.*s\n", count, (int)(length - (size_t)(text - line)), text);
        line = end != nullptr ? end + 1 : line + length;
    }
    MikMod_free(list);
    return count;
}

// Opens the driver md_device with standard error on the null device: the probes of sound
// libraries talk there (ALSA's "ALSA lib" lines, OpenAL's errors, the assertion with which
// the ALSA library aborts when it finds no device), and a driver that does not start is
// the one line "MikMod Driver error!" of the demo process, not a screenful of chatter.
bool start_driver_quietly()
{
    const int saved = dup(STDERR_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
        dup2(null, STDERR_FILENO);
        close(null);
    }
    const bool started = MikMod_Init("") == 0;
    if (saved >= 0) {
        dup2(saved, STDERR_FILENO);
        close(saved);
    }
    return started;
}

// Player process, the tune released, after a hold or a seek: the tune at path loaded
// afresh into *module (so all of its state starts over), started, and mixed without a
// sound up to position_ms, so it plays on with the very samples a run from its start
// plays there; a library driver's output sounds again, the own output holds its next
// buffers for its start. False, with *module null, when the tune no longer loads (the show
// goes on silent).
bool play_tune_from(MODULE** module, const std::string& path, int32_t position_ms, bool own_output)
{
    if (own_output)
        own_output_hold();
    Player_Stop();
    Player_Free(*module);
    // Starting the tune starts a library driver's output again; one that mixes from a
    // thread of its own (SDL's) may sound a moment of the tune's start before it waits for
    // the position.
    *module = music_load_at(path.c_str(), (long)((int64_t)position_ms * md_mixfreq / 1000), !own_output);
    if (*module == nullptr)
        return false;
    if (own_output)
        own_output_prepare();
    return true;
}

// The player process: opens the output (md_device), reports it, then serves the show's
// requests on channel: loads the tune, prepares it, and plays it once released. It
// finalises the output however it ends (the tune's end, a stop signal, the demo process
// gone) and leaves through _exit, so nothing of the demo process (its stdio buffers, its
// exit handlers) runs a second time. Entered with every signal blocked.
[[noreturn]] void player(int channel, pid_t demo_pid, const sigset_t& demo_mask)
{
    // Handlers of the demo process are no business of the player; ignored signals stay
    // ignored.
    for (int s = 1; s < NSIG; ++s) {
        struct sigaction old {};
        if (s == SIGKILL || s == SIGSTOP || sigaction(s, nullptr, &old) != 0)
            continue;
        if (old.sa_handler != SIG_DFL && old.sa_handler != SIG_IGN)
            install(s, SIG_DFL, 0);
    }
    // No SA_RESTART: a stop cuts a blocking write or the pause between updates short.
    for (int s : {SIGUSR1, SIGTERM, SIGINT})
        install(s, music_on_stop_signal, 0);
    // A player whose demo process dies (killed, crashed) stops like one told to stop.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != demo_pid)
        stop_requested = 1;
    // A signal sent since the fork has waited, blocked; it is taken here.
    sigprocmask(SIG_SETMASK, &demo_mask, nullptr);

    // The library's PulseAudio driver asks the server for no latency, and the server's
    // default buffer delays the tune's start by about its length; the server's client
    // library takes a target from the environment instead (a listener's own stays).
    if (md_device == MikMod_DriverFromAlias("pulseaudio"))
        setenv("PULSE_LATENCY_MSEC", kLibraryPulseLatency, 0);
    if (!start_driver_quietly())
        _exit(1);
    DriverReport report{md_mode, md_mixfreq, {}};
    std::snprintf(report.name, sizeof report.name, "%s", md_driver->Name);
    const bool own_output = md_driver == own_output_driver();
    // A show that may go back keeps its player past the tune's end.
    const bool replayable = answers_chosen && chosen.replayable;
    std::string tune;
    MODULE* module = nullptr;
    bool go = false;
    int64_t earliest = 0;
    if (send_all(channel, &report, sizeof report)) {
        // Requests until the release; the end of the stream (the demo process is gone)
        // and a stop signal end the wait.
        char request = 0;
        while (!go && receive_all(channel, &request, 1, INT32_MAX)) {
            if (request == kLoad) {
                uint32_t length = 0;
                if (!receive_all(channel, &length, sizeof length, 1000))
                    break;
                tune.resize(length);
                if (!receive_all(channel, tune.data(), length, 1000))
                    break;
                if (module != nullptr) {
                    Player_Stop();
                    Player_Free(module);
                }
                module = load_module(tune.c_str());
                // The own output mixes its first buffers now; a library driver may start
                // sounding at Player_Start (SDL's pulls samples from a thread of its own).
                if (module != nullptr && own_output) {
                    Player_Start(module);
                    own_output_prepare();
                }
                const char loaded = module != nullptr ? 1 : 0;
                if (!send_all(channel, &loaded, 1))
                    break;
            } else if (request == kGo) {
                go = receive_all(channel, &earliest, sizeof earliest, 1000);
                if (!go)
                    break;
            }
        }
    }
    if (go) {
        // Released: the tune plays; then the show's requests as they come, between updates.
        const int64_t heard_at = module != nullptr && own_output ? own_output_start(earliest, 0) : 0;
        if (module != nullptr && !own_output)
            Player_Start(module);
        bool holding = false;
        bool answered = send_all(channel, &heard_at, sizeof heard_at);
        while (answered && module != nullptr && stop_requested == 0) {
            const bool sounding = !holding && Player_Active();
            if (!sounding && !replayable)
                break;
            pollfd ready{channel, POLLIN, 0};
            char request = 0;
            if (poll(&ready, 1, sounding ? 0 : kRequestPollMilliseconds) > 0) {
                if (!receive_all(channel, &request, 1, 1000))
                    break;
                int32_t position_ms = 0;
                int64_t at = 0;
                if (request == kHold && !holding) {
                    holding = true;
                    if (own_output)
                        own_output_hold();
                    else
                        MikMod_DisableOutput();
                } else if (request == kSeek) {
                    if (!receive_all(channel, &position_ms, sizeof position_ms, 1000) ||
                        !receive_all(channel, &at, sizeof at, 1000))
                        break;
                    holding = !play_tune_from(&module, tune, position_ms, own_output);
                    if (!holding && own_output)
                        own_output_follow(at, (int64_t)position_ms * md_mixfreq / 1000);
                } else if (request == kGo) {
                    if (!receive_all(channel, &earliest, sizeof earliest, 1000))
                        break;
                    holding = !play_tune_from(&module, tune, 0, own_output);
                    const int64_t heard = !holding && own_output ? own_output_start(earliest, 0) : 0;
                    answered = send_all(channel, &heard, sizeof heard);
                }
            }
            if (!holding && Player_Active()) {
                MikMod_Update();
                usleep(500);
            }
        }
    }
    if (module != nullptr) {
        Player_Stop();
        Player_Free(module);
    }
    MikMod_Exit();
    _exit(0);
}

// Ends the player, if one runs: a stop signal, then a kill if it has not finished its
// output within seconds (a stopped player, or one stuck in a driver, must not hang the
// show). Closes the channel.
void end_player(int seconds)
{
    // With SIGCHLD held back the player cannot be reaped between the test and the kill,
    // so its process id cannot have passed to another process.
    sigset_t child, old;
    sigemptyset(&child);
    sigaddset(&child, SIGCHLD);
    sigprocmask(SIG_BLOCK, &child, &old);
    if (player_running == 1) {
        kill(player_pid, SIGUSR1);
        if (!reap_within(player_pid, seconds)) {
            kill(player_pid, SIGKILL);
            waitpid(player_pid, nullptr, 0);
        }
        player_running = 0;
    }
    sigprocmask(SIG_SETMASK, &old, nullptr);
    if (player_channel >= 0)
        close(player_channel);
    player_channel = -1;
}

// Forks a player for driver device; true when its driver started, with its report in
// *report. A player whose driver does not start (or aborts the process, as the ALSA
// library does when it finds no device) is ended here.
bool begin_player(int device, DriverReport* report)
{
    int channel[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, channel) != 0)
        return false;
    md_device = (UWORD)device;
    // Nothing buffered may be written twice, by the demo process and by the player.
    std::fflush(nullptr);
    // Every signal is blocked across the fork: the player puts back the default actions
    // and installs its own handlers before any signal reaches it (one sent the moment it
    // exists would otherwise run a handler of the demo process there).
    sigset_t blocked, demo_mask;
    sigfillset(&blocked);
    sigprocmask(SIG_BLOCK, &blocked, &demo_mask);
    const pid_t demo_pid = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        close(channel[0]);
        player(channel[1], demo_pid, demo_mask);
    }
    close(channel[1]);
    if (pid > 0) {
        player_pid = pid;
        player_running = 1;
        player_channel = channel[0];
    } else {
        close(channel[0]);
    }
    sigprocmask(SIG_SETMASK, &demo_mask, nullptr);
    if (pid > 0 && receive_all(player_channel, report, sizeof *report, kDriverStartSeconds * 1000)) {
        report->name[sizeof report->name - 1] = '\0';
        return true;
    }
    end_player(0);
    return false;
}

// How long after the show's clock reads a frame's time the viewer sees it.
int64_t picture_delay_microseconds()
{
    return answers_chosen ? (int64_t)chosen.picture_delay_ms * 1000 : 0;
}

// The CLOCK_MONOTONIC microsecond the player's times are given in.
int64_t monotonic_microseconds()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (int64_t)now.tv_sec * 1000000 + now.tv_nsec / 1000;
}

} // namespace

void music_choose(const MusicChoice& choice)
{
    answers_chosen = true;
    chosen = choice;
}

void music_setup()
{
    music_set_levels();

    const long mode = answers_chosen ? chosen.mode : ask_number(kModePrompt, 0, 4);
    if (mode <= 0 || mode > 4) {
        music_enabled = 0;
        return;
    }
    md_mode = kMusicModes[mode - 1];

    music_register_loaders();
    MikMod_RegisterAllDrivers();
    // Registering a driver a second time is ignored, so these keep their first numbers.
    MikMod_RegisterDriver(&drv_wav);
    MikMod_RegisterDriver(&drv_raw);
    MikMod_RegisterDriver(&drv_nos);

    int drivers = 0;
    DriverReport report{};
    bool started = false;
    if (answers_chosen) {
        drivers = driver_menu(false);
        md_mixfreq = (UWORD)(chosen.frequency >= 8000 && chosen.frequency <= 44100 ? chosen.frequency : 44100);
        if (chosen.device >= 1 && chosen.device <= drivers) {
            started = begin_player(chosen.device, &report);
        } else {
            // The first sound device that starts: the program's own output (registered
            // after the others, so their numbers stay those of the menu) before the
            // library's devices, in the library's own order.
            MDRIVER* own = own_output_driver();
            if (own != nullptr) {
                MikMod_RegisterDriver(own);
                started = begin_player(MikMod_DriverFromAlias(own->Alias), &report);
            }
            for (int device = 1; device <= drivers && !started; ++device)
                started = is_sound_device(device) && begin_player(device, &report);
        }
    } else {
        std::printf("Choose sound device :\n");
        drivers = driver_menu(true);
        if (drivers > 0) {
            const long device = ask_number("Type corresponding number : ", 1, drivers);
            md_mixfreq = (UWORD)ask_number("Enter mixing frequency (eg. 11025,22050,44100) : ", 8000, 44100);
            started = begin_player((int)device, &report);
        }
    }
    if (!started) {
        std::printf("MikMod Driver error!\n");
        std::fflush(stdout);
        music_enabled = 0;
        return;
    }
    // The mode the driver accepted, as the player found it after the driver started.
    std::printf("Using %s for %d bit %s %s sound at %u Hz\n\n", report.name, (report.mode & DMODE_16BITS) ? 16 : 8,
                (report.mode & DMODE_INTERP) ? "interpolated" : "normal",
                (report.mode & DMODE_STEREO) ? "stereo" : "mono", (unsigned)report.mixfreq);
    std::fflush(stdout);

    music_enabled = 1;
    player_released = false;
    install(SIGCHLD, music_on_child_exit, SA_RESTART | SA_NOCLDSTOP);
}

int music_load(const char* path)
{
    if (music_enabled != 1 || player_released)
        return 0;
    const std::string found = data_path(path);
    const uint32_t length = (uint32_t)found.size();
    std::string request(1, kLoad);
    request.append(reinterpret_cast<const char*>(&length), sizeof length);
    request += found;
    char loaded = 0;
    if (player_running == 1 && send_all(player_channel, request.data(), request.size()))
        receive_all(player_channel, &loaded, 1, kLoadSeconds * 1000);
    if (loaded != 1) {
        std::printf("MikMod Error\n");
        std::fflush(stdout);
        return -1;
    }
    return 0;
}

void music_start()
{
    start_called = true;
    start_time = clock_now();
    if (music_enabled != 1 || player_running != 1)
        return;
    // A later start (a looping show's next round) plays the tune again from its start.
    player_released = true;
    tune_held = false;
    // The run phase begins when the tune's first sample is heard, less the picture's own
    // delay: the first frame is seen with the first sample. The tune may not begin before
    // the picture's delay is over.
    const int64_t picture_delay = picture_delay_microseconds();
    const int64_t earliest = monotonic_microseconds() + picture_delay;
    std::string request(1, kGo);
    request.append(reinterpret_cast<const char*>(&earliest), sizeof earliest);
    int64_t heard_at = 0;
    if (!send_all(player_channel, request.data(), request.size()) ||
        !receive_all(player_channel, &heard_at, sizeof heard_at, kStartAnswerSeconds * 1000) || heard_at <= 0)
        return;
    const int64_t begin = heard_at - picture_delay;
    const int64_t wait = begin - monotonic_microseconds();
    if (wait <= 0 || wait > kLongestLatencyMicroseconds)
        return;
    const timespec until{(time_t)(begin / 1000000), (long)(begin % 1000000) * 1000};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
    start_time = clock_now();
}

void music_hold()
{
    if (music_enabled != 1 || !player_released || tune_held)
        return;
    tune_held = true;
    send_all(player_channel, &kHold, 1);
}

void music_play_from(int32_t show_ms)
{
    if (music_enabled != 1 || !player_released || !tune_held)
        return;
    tune_held = false;
    // Heard with the frame presented next, which the viewer sees the picture's delay later.
    const int64_t at = monotonic_microseconds() + picture_delay_microseconds();
    std::string request(1, kSeek);
    request.append(reinterpret_cast<const char*>(&show_ms), sizeof show_ms);
    request.append(reinterpret_cast<const char*>(&at), sizeof at);
    send_all(player_channel, request.data(), request.size());
}

bool music_start_time(int32_t* at)
{
    if (start_called)
        *at = start_time;
    return start_called;
}

void music_stop()
{
    if (music_enabled != 1)
        return;
    end_player(kStopGraceSeconds);
}

void music_shutdown()
{
    if (music_enabled != 1)
        return;
    music_stop();
    music_enabled = 0;
}
