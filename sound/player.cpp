// The player process: it opens the sound output, loads the tune and plays it, holding it
// and putting it at any position as the show's requests say.
#include "sound/player.h"

#include <fcntl.h>
#include <mikmod.h>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>

#include "sound/mikmod_settings.h"
#include "sound/output.h"
#include "sound/player_protocol.h"

namespace {

// Set by the stop signals, read by the player's loop.
volatile sig_atomic_t stop_requested;

// The latency target, in milliseconds, for the library's PulseAudio driver: short, yet
// room for a busy machine's hiccups, since that driver cannot be corrected afterwards.
const char* const kLibraryPulseLatency = "40";
// A silent player looks at its socket and its stop flag this often.
constexpr int kRequestPollMilliseconds = 20;
// What a sounding player waits between two updates of the output.
constexpr useconds_t kUpdatePauseMicroseconds = 500;

// SIGUSR1, SIGTERM and SIGINT: only a flag, since the music library's lock may be held by
// the interrupted update; the loop stops outside the handler.
void on_stop_signal(int)
{
    stop_requested = 1;
}

// Opens the driver md_device with standard error on the null device: the probes of sound
// libraries talk there (ALSA's "ALSA lib" lines, OpenAL's errors, the assertion with which
// the ALSA library aborts when it finds no device), and a driver that does not start is
// the one line "MikMod Driver error!" of the show's process, not a screenful of chatter.
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

// What the player holds.
struct Player {
    int channel;
    bool own_output;
    bool replayable;
    bool heard;
    std::string tune;
    MODULE* module;
    // The tune stands at its start, never sounded, its first buffers mixed (for the own
    // output): a start has nothing left to prepare.
    bool fresh;
    // The first start has come: the tune plays unless held.
    bool released;
    bool holding;
};
Player player;

// Whether the silent mix should give way: a newer request waits, or the player must stop.
bool nothing_newer()
{
    return stop_requested == 0 && !player_channel_ready(player.channel);
}

void drop_module()
{
    if (player.module == nullptr)
        return;
    Player_Stop();
    Player_Free(player.module);
    player.module = nullptr;
}

// The tune loaded afresh (so all of its state starts over), started, and mixed without a
// sound up to frames, so it plays on with the very samples a run from its start plays
// there; given way (false) when may_go_on says so between two pieces of the mix, and false
// with no tune when it no longer loads (the show goes on silent). A library driver that
// mixes from a thread of its own is kept out by the library's lock; one that gave way is
// silenced, since starting the tune started it again.
bool tune_at(int64_t frames, bool (*may_go_on)())
{
    if (player.own_output)
        own_output_hold();
    drop_module();
    player.fresh = false;
    player.module = music_load_at(player.tune.c_str(), 0, false);
    if (player.module == nullptr)
        return false;
    if (!player.own_output)
        MikMod_Lock();
    const bool there = music_skip_frames(frames, may_go_on);
    if (!player.own_output) {
        MikMod_Unlock();
        if (!there)
            MikMod_DisableOutput();
    }
    return there;
}

// The tune plays on from position_ms, heard at at. The silent mix takes its time (up to
// about a fifth of a second far into the tune), so the position due when it is done lies
// that much further on: the player skips on by as much before a sample sounds, for the
// library's sound devices too (taken as heard at once, their latency being unknown); a
// file writer has no time to keep.
void play_from(int32_t position_ms, int64_t at)
{
    int64_t frames = (int64_t)position_ms * md_mixfreq / 1000;
    player.holding = true;
    if (!tune_at(frames, nothing_newer))
        return;
    const int64_t late = monotonic_microseconds() + own_output_latency() - at;
    if (late > 0 && player.heard) {
        const int64_t more = late * md_mixfreq / 1000000;
        if (!player.own_output)
            MikMod_Lock();
        music_skip_frames(more, nullptr);
        if (!player.own_output)
            MikMod_Unlock();
        frames += more;
        at += more * 1000000 / md_mixfreq;
    }
    if (player.own_output) {
        own_output_prepare();
        own_output_follow(at, frames);
    }
    player.holding = false;
}

// A start: the tune from its beginning, heard no earlier than earliest, or made ready and
// held. Returns when its first sample is heard (0: the output cannot tell).
int64_t start(int64_t earliest, bool held)
{
    player.released = true;
    const bool was_fresh = player.fresh;
    if (!was_fresh) {
        if (!tune_at(0, nullptr)) {
            player.holding = true;
            return 0;
        }
        if (player.own_output)
            own_output_prepare();
    }
    player.fresh = false;
    player.holding = held;
    if (held) {
        if (!player.own_output)
            MikMod_DisableOutput();
        return 0;
    }
    if (player.own_output)
        return own_output_start(earliest, 0);
    // A fresh tune was loaded, not started: a library driver sounds from here.
    if (was_fresh)
        Player_Start(player.module);
    return 0;
}

// A load: the tune read and started; the own output mixes its first buffers now, while a
// library driver may start sounding only at the start (SDL's pulls samples from a thread of
// its own once the tune plays).
bool load(const std::string& path)
{
    drop_module();
    player.tune = path;
    player.module = Player_Load(path.c_str(), kChannelLimit, 0);
    if (player.module == nullptr)
        return false;
    music_set_module(player.module);
    if (player.own_output) {
        Player_Start(player.module);
        own_output_prepare();
    }
    player.fresh = true;
    return true;
}

// The hold or play-from still to be carried out: only the latest counts.
struct Pending {
    bool waiting;
    PlayerRequest request;
};

// Takes every request waiting (waiting up to wait_ms for the first): loads and starts are
// answered in turn, a hold or a play-from is kept as pending, replacing an earlier one; a
// start drops what was pending before it. False when the show is gone or its socket broke.
bool take_requests(int wait_ms, Pending* pending)
{
    pollfd ready{player.channel, POLLIN, 0};
    if (poll(&ready, 1, wait_ms) <= 0)
        return true;
    while (stop_requested == 0 && player_channel_ready(player.channel)) {
        PlayerRequest request;
        if (!player_request_receive(player.channel, &request, 1000, &stop_requested))
            return false;
        int64_t answer = 0;
        switch (request.kind) {
        case kPlayerLoad: answer = load(request.path) ? 1 : 0; break;
        case kPlayerStart:
            pending->waiting = false;
            answer = start(request.at, request.held);
            break;
        default: *pending = {true, request}; continue;
        }
        if (!player_answer_send(player.channel, {request.serial, answer}))
            return false;
    }
    return true;
}

void carry_out(const PlayerRequest& request)
{
    if (request.kind == kPlayerPlayFrom) {
        play_from(request.position_ms, request.at);
    } else if (!player.holding) {
        player.holding = true;
        if (player.own_output)
            own_output_hold();
        else
            MikMod_DisableOutput();
    }
}

} // namespace

void signal_install(int signal_number, void (*handler)(int), int flags)
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = flags;
    sigaction(signal_number, &action, nullptr);
}

[[noreturn]] void player_main(int channel, pid_t demo_pid, const sigset_t& demo_mask, bool replayable, bool heard)
{
    // Handlers of the show's process are no business of the player; ignored signals stay
    // ignored.
    for (int s = 1; s < NSIG; ++s) {
        struct sigaction old {};
        if (s == SIGKILL || s == SIGSTOP || sigaction(s, nullptr, &old) != 0)
            continue;
        if (old.sa_handler != SIG_DFL && old.sa_handler != SIG_IGN)
            signal_install(s, SIG_DFL, 0);
    }
    // No SA_RESTART: a stop cuts a blocking write or the pause between updates short.
    for (int s : {SIGUSR1, SIGTERM, SIGINT})
        signal_install(s, on_stop_signal, 0);
    // A player whose show's process dies (killed, crashed) stops like one told to stop.
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
    PlayerReport report{md_mode, md_mixfreq, {}};
    std::snprintf(report.name, sizeof report.name, "%s", md_driver->Name);
    player = {channel, md_driver == own_output_driver(), replayable, heard, {}, nullptr, false, false, false};

    if (player_report_send(channel, report)) {
        Pending pending{false, {}};
        while (stop_requested == 0) {
            const bool sounding = player.released && !player.holding && player.module != nullptr && Player_Active();
            // The tune has ended, and the show will not go back to it.
            if (player.released && !sounding && !player.replayable)
                break;
            // A sounding player only takes what waits; a silent one waits a little.
            if (!take_requests(sounding ? 0 : kRequestPollMilliseconds, &pending))
                break;
            if (pending.waiting) {
                pending.waiting = false;
                carry_out(pending.request);
            }
            if (player.released && !player.holding && player.module != nullptr && Player_Active()) {
                MikMod_Update();
                usleep(kUpdatePauseMicroseconds);
            }
        }
    }
    drop_module();
    MikMod_Exit();
    _exit(0);
}
