// tarqle-sdl's own sound output: the music library's software mixer played through a
// PulseAudio stream with a short latency target, whose latency the server reports.
#include <pulse/simple.h>

#include <algorithm>
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
static_assert(kUpdateMicroseconds < kTargetMicroseconds, "an update fits in the stream's buffer");

pa_simple* stream;
size_t frame_bytes;
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
int64_t silence_frames;
int64_t held_position;

int64_t frames_in(int64_t microseconds)
{
    return microseconds * md_mixfreq / 1000000;
}

// The stream's latency in frames: from the next frame sent to the moment it is heard.
int64_t latency_frames()
{
    int error = 0;
    return frames_in((int64_t)pa_simple_get_latency(stream, &error));
}

void send(const SBYTE* bytes, size_t size)
{
    int error = 0;
    pa_simple_write(stream, bytes, size, &error);
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
    pa_sample_spec sample_format;
    sample_format.format = (md_mode & DMODE_16BITS) ? PA_SAMPLE_S16NE : PA_SAMPLE_U8;
    sample_format.channels = (md_mode & DMODE_STEREO) ? 2 : 1;
    sample_format.rate = md_mixfreq;
    frame_bytes = pa_frame_size(&sample_format);
    pa_buffer_attr attr;
    attr.maxlength = (uint32_t)-1;
    attr.tlength = (uint32_t)pa_usec_to_bytes((pa_usec_t)kTargetMicroseconds, &sample_format);
    attr.prebuf = (uint32_t)-1; // the whole target: the held buffers fill it at the start
    attr.minreq = (uint32_t)-1;
    attr.fragsize = (uint32_t)-1;
    int error = 0;
    stream =
        pa_simple_new(nullptr, "tarqle", PA_STREAM_PLAYBACK, nullptr, "tune", &sample_format, nullptr, &attr, &error);
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

void pulse_update()
{
    if (!held.empty()) {
        send_held();
        return;
    }
    // Positive when the heard tune is behind the clock, negative when it is ahead. A
    // stream that ran dry reports no latency while it waits to fill up again; it is put
    // back on time once it plays.
    const int64_t latency = latency_frames();
    const int64_t heard = tune_sent - latency;
    const int64_t due = frames_in(monotonic_microseconds() - heard_start);
    const int64_t off = latency > 0 ? due - heard : 0;
    if (off > frames_in(kToleranceMicroseconds)) {
        mix_frames(off, false);
    } else if (off < -frames_in(kToleranceMicroseconds)) {
        std::vector<SBYTE> silence((size_t)-off * frame_bytes);
        VC_SilenceBytes(silence.data(), (ULONG)silence.size());
        send(silence.data(), silence.size());
    }
    mix_frames(frames_in(kUpdateMicroseconds), true);
}

// The held buffers' first sample, the tune's frame position, is to be heard at at: the
// silence before it where the stream would sound it sooner.
void begin_at(int64_t at, int64_t position, int64_t now, int64_t server)
{
    heard_start = at - position * 1000000 / md_mixfreq;
    held_position = position;
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
    pa_simple_flush(stream, &error);
    held.clear();
}
