// The instruments of the tune, synthesised from sines and noise: drums, bass, pad, pluck and lead.
#include "tools/tune/synth.h"

#include <cmath>
#include <cstdint>
#include <utility>

#include "tools/tune/instruments.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// Drums are made at the rate a sample with relative note +24 plays at kDrumNote, C-4
// (4 × 8363 Hz).
constexpr double kDrumRate = 4.0 * 8363.0;
constexpr int8_t kDrumRelativeNote = 24;

// Pitched samples hold a whole number of cycles of 128 << octave_shift frames each. A cycle
// of 128 frames at C-4 (261.626 Hz) plays at 33488 Hz: 24 semitones and 2/128 of one above
// 8363 Hz, so relative note 24 + 12 × octave_shift and finetune 2 put A-4 at 440 Hz.
constexpr int kBaseCycle = 128;
constexpr int8_t kPitchedFinetune = 2;

// The largest value a synthesised sample reaches, a little below full scale.
constexpr double kSamplePeak = 30000.0;

// sin(2π·turns) from a polynomial, so that the samples are the same bytes wherever the
// tool runs (a library sine may differ in its last bit between systems).
double sine_turns(double turns)
{
    double t = turns - std::floor(turns + 0.5); // -0.5 .. 0.5
    double x = 2.0 * kPi * t;                   // -π .. π
    if (x > kPi / 2)
        x = kPi - x;
    else if (x < -kPi / 2)
        x = -kPi - x;
    // Taylor series to x^15: error below 1e-9 on -π/2 .. π/2.
    const double x2 = x * x;
    double term = x;
    double sum = x;
    for (int n = 1; n <= 7; n++) {
        term = -term * x2 / static_cast<double>((2 * n) * (2 * n + 1));
        sum += term;
    }
    return sum;
}

// The factor that multiplies an amplitude each frame so that it falls to 1/e in
// time_constant seconds at rate frames per second, e^(-1/(τ·rate)), by its series (the
// argument is tiny, so eight terms are exact to the last bit of a double).
double decay_factor(double time_constant, double rate)
{
    const double x = -1.0 / (time_constant * rate);
    double term = 1.0;
    double sum = 1.0;
    for (int n = 1; n <= 8; n++) {
        term = term * x / n;
        sum += term;
    }
    return sum;
}

// A small deterministic noise source: a 32-bit linear congruential generator, top bits.
struct Noise {
    uint32_t state;
};

double noise_next(Noise& n)
{
    n.state = n.state * 1664525u + 1013904223u;
    return static_cast<double>(static_cast<int32_t>(n.state)) / 2147483648.0;
}

// Scales the signal so that its largest magnitude is kSamplePeak, and rounds it.
std::vector<int16_t> to_samples(const std::vector<double>& signal)
{
    double peak = 0.0;
    for (double v : signal)
        peak = std::fmax(peak, std::fabs(v));
    const double gain = peak > 0.0 ? kSamplePeak / peak : 0.0;
    std::vector<int16_t> out(signal.size());
    for (size_t i = 0; i < signal.size(); i++)
        out[i] = static_cast<int16_t>(std::lround(signal[i] * gain));
    return out;
}

// An exponential fall from 1 at the drum rate; next() gives the level and steps one frame.
struct Decay {
    double level;
    double factor;
};

Decay decay(double time_constant)
{
    return {1.0, decay_factor(time_constant, kDrumRate)};
}

double next(Decay& d)
{
    const double v = d.level;
    d.level *= d.factor;
    return v;
}

std::vector<double> kick()
{
    std::vector<double> s(static_cast<size_t>(0.45 * kDrumRate));
    Decay amp = decay(0.16), sweep = decay(0.035);
    double phase = 0.0;
    for (size_t i = 0; i < s.size(); i++) {
        phase += (48.0 + 130.0 * next(sweep)) / kDrumRate; // the drop from ~180 Hz gives the thump
        // A short click on the front edge makes it cut through the bass.
        const double click = i < 40 ? (1.0 - i / 40.0) * 0.35 * sine_turns(i * 1800.0 / kDrumRate) : 0.0;
        s[i] = next(amp) * sine_turns(phase) + click;
    }
    return s;
}

std::vector<double> snare()
{
    std::vector<double> s(static_cast<size_t>(0.35 * kDrumRate));
    Decay tone = decay(0.05), rattle = decay(0.09);
    Noise noise{0x5EED5EEDu};
    double previous = 0.0;
    for (size_t i = 0; i < s.size(); i++) {
        const double white = noise_next(noise);
        const double bright = white - 0.6 * previous; // tilt the noise towards the highs
        previous = white;
        s[i] = 0.55 * next(tone) * (sine_turns(i * 190.0 / kDrumRate) + 0.5 * sine_turns(i * 330.0 / kDrumRate)) +
               0.8 * next(rattle) * bright;
    }
    return s;
}

// High-passed noise, for the hi-hat (short) and the crash cymbal (long).
std::vector<double> metal(double seconds, double time_constant, uint32_t seed)
{
    std::vector<double> s(static_cast<size_t>(seconds * kDrumRate));
    const double n = static_cast<double>(s.size());
    Decay amp = decay(time_constant);
    Noise noise{seed};
    double x1 = 0.0, x2 = 0.0;
    for (size_t i = 0; i < s.size(); i++) {
        const double x = noise_next(noise);
        // Second difference: only the hiss is left. The last 5 % fades to silence.
        const double tail = i > n * 0.95 ? (n - i) / (n * 0.05) : 1.0;
        s[i] = next(amp) * (x - 2.0 * x1 + x2) * tail;
        x2 = x1;
        x1 = x;
    }
    return s;
}

// One voice of a pitched sample: harmonics 1..harmonics of a wave with `cycles` cycles over
// `frames` frames, harmonic k weighted by weight(k). Adds into s.
template <class Weight>
void add_voice(std::vector<double>& s, int cycles, int harmonics, double gain, Weight weight)
{
    const int frames = static_cast<int>(s.size());
    for (int k = 1; k <= harmonics; k++) {
        const double w = gain * weight(k);
        if (w == 0.0)
            continue;
        for (int i = 0; i < frames; i++) {
            // The phase k·cycles·i / frames reduced to one turn in integers, so that long
            // samples keep full precision.
            const long long num = static_cast<long long>(k) * cycles * i % frames;
            s[i] += w * sine_turns(static_cast<double>(num) / frames);
        }
    }
}

XmSample pitched(const std::vector<double>& signal, int octave_shift)
{
    XmSample s;
    s.data = to_samples(signal);
    s.loop_start = 0;
    s.loop_length = static_cast<uint32_t>(s.data.size());
    s.finetune = kPitchedFinetune;
    s.relative_note = static_cast<int8_t>(24 + 12 * octave_shift);
    return s;
}

XmSample drum(const std::vector<double>& signal)
{
    XmSample s;
    s.data = to_samples(signal);
    s.relative_note = kDrumRelativeNote;
    return s;
}

// Makes the instrument numbered number in ins from sample, it and its sample named as the
// instrument table has it, and returns it.
XmInstrument& set_instrument(std::vector<XmInstrument>& ins, uint8_t number, XmSample sample,
                             std::vector<XmEnvelopePoint> envelope, int sustain, uint16_t fadeout)
{
    XmInstrument& in = ins[number - 1];
    in.name = instrument_entry(number).name;
    in.sample = std::move(sample);
    in.sample.name = in.name;
    in.volume_envelope = std::move(envelope);
    in.volume_sustain = sustain;
    in.fadeout = fadeout;
    return in;
}

} // namespace

std::vector<XmInstrument> tune_instruments()
{
    // Panning is left to the tune, which sends each channel's own with every note.
    std::vector<XmInstrument> ins(kInsCount);
    set_instrument(ins, kInsKick, drum(kick()), {}, -1, 0);
    set_instrument(ins, kInsSnare, drum(snare()), {}, -1, 0);
    set_instrument(ins, kInsHat, drum(metal(0.12, 0.025, 0xC0FFEEu)), {}, -1, 0);
    set_instrument(ins, kInsCrash, drum(metal(1.8, 0.5, 0xBADC0DEu)), {}, -1, 0);

    // Bass: one cycle of 512 frames, a saw with its top rolled off and a sub sine under it; a
    // quick fall from the attack to a steady level, short release.
    std::vector<double> bass_wave(4 * kBaseCycle);
    add_voice(bass_wave, 1, 40, 1.0,
              [](int k) { return (k == 1 ? 1.6 : 1.0) / (k * std::sqrt(static_cast<double>(k))); });
    set_instrument(ins, kInsBass, pitched(bass_wave, 2), {{0, 64}, {6, 52}, {30, 40}}, 2, 2048);

    // Pad: three saws a few cents apart over 16384 frames (128, 127 and 129 cycles), which
    // loop seamlessly and beat slowly; slow swell and a long release.
    std::vector<double> pad_wave(128 * kBaseCycle);
    auto soft_saw = [](int k) { return 1.0 / (k * (1.0 + k * 0.08)); };
    add_voice(pad_wave, 128, 24, 1.0, soft_saw);
    add_voice(pad_wave, 127, 24, 0.8, soft_saw);
    add_voice(pad_wave, 129, 24, 0.8, soft_saw);
    set_instrument(ins, kInsPad, pitched(pad_wave, 0), {{0, 0}, {20, 50}, {60, 44}}, 2, 800);

    // Pluck for the arpeggio: a hollow square-ish cycle that dies away quickly.
    std::vector<double> pluck_wave(kBaseCycle);
    add_voice(pluck_wave, 1, 14, 1.0, [](int k) { return k % 2 == 1 ? 1.0 / k : 0.25 / k; });
    set_instrument(ins, kInsPluck, pitched(pluck_wave, 0), {{0, 64}, {4, 40}, {14, 16}, {40, 0}}, -1, 4096);

    // Lead: a saw and a square a few cents apart, few enough harmonics to stay clean at the
    // top of the melody, with a delayed vibrato.
    std::vector<double> lead_wave(128 * kBaseCycle);
    add_voice(lead_wave, 128, 12, 1.0, [](int k) { return 1.0 / k; });
    add_voice(lead_wave, 129, 12, 0.7, [](int k) { return k % 2 == 1 ? 1.0 / k : 0.0; });
    XmInstrument& l =
        set_instrument(ins, kInsLead, pitched(lead_wave, 0), {{0, 0}, {2, 64}, {12, 48}, {40, 40}}, 3, 1200);
    l.vibrato_sweep = 24;
    l.vibrato_depth = 3;
    l.vibrato_rate = 10;
    return ins;
}
