// The programs' own sound output: the music library's software mixer played through a
// PulseAudio stream with a short latency target, whose latency the server reports; a
// server that goes away is waited for, and the tune goes on at the show's time once it is
// back.
#include <pulse/simple.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "sound/output.h"
#include "sound/player_protocol.h"

namespace {

// The stream's target latency: a prompt start, yet room for a busy machine's hiccups.
constexpr int64_t kTargetMicroseconds = 30000;
// What one update mixes and sends; the write blocks while the stream is full.
constexpr int64_t kUpdateMicroseconds = 10000;
// The heard tune is put back on the clock only when it is off by more than this: the
// server's latency reports themselves wander by a few milliseconds.
constexpr int64_t kToleranceMicroseconds = 8000;
// ... and only when this many reports in a row say so (30 ms of updates).
constexpr int kAgreeingReports = 3;
static_assert(kUpdateMicroseconds < kTargetMicroseconds, "an update fits in the stream's buffer");
// A server that went away is asked again after this, twice as long each time it does not
// answer, up to the longest wait: back within half a second of its return, and meanwhile
// a few tries a second at most.
constexpr int64_t kFirstRetryMicroseconds = 50000;
constexpr int64_t kLongestRetryMicroseconds = 500000;
// While the server is away an update waits at most this long, so the player neither spins
// nor keeps the show's requests waiting.
constexpr int64_t kIdleUpdateMicroseconds = 20000;

pa_sample_spec sample_format;
pa_buffer_attr buffer;
pa_simple* stream;
size_t frame_bytes;
// Between the server going away and the stream opening again: when to ask again, and how
// long to wait after that.
bool lost;
int64_t retry_at;
int64_t retry_wait;
// One update's mix; and the first buffers, mixed before the start.
std::vector<SBYTE> mix;
std::vector<SBYTE> held;
// The tune's position, in frames, of the next frame to be sent: skipped frames count,
// silence sent to wait does not.
int64_t tune_sent;
// When the tune's first sample is heard, or would have been had it played from its start
// (CLOCK_MONOTONIC, microseconds); the silence sent before the held buffers to hold them
// back till their time; and the tune's frame the held buffers begin with.
int64_t heard_start;
// The last updates' offsets of the heard tune from the clock, and how many were taken since
// the tune was last put back (or started).
int64_t offs[kAgreeingReports];
int reports;
int64_t silence_frames;
int64_t held_position;

int64_t frames_in(int64_t microseconds)
{
    return microseconds * md_mixfreq / 1000000;
}

// The stream, or null when the server does not answer.
pa_simple* open_stream()
{
    int error = 0;
    return pa_simple_new(nullptr, "tarqle", PA_STREAM_PLAYBACK, nullptr, "tune", &sample_format, nullptr, &buffer,
                         &error);
}

// The server went away (a call on the stream failed): the stream goes, and the updates wait
// for the server, asking it again now and then. Told once on standard error.
void lose_stream()
{
    pa_simple_free(stream);
    stream = nullptr;
    lost = true;
    retry_wait = kFirstRetryMicroseconds;
    retry_at = monotonic_microseconds() + retry_wait;
    held.clear();
    // Written at once: the player leaves through _exit, which writes out no buffer.
    std::fprintf(stderr, "tarqle: the sound server went away; the tune is silent until it is back\n");
    std::fflush(stderr);
}

// The stream's latency in frames: from the next frame sent to the moment it is heard.
int64_t latency_frames()
{
    int error = 0;
    if (stream == nullptr)
        return 0;
    const pa_usec_t latency = pa_simple_get_latency(stream, &error);
    if (latency == (pa_usec_t)-1) {
        lose_stream();
        return 0;
    }
    return frames_in((int64_t)latency);
}

void send(const SBYTE* bytes, size_t size)
{
    int error = 0;
    if (stream != nullptr && pa_simple_write(stream, bytes, size, &error) < 0)
        lose_stream();
}

// Mixes frames of the tune into mix, in pieces of at most mix's size, and sends them or,
// when skipping, drops them.
void mix_frames(int64_t frames, bool keep)
{
    while (frames > 0) {
        const size_t bytes = (size_t)std::min<int64_t>(frames * (int64_t)frame_bytes, (int64_t)mix.size());
        VC_WriteBytes(mix.data(), (ULONG)bytes);
        if (keep)
            send(mix.data(), bytes);
        frames -= (int64_t)(bytes / frame_bytes);
        tune_sent += (int64_t)(bytes / frame_bytes);
    }
}

void pulse_command_line(const CHAR*) {}

BOOL pulse_is_present()
{
    // Whether a server answers is learnt by opening the stream.
    return 1;
}

int pulse_init()
{
    sample_format.format = (md_mode & DMODE_16BITS) ? PA_SAMPLE_S16NE : PA_SAMPLE_U8;
    sample_format.channels = (md_mode & DMODE_STEREO) ? 2 : 1;
    sample_format.rate = md_mixfreq;
    frame_bytes = pa_frame_size(&sample_format);
    buffer.maxlength = (uint32_t)-1;
    buffer.tlength = (uint32_t)pa_usec_to_bytes((pa_usec_t)kTargetMicroseconds, &sample_format);
    buffer.prebuf = (uint32_t)-1; // the whole target: the held buffers fill it at the start
    buffer.minreq = (uint32_t)-1;
    buffer.fragsize = (uint32_t)-1;
    stream = open_stream();
    if (stream == nullptr) {
        MikMod_errno = MMERR_OPENING_AUDIO;
        return 1;
    }
    mix.assign((size_t)frames_in(kUpdateMicroseconds) * frame_bytes, 0);
    return VC_Init();
}

void pulse_exit()
{
    VC_Exit();
    if (stream != nullptr)
        pa_simple_free(stream);
    stream = nullptr;
}

int pulse_reset()
{
    VC_Exit();
    return VC_Init();
}

// Sends what the start left to send: the silence that holds the tune back, then the held
// buffers, which fill the stream's prebuffer, so it plays from here on.
void send_held()
{
    if (silence_frames > 0) {
        std::vector<SBYTE> silence((size_t)silence_frames * frame_bytes);
        VC_SilenceBytes(silence.data(), (ULONG)silence.size());
        send(silence.data(), silence.size());
    }
    send(held.data(), held.size());
    tune_sent = held_position + (int64_t)(held.size() / frame_bytes);
    held.clear();
}

// While the server is away: waits (a little at a time, so the show's requests and a stop
// are taken) until it is time to ask it again; once it answers, the tune skips on to where
// the show stands, due when its next sample is heard. False while it is still away.
bool server_back()
{
    const int64_t now = monotonic_microseconds();
    if (now < retry_at) {
        usleep((useconds_t)std::min(retry_at - now, kIdleUpdateMicroseconds));
        return false;
    }
    stream = open_stream();
    if (stream == nullptr) {
        retry_wait = std::min(2 * retry_wait, kLongestRetryMicroseconds);
        retry_at = now + retry_wait;
        return false;
    }
    lost = false;
    reports = 0;
    std::fprintf(stderr, "tarqle: the sound server is back\n");
    std::fflush(stderr);
    const int64_t due = frames_in(now + kTargetMicroseconds - heard_start);
    if (due > tune_sent)
        mix_frames(due - tune_sent, false);
    return true;
}

void pulse_update()
{
    if (lost && !server_back())
        return;
    if (!held.empty()) {
        send_held();
        return;
    }
    // Positive when the heard tune is behind the clock, negative when it is ahead. A
    // stream that ran dry reports no latency while it waits to fill up again; it is put
    // back on time once it plays. One report can be off by much (a server that has just
    // started, timing it has not yet brought up to date): the tune is put back only when
    // the last reports all say it is off one way, and by the least of what they say.
    const int64_t latency = latency_frames();
    const int64_t heard = tune_sent - latency;
    const int64_t due = frames_in(monotonic_microseconds() - heard_start);
    const int64_t tolerance = frames_in(kToleranceMicroseconds);
    const int64_t off = latency > 0 ? due - heard : 0;
    offs[reports++ % kAgreeingReports] = off;
    int64_t least = off;
    bool agree = reports >= kAgreeingReports;
    for (int64_t o : offs) {
        agree = agree && (o > tolerance) == (off > tolerance) && (o < -tolerance) == (off < -tolerance);
        least = off > 0 ? std::min(least, o) : std::max(least, o);
    }
    if (agree && least > tolerance) {
        mix_frames(least, false);
        reports = 0;
    } else if (agree && least < -tolerance) {
        std::vector<SBYTE> silence((size_t)-least * frame_bytes);
        VC_SilenceBytes(silence.data(), (ULONG)silence.size());
        send(silence.data(), silence.size());
        reports = 0;
    }
    mix_frames(frames_in(kUpdateMicroseconds), true);
}

// The held buffers' first sample, the tune's frame position, is to be heard at at: the
// silence before it where the stream would sound it sooner.
void begin_at(int64_t at, int64_t position, int64_t now, int64_t server)
{
    heard_start = at - position * 1000000 / md_mixfreq;
    held_position = position;
    reports = 0;
    silence_frames = std::max<int64_t>(frames_in(at - now - server), 0);
}

// The stream's own latency now, in microseconds.
int64_t server_microseconds()
{
    return std::max<int64_t>(latency_frames(), 0) * 1000000 / md_mixfreq;
}

MDRIVER pulse_driver = {
    nullptr,
    "PulseAudio (known latency)",
    "tarqle's own output",
    0,
    255,
    "tarqle-pulse",
    "",
    pulse_command_line,
    pulse_is_present,
    VC_SampleLoad,
    VC_SampleUnload,
    VC_SampleSpace,
    VC_SampleLength,
    pulse_init,
    pulse_exit,
    pulse_reset,
    VC_SetNumVoices,
    VC_PlayStart,
    VC_PlayStop,
    pulse_update,
    pulse_update,
    VC_VoiceSetVolume,
    VC_VoiceGetVolume,
    VC_VoiceSetFrequency,
    VC_VoiceGetFrequency,
    VC_VoiceSetPanning,
    VC_VoiceGetPanning,
    VC_VoicePlay,
    VC_VoiceStop,
    VC_VoiceStopped,
    VC_VoiceGetPosition,
    VC_VoiceRealVolume,
};

} // namespace

MDRIVER* own_output_driver()
{
    return &pulse_driver;
}

void own_output_prepare()
{
    held.assign((size_t)frames_in(kTargetMicroseconds) * frame_bytes, 0);
    VC_WriteBytes(held.data(), (ULONG)held.size());
}

int64_t own_output_start(int64_t earliest, int64_t position)
{
    // Nothing is sent yet, so the answer goes out at once (a write blocks while the stream
    // is full): the stream sounds its first frame after the server's own latency, or after
    // the silence that keeps it from sounding before earliest. The first update sends.
    const int64_t now = monotonic_microseconds();
    const int64_t server = server_microseconds();
    const int64_t heard = std::max(now + server, earliest);
    begin_at(heard, position, now, server);
    return heard;
}

void own_output_follow(int64_t at, int64_t position)
{
    begin_at(at, position, monotonic_microseconds(), server_microseconds());
}

int64_t own_output_latency()
{
    return server_microseconds();
}

void own_output_hold()
{
    int error = 0;
    if (stream != nullptr && pa_simple_flush(stream, &error) < 0)
        lose_stream();
    held.clear();
}
