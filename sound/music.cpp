// The tune, the show's side: the sound menus, the player process made and ended, and the
// show's requests to it (sound/player.cpp plays; sound/player_protocol.h is what they say).
#include "sound/music.h"

#include <mikmod.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/clock.h"
#include "core/data_path.h"
#include "core/prompt.h"
#include "sound/mikmod_settings.h"
#include "sound/output.h"
#include "sound/player.h"
#include "sound/player_protocol.h"

namespace {

// 1 after a successful music_setup; while it is not 1 every music call does nothing.
int music_enabled;
// 1 while a player process exists that nobody has waited for yet. Cleared by the SIGCHLD
// handler when the player ends by itself, and by music_stop.
volatile sig_atomic_t player_running;
// The player of the last fork; only read while player_running is 1.
volatile pid_t player_pid;
// The show's end of the socket pair over which it sends the player its requests and reads
// the answers; -1 without a player. A socket, not a pipe, so that a request to a player
// that has ended fails instead of raising SIGPIPE.
int player_channel = -1;
// The serial of the last request sent.
uint32_t last_serial;

// The answers given by music_choose, if any; the menus are asked otherwise.
bool answers_chosen;
MusicChoice chosen;

// The clock's reading when music_start last returned, once it has.
bool start_called;
int32_t start_time;

// How long a driver may take to start in a new player before it counts as failed.
constexpr int kDriverStartSeconds = 10;
// How long the player may take to load the tune, and to answer the start.
constexpr int kLoadSeconds = 30;
constexpr int kStartAnswerSeconds = 2;
// How long music_stop lets a signalled player finish its file before it is killed.
constexpr int kStopGraceSeconds = 3;
// music_start waits for the first sample to be heard at most this long; an output that
// reports more is taken as not knowing its latency.
constexpr int64_t kLongestLatencyMicroseconds = 1000000;

const char* const kModePrompt = "Choose output mode:\n0. NO music\n1. 8 bits, mono\n2. 8 bits, stereo\n"
                                "3. 16 bits, mono\n4. 16 bits, stereo\nType corresponding number : ";

// SIGCHLD in the show's process: reaps the player when it ends by itself. Only the player
// is waited for here, never another child of the process.
void music_on_child_exit(int)
{
    const int saved_errno = errno;
    if (player_running == 1 && waitpid(player_pid, nullptr, WNOHANG) == player_pid)
        player_running = 0;
    errno = saved_errno;
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

// Sends a request of kind to the player, numbered afresh; false when it is gone.
bool ask(PlayerRequest request)
{
    request.serial = ++last_serial;
    return player_running == 1 && player_request_send(player_channel, request);
}

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
bool begin_player(int device, PlayerReport* report)
{
    int channel[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, channel) != 0)
        return false;
    md_device = (UWORD)device;
    // Nothing buffered may be written twice, by the show's process and by the player.
    std::fflush(nullptr);
    // Every signal is blocked across the fork: the player puts back the default actions
    // and installs its own handlers before any signal reaches it (one sent the moment it
    // exists would otherwise run a handler of the show's process there).
    sigset_t blocked, demo_mask;
    sigfillset(&blocked);
    sigprocmask(SIG_BLOCK, &blocked, &demo_mask);
    const pid_t demo_pid = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        close(channel[0]);
        // A show that may go back keeps its player past the tune's end.
        player_main(channel[1], demo_pid, demo_mask, answers_chosen && chosen.replayable, is_sound_device(device));
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
    if (pid > 0 && player_report_receive(player_channel, report, kDriverStartSeconds * 1000))
        return true;
    end_player(0);
    return false;
}

// The device the player opens for the menu's device: the program's own output in place of
// the library's PulseAudio driver, where the program has one (registered after the menu,
// so its numbers stay). The library's driver starts the tune the moment it is released,
// on a buffer whose length nobody knows, and cannot be put back on time; the own output
// knows when its samples are heard, keeps the tune on the show's time, and waits for a
// server that went away.
int own_in_place_of(int device)
{
    MDRIVER* own = own_output_driver();
    if (own == nullptr || device != MikMod_DriverFromAlias("pulseaudio"))
        return device;
    MikMod_RegisterDriver(own);
    return MikMod_DriverFromAlias(own->Alias);
}

// How long after the show's clock reads a frame's time the viewer sees it.
int64_t picture_delay_microseconds()
{
    return answers_chosen ? (int64_t)chosen.picture_delay_ms * 1000 : 0;
}

// Releases the player for a start of the tune, held or not; the answer: the microsecond
// its first sample is heard, 0 when unknown or held.
int64_t ask_start(bool held, int64_t earliest)
{
    int64_t heard_at = 0;
    if (!ask({0, kPlayerStart, held, 0, earliest, {}}) ||
        !player_answer_receive(player_channel, last_serial, &heard_at, kStartAnswerSeconds * 1000))
        return 0;
    return heard_at;
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
    PlayerReport report{};
    bool started = false;
    if (answers_chosen) {
        drivers = driver_menu(false);
        md_mixfreq = (UWORD)(chosen.frequency >= 8000 && chosen.frequency <= 44100 ? chosen.frequency : 44100);
        if (chosen.device >= 1 && chosen.device <= drivers) {
            started = begin_player(own_in_place_of(chosen.device), &report);
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
            started = begin_player(own_in_place_of((int)device), &report);
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
    signal_install(SIGCHLD, music_on_child_exit, SA_RESTART | SA_NOCLDSTOP);
}

int music_load(const char* path)
{
    if (music_enabled != 1)
        return 0;
    int64_t loaded = 0;
    if (ask({0, kPlayerLoad, false, 0, 0, data_path(path)}))
        player_answer_receive(player_channel, last_serial, &loaded, kLoadSeconds * 1000);
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
    if (music_enabled != 1)
        return;
    // The run phase begins when the tune's first sample is heard, less the picture's own
    // delay: the first frame is seen with the first sample. The tune may not begin before
    // the picture's delay is over.
    const int64_t picture_delay = picture_delay_microseconds();
    const int64_t heard_at = ask_start(false, monotonic_microseconds() + picture_delay);
    if (heard_at <= 0)
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

void music_start_held()
{
    start_called = true;
    start_time = clock_now();
    if (music_enabled == 1)
        ask_start(true, 0);
}

void music_hold()
{
    if (music_enabled == 1)
        ask({0, kPlayerHold, false, 0, 0, {}});
}

void music_play_from(int32_t show_ms)
{
    // Heard with the frame presented next, which the viewer sees the picture's delay later.
    if (music_enabled == 1)
        ask({0, kPlayerPlayFrom, false, show_ms, monotonic_microseconds() + picture_delay_microseconds(), {}});
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
