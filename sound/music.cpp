// The tune: sound menus, the music library's set-up, and the player process that plays it.
#include "sound/music.h"

#include <mikmod.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

#include "core/clock.h"
#include "core/data_path.h"
#include "core/prompt.h"
#include "sound/mikmod_settings.h"

namespace {

// 1 after a successful music_setup; while it is not 1 every music call does nothing.
int music_enabled;
// 1 while a player process exists that nobody has waited for yet. Cleared by the SIGCHLD
// handler when the player ends by itself, and by music_stop.
volatile sig_atomic_t player_running;
// The player of the last fork; only read while player_running is 1.
volatile pid_t player_pid;
// Once a player has been forked the sound output is the player's: it finalises it (a WAV
// file's header holds the count of bytes the player mixed), so the demo process's stale
// copy of the output must never be closed over it.
bool output_handed_over;
// The tune, loaded in the demo process and inherited by the player.
MODULE* module;
// A sound server's connection (PulseAudio's, SDL's, ALSA's through a server plug-in)
// lives in threads of the process that opened it, which a forked player does not have,
// and the PulseAudio library refuses all work in a child of a process that used it. So a
// sound device is only ever opened by the probe children and by the player itself: the
// demo process runs the no-sound driver in its place (to load and check the tune), closes
// it before the fork, and the player opens the device with these settings and loads the
// tune (from module_path) again. The file writers are opened by the demo process and
// shared, since the player must finish the very file that was started.
bool reopen_in_player;
UWORD player_device, player_mode, player_mixfreq;
std::string module_path;

// The answers given by music_choose, if any; the menus are asked otherwise.
bool answers_chosen;
MusicChoice chosen;

// Whether music_start was called, and the clock's reading then.
bool start_called;
int32_t start_time;

// Player process only: set by the stop signals, read by the playing loop.
volatile sig_atomic_t stop_requested;

// How long a driver may take to start in the throw-away child before it counts as failed.
constexpr int kDriverProbeSeconds = 10;
// How long music_stop lets a signalled player finish its file before it is killed.
constexpr int kStopGraceSeconds = 3;

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
// may be held by the interrupted update; the playing loop stops outside the handler.
void music_on_stop_signal(int)
{
    stop_requested = 1;
}

void install(int signal_number, void (*handler)(int), int flags)
{
    struct sigaction action{};
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

// Waits up to seconds for child pid to end and reaps it, storing its status when asked;
// false if it still runs then. A child that is no longer ours counts as ended.
bool reap_within(pid_t pid, int seconds, int* status)
{
    for (long waited = 0; waited < seconds * 1000L; ++waited) {
        const pid_t got = waitpid(pid, status, WNOHANG);
        if (got == pid || (got < 0 && errno != EINTR))
            return true;
        sleep_milliseconds(1);
    }
    return false;
}

// What a driver reported when it started in the probe: its name and the mode and
// frequency it accepted.
struct DriverReport {
    UWORD mode;
    UWORD mixfreq;
    char name[64];
};
DriverReport probe_report;

// Some drivers end the whole process when they find no device (the ALSA library asserts
// and aborts), so each one is first started and closed in a throw-away child, which
// sends back what the driver reported (into probe_report).
bool driver_starts()
{
    int report_pipe[2];
    if (pipe(report_pipe) != 0)
        return false;
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        close(report_pipe[0]);
        close(report_pipe[1]);
        return false; // without fork there can be no player either
    }
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        close(report_pipe[0]);
        if (MikMod_Init("") != 0)
            _exit(1);
        DriverReport report{md_mode, md_mixfreq, {}};
        std::snprintf(report.name, sizeof report.name, "%s", md_driver->Name);
        MikMod_Exit();
        _exit(write(report_pipe[1], &report, sizeof report) == (ssize_t)sizeof report ? 0 : 1);
    }
    close(report_pipe[1]);
    int status = -1; // stays "did not exit" unless the child's own status arrives
    bool started = reap_within(pid, kDriverProbeSeconds, &status);
    if (!started) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    started = started && WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
              read(report_pipe[0], &probe_report, sizeof probe_report) == (ssize_t)sizeof probe_report;
    close(report_pipe[0]);
    probe_report.name[sizeof probe_report.name - 1] = '\0';
    return started;
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

// The tune at path with the show's module settings, or null.
MODULE* load_module(const char* path)
{
    MODULE* loaded = Player_Load(path, kChannelLimit, 0);
    if (loaded != nullptr)
        music_set_module(loaded);
    return loaded;
}

// Sets md_device to the first of the drivers 1..drivers, in the library's own order, that
// is a sound device and starts; false when none does.
bool first_sound_device(int drivers)
{
    for (int device = 1; device <= drivers; ++device) {
        if (!is_sound_device(device))
            continue;
        md_device = (UWORD)device;
        if (driver_starts())
            return true;
    }
    return false;
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

// The player process: plays the tune until it ends or a stop signal comes, finalises the
// output and leaves through _exit, so nothing of the demo process (its stdio buffers, its
// exit handlers) runs a second time. Entered with every signal blocked.
[[noreturn]] void play(pid_t demo_pid, const sigset_t& demo_mask)
{
    // Handlers of the demo process (the console back-end's restore handlers, the SIGCHLD
    // handler) are no business of the player; ignored signals stay ignored.
    for (int s = 1; s < NSIG; ++s) {
        struct sigaction old{};
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

    if (reopen_in_player) {
        md_device = player_device;
        md_mode = player_mode;
        md_mixfreq = player_mixfreq;
        if (MikMod_Init("") != 0) {
            std::fprintf(stderr, "tarqle: no music: the player cannot open the sound device: %s\n",
                         MikMod_strerror(MikMod_errno));
            _exit(1);
        }
        module = module_path.empty() ? nullptr : load_module(module_path.c_str());
    }
    if (module != nullptr) {
        Player_Start(module);
        while (stop_requested == 0 && Player_Active()) {
            MikMod_Update();
            usleep(500);
        }
        Player_Stop();
        Player_Free(module);
        module = nullptr;
    }
    MikMod_Exit();
    _exit(0);
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
    // 1 when the chosen driver has already started once in the probe, -1 when none did.
    int probed = 0;
    if (answers_chosen) {
        drivers = driver_menu(false);
        md_mixfreq = (UWORD)(chosen.frequency >= 8000 && chosen.frequency <= 44100 ? chosen.frequency : 44100);
        if (chosen.device >= 1 && chosen.device <= drivers)
            md_device = (UWORD)chosen.device;
        else
            probed = first_sound_device(drivers) ? 1 : -1;
    } else {
        std::printf("Choose sound device :\n");
        drivers = driver_menu(true);
        if (drivers > 0) {
            md_device = (UWORD)ask_number("Type corresponding number : ", 1, drivers);
            md_mixfreq = (UWORD)ask_number("Enter mixing frequency (eg. 11025,22050,44100) : ", 8000, 44100);
        }
    }
    const bool started = drivers > 0 && probed >= 0 && (probed == 1 || driver_starts());
    reopen_in_player = started && is_sound_device(md_device);
    player_device = md_device;
    player_mode = md_mode;
    player_mixfreq = md_mixfreq;
    if (reopen_in_player)
        md_device = (UWORD)MikMod_DriverFromAlias("nosound");
    if (!started || MikMod_Init("") != 0) {
        std::printf("MikMod Driver error!\n");
        std::fflush(stdout);
        music_enabled = 0;
        return;
    }
    // Read after the driver started, so the line reports the mode it accepted.
    const DriverReport report =
        reopen_in_player ? probe_report : DriverReport{md_mode, md_mixfreq, {}};
    std::printf("Using %s for %d bit %s %s sound at %u Hz\n\n", reopen_in_player ? report.name : md_driver->Name,
                (report.mode & DMODE_16BITS) ? 16 : 8, (report.mode & DMODE_INTERP) ? "interpolated" : "normal",
                (report.mode & DMODE_STEREO) ? "stereo" : "mono", (unsigned)report.mixfreq);
    std::fflush(stdout);

    music_enabled = 1;
    player_running = 0;
    output_handed_over = false;
    module_path.clear();
    install(SIGCHLD, music_on_child_exit, SA_RESTART | SA_NOCLDSTOP);
}

int music_load(const char* path)
{
    if (music_enabled != 1 || player_running == 1)
        return 0;
    if (module != nullptr) {
        Player_Stop();
        Player_Free(module);
        module = nullptr;
    }
    const std::string found = data_path(path);
    module = load_module(found.c_str());
    if (module == nullptr) {
        std::printf("MikMod Error\n");
        std::fflush(stdout);
        return -1;
    }
    module_path = found;
    return 0;
}

void music_start()
{
    start_called = true;
    start_time = clock_now();
    // A player that opens the device itself can be made again for another round; a file
    // the first player finalised is not written twice.
    if (music_enabled != 1 || player_running == 1 || (output_handed_over && !reopen_in_player))
        return;
    // Every stream (standard output, the headless renderer's frame index, the WAV
    // writer's header) is written out now, or both processes would write it again.
    std::fflush(nullptr);
    // Every signal is blocked across the fork: the player puts back the default actions
    // and installs its own handlers before any signal reaches it (one sent the moment it
    // exists would otherwise run a handler of the demo process there), and the SIGCHLD
    // handler never sees a player id not yet stored.
    sigset_t blocked, demo_mask;
    sigfillset(&blocked);
    sigprocmask(SIG_BLOCK, &blocked, &demo_mask);
    if (reopen_in_player && !output_handed_over) {
        if (module != nullptr) {
            Player_Free(module);
            module = nullptr;
        }
        MikMod_Exit();
        output_handed_over = true;
    }
    const pid_t demo_pid = getpid();
    const pid_t pid = fork();
    if (pid == 0)
        play(demo_pid, demo_mask);
    if (pid > 0) {
        player_pid = pid;
        player_running = 1;
        output_handed_over = true;
    } else {
        std::fprintf(stderr, "tarqle: no music: cannot start the player process: %s\n", std::strerror(errno));
    }
    sigprocmask(SIG_SETMASK, &demo_mask, nullptr);
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
    // With SIGCHLD held back the player cannot be reaped between the test and the kill,
    // so its process id cannot have passed to another process.
    sigset_t child, old;
    sigemptyset(&child);
    sigaddset(&child, SIGCHLD);
    sigprocmask(SIG_BLOCK, &child, &old);
    if (player_running == 1) {
        kill(player_pid, SIGUSR1);
        if (!reap_within(player_pid, kStopGraceSeconds, nullptr)) {
            // A player that does not finish (stopped, stuck in a driver) must not hang the show.
            kill(player_pid, SIGKILL);
            waitpid(player_pid, nullptr, 0);
        }
        player_running = 0;
    }
    sigprocmask(SIG_SETMASK, &old, nullptr);
}

void music_shutdown()
{
    if (music_enabled != 1)
        return;
    music_stop();
    if (module != nullptr) {
        Player_Free(module);
        module = nullptr;
    }
    if (!output_handed_over)
        MikMod_Exit();
    music_enabled = 0;
}
