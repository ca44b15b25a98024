// Tests of the tune maker: the XM writer read back by the module player, and the tune mixed to a file as the demo plays
// it.
#include <gtest/gtest.h>
#include <mikmod.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "tools/data.h"
#include "tools/tune/instruments.h"
#include "tools/tune/synth.h"
#include "tools/tune/tune.h"
#include "tools/tune/xm_writer.h"

namespace fs = std::filesystem;

namespace {

constexpr int kMixRate = 44100;
constexpr double kShowSeconds = 141.0;

// A fresh empty folder under the build's test-runs folder.
std::string temp_folder(const std::string& name)
{
    const fs::path dir = fs::path(TARQLE_BUILD_DIR) / "test-runs" / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir.string();
}

std::string read_bytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool write_bytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

uint32_t le32(const std::string& b, size_t at)
{
    return static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8 | static_cast<uint8_t>(b[at + 2]) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24;
}

// The interleaved 16-bit samples of a RIFF WAVE file's data chunk (stereo expected).
std::vector<int16_t> wav_samples(const std::string& bytes, int* channels, int* rate)
{
    std::vector<int16_t> out;
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0)
        return out;
    size_t at = 12;
    while (at + 8 <= bytes.size()) {
        const std::string id = bytes.substr(at, 4);
        uint32_t size = le32(bytes, at + 4);
        at += 8;
        if (id == "fmt " && at + 16 <= bytes.size()) {
            *channels = static_cast<uint8_t>(bytes[at + 2]) | static_cast<uint8_t>(bytes[at + 3]) << 8;
            *rate = static_cast<int>(le32(bytes, at + 4));
        } else if (id == "data") {
            size = static_cast<uint32_t>(std::min<size_t>(size, bytes.size() - at));
            out.resize(size / 2);
            if (!out.empty())
                std::memcpy(out.data(), bytes.data() + at, out.size() * 2);
            return out;
        }
        at += size + (size & 1);
    }
    return out;
}

struct Render {
    bool loaded = false;
    bool ended = false; // the player stopped by itself
    int channels = 0;
    int rate = 0;
    std::vector<int16_t> samples; // interleaved
    int module_channels = 0;
};

// Mixes the module at path to music.wav in folder with the settings of the demo's player
// (software mixing, 16-bit stereo at 44100 Hz, volume 96, no wrap) and reads it back.
// mode replaces the output mode (the demo's menu also offers mono).
// Stops after max_updates mixing steps if the player has not stopped by then. inspect, when
// given, sees the loaded module before it plays.
Render render(const std::string& path, const std::string& folder, int max_updates,
              const std::function<void(const MODULE&)>& inspect = {},
              UWORD mode = DMODE_SOFT_MUSIC | DMODE_16BITS | DMODE_STEREO)
{
    static bool registered = false;
    if (!registered) {
        MikMod_RegisterDriver(&drv_wav);
        MikMod_RegisterAllLoaders();
        registered = true;
    }
    Render r;
    const fs::path previous = fs::current_path();
    fs::current_path(folder); // the file driver writes music.wav in the current folder
    md_volume = 96;
    md_musicvolume = 128;
    md_sndfxvolume = 128;
    md_pansep = 128;
    md_reverb = 0;
    md_mode = mode;
    md_mixfreq = kMixRate;
    md_device = 1;
    if (MikMod_Init("") == 0) {
        MODULE* module = Player_Load(path.c_str(), 64, 0);
        if (module) {
            r.loaded = true;
            r.module_channels = module->numchn;
            if (inspect)
                inspect(*module);
            module->extspd = 1;
            module->panflag = 1;
            module->wrap = 0;
            Player_Start(module);
            for (int i = 0; i < max_updates && Player_Active(); i++)
                MikMod_Update();
            r.ended = !Player_Active();
            Player_Stop();
            Player_Free(module);
        }
        MikMod_Exit();
    }
    fs::current_path(previous);
    r.samples = wav_samples(read_bytes(folder + "/music.wav"), &r.channels, &r.rate);
    return r;
}

// Samples at the limits of 16 bits, where the mixer clips.
size_t clipped_samples(const std::vector<int16_t>& s)
{
    return static_cast<size_t>(std::count_if(s.begin(), s.end(), [](int16_t v) { return v == 32767 || v == -32768; }));
}

double rms(const std::vector<int16_t>& s, size_t first, size_t count)
{
    double sum = 0.0;
    for (size_t i = first; i < first + count && i < s.size(); i++)
        sum += static_cast<double>(s[i]) * s[i];
    return count ? std::sqrt(sum / count) : 0.0;
}

// The frequency between low and high (in 0.25 Hz steps) where x has the most energy,
// measured with the Goertzel recurrence.
double strongest_frequency(const std::vector<double>& x, double low, double high)
{
    double best = low, best_power = -1.0;
    for (double f = low; f <= high; f += 0.25) {
        const double c = 2.0 * std::cos(2.0 * M_PI * f / kMixRate);
        double s1 = 0.0, s2 = 0.0;
        for (double v : x) {
            const double s0 = v + c * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        const double power = s1 * s1 + s2 * s2 - c * s1 * s2;
        if (power > best_power) {
            best_power = power;
            best = f;
        }
    }
    return best;
}

XmCell note_cell(uint8_t note, uint8_t instrument)
{
    XmCell c;
    c.note = note;
    c.instrument = instrument;
    return c;
}

// A small module with every feature the tune uses: two pattern lengths, a repeated order
// entry, a looped and an unlooped sample, envelope, key-off, effects.
XmModule small_module()
{
    XmModule m;
    m.name = "round trip";
    m.channels = 3;
    m.speed = 4;
    m.bpm = 140;
    XmPattern a;
    a.rows = 16;
    a.cells.resize(16 * 3);
    a.cells[0] = note_cell(49, 1);
    a.cells[0].volume = 0x30;
    a.cells[4] = note_cell(37, 2);
    a.cells[4].effect = 0x08;
    a.cells[4].param = 0x40;
    a.cells[9] = note_cell(kXmNoteOff, 0);
    XmPattern b;
    b.rows = 32;
    b.cells.resize(32 * 3);
    b.cells[3 * 5 + 1] = note_cell(60, 1);
    m.patterns = {a, b};
    m.order = {0, 1, 0};
    XmInstrument looped;
    looped.name = "looped";
    looped.sample.data.resize(100);
    for (size_t i = 0; i < 100; i++)
        looped.sample.data[i] = static_cast<int16_t>(i % 2 ? 30000 : -30000); // deltas wrap in 16 bits
    looped.sample.loop_start = 20;
    looped.sample.loop_length = 60;
    looped.sample.volume = 50;
    looped.sample.panning = 30;
    looped.volume_envelope = {{0, 0}, {4, 64}, {20, 32}};
    looped.volume_sustain = 2;
    looped.fadeout = 100;
    XmInstrument once;
    once.name = "once";
    once.sample.data.assign(333, 1234);
    m.instruments = {looped, once};
    return m;
}

} // namespace

TEST(XmWriter, ThePlayerReadsBackWhatWasWritten)
{
    const std::string folder = temp_folder("xm_round_trip");
    std::string error;
    const std::vector<uint8_t> bytes = xm_encode(small_module(), &error);
    ASSERT_FALSE(bytes.empty()) << error;
    const std::string path = folder + "/small.xm";
    ASSERT_TRUE(write_bytes(path, bytes));

    bool seen = false;
    const Render r = render(path, folder, 0, [&seen](const MODULE& m) {
        seen = true;
        EXPECT_STREQ(m.songname, "round trip");
        EXPECT_EQ(m.numchn, 3);
        EXPECT_EQ(m.numpat, 2);
        ASSERT_EQ(m.numpos, 3);
        EXPECT_EQ(m.positions[0], 0);
        EXPECT_EQ(m.positions[1], 1);
        EXPECT_EQ(m.positions[2], 0);
        EXPECT_EQ(m.pattrows[0], 16);
        EXPECT_EQ(m.pattrows[1], 32);
        EXPECT_EQ(m.initspeed, 4);
        EXPECT_EQ(m.inittempo, 140);
        EXPECT_EQ(m.numins, 2);
        ASSERT_EQ(m.numsmp, 2);
        const SAMPLE& looped = m.samples[0];
        EXPECT_EQ(looped.length, 100u);
        EXPECT_EQ(looped.loopstart, 20u);
        EXPECT_EQ(looped.loopend, 80u);
        EXPECT_TRUE(looped.flags & SF_LOOP);
        EXPECT_TRUE(looped.flags & SF_16BITS);
        EXPECT_EQ(looped.volume, 50);
        EXPECT_EQ(looped.panning, 30);
        const SAMPLE& once = m.samples[1];
        EXPECT_EQ(once.length, 333u);
        EXPECT_FALSE(once.flags & SF_LOOP);
    });
    EXPECT_TRUE(r.loaded) << MikMod_strerror(MikMod_errno);
    EXPECT_TRUE(seen);
}

TEST(XmWriter, RefusesModulesTheFormatCannotHold)
{
    struct Case {
        const char* what;
        void (*spoil)(XmModule&);
    };
    const Case cases[] = {
        {"note past B-7", [](XmModule& m) { m.patterns[0].cells[0].note = 98; }},
        {"missing instrument", [](XmModule& m) { m.patterns[0].cells[0].instrument = 3; }},
        {"order names a missing pattern", [](XmModule& m) { m.order.push_back(2); }},
        {"cells do not fill the rows", [](XmModule& m) { m.patterns[1].cells.pop_back(); }},
        {"loop past the end", [](XmModule& m) { m.instruments[0].sample.loop_length = 81; }},
        {"empty sample", [](XmModule& m) { m.instruments[1].sample.data.clear(); }},
        {"13 envelope points", [](XmModule& m) { m.instruments[0].volume_envelope.resize(13); }},
        {"envelope going back", [](XmModule& m) { m.instruments[0].volume_envelope[2].x = 4; }},
        {"33 channels", [](XmModule& m) { m.channels = 33; }},
    };
    std::string error;
    ASSERT_FALSE(xm_encode(small_module(), &error).empty()) << error;
    for (const Case& c : cases) {
        XmModule m = small_module();
        c.spoil(m);
        error.clear();
        EXPECT_TRUE(xm_encode(m, &error).empty()) << c.what;
        EXPECT_FALSE(error.empty()) << c.what;
    }
}

TEST(Tune, SameBytesOnEveryRun)
{
    const std::string a = temp_folder("tune_a");
    const std::string b = temp_folder("tune_b");
    ASSERT_EQ(make_tune(a), 0);
    ASSERT_EQ(make_tune(b), 0);
    const std::string first = read_bytes(a + "/music/tarqle.xm");
    ASSERT_GT(first.size(), 1000u);
    EXPECT_EQ(first.compare(0, 17, "Extended Module: "), 0);
    EXPECT_TRUE(first == read_bytes(b + "/music/tarqle.xm"));
}

// The whole tune as the demo's player mixes it: as long as the show, ends by itself, never
// clips, and no stretch of it before the outro is silent.
TEST(Tune, PlaysAsLongAsTheShowAndEndsWithoutClipping)
{
    const std::string folder = temp_folder("tune_render");
    ASSERT_EQ(make_tune(folder), 0);
    const Render r = render(folder + "/music/tarqle.xm", folder, 20000);
    ASSERT_TRUE(r.loaded) << MikMod_strerror(MikMod_errno);
    EXPECT_TRUE(r.ended) << "the player still runs after the time limit";
    EXPECT_GE(r.module_channels, 4);
    ASSERT_EQ(r.channels, 2);
    ASSERT_EQ(r.rate, kMixRate);

    const size_t frames = r.samples.size() / 2;
    const double seconds = static_cast<double>(frames) / kMixRate;
    EXPECT_NEAR(seconds, kShowSeconds, kShowSeconds * 0.05);

    int peak = 0;
    for (int16_t v : r.samples)
        peak = std::max(peak, std::abs(static_cast<int>(v)));
    EXPECT_EQ(clipped_samples(r.samples), 0u);
    const double total_rms = rms(r.samples, 0, r.samples.size());
    std::printf("tune: %.2f s, peak %d (%.2f dBFS), RMS %.0f (%.2f dBFS)\n", seconds, peak,
                20.0 * std::log10(peak / 32768.0), total_rms, 20.0 * std::log10(total_rms / 32768.0));

    // Every two-second stretch up to the outro carries sound (a tenth of the whole tune's
    // RMS at least), and the last half second has faded to near silence.
    const size_t window = 2 * kMixRate * 2;
    for (size_t first = 0; first + window <= static_cast<size_t>(134 * kMixRate * 2); first += window)
        EXPECT_GT(rms(r.samples, first, window), total_rms / 10) << "quiet at " << first / (2 * kMixRate) << " s";
    const size_t tail = kMixRate; // half a second of stereo frames
    ASSERT_GT(r.samples.size(), tail);
    EXPECT_LT(rms(r.samples, r.samples.size() - tail, tail), total_rms / 20);
}

// Mono adds the channels up without the stereo split, so it is the louder mix; it must not
// clip either.
TEST(Tune, MonoMixDoesNotClip)
{
    const std::string folder = temp_folder("tune_mono");
    ASSERT_EQ(make_tune(folder), 0);
    const Render r = render(folder + "/music/tarqle.xm", folder, 20000, {}, DMODE_SOFT_MUSIC | DMODE_16BITS);
    ASSERT_TRUE(r.loaded);
    EXPECT_TRUE(r.ended);
    ASSERT_EQ(r.channels, 1);
    EXPECT_GT(r.samples.size(), static_cast<size_t>(kShowSeconds * 0.95 * kMixRate));
    EXPECT_EQ(clipped_samples(r.samples), 0u);
}

// Each pitched instrument, played at, sounds at 220 and 440 Hz: the cycle
// length, relative note and finetune of its sample agree with the player's tuning.
TEST(Tune, PitchedInstrumentsAreInTune)
{
    const std::vector<XmInstrument> instruments = tune_instruments();
    const uint8_t pitched[] = {kInsBass, kInsPad, kInsPluck, kInsLead};
    const struct {
        uint8_t note;
        double hertz;
    } notes[] = {{46, 220.0}, {58, 440.0}};
    for (uint8_t ins : pitched)
        for (const auto& n : notes) {
            XmModule m;
            m.channels = 1;
            m.instruments = {instruments[ins - 1]};
            m.instruments[0].vibrato_depth = 0; // a steady pitch to count
            XmPattern p;
            p.rows = 16;
            p.cells.resize(16);
            p.cells[0] = note_cell(n.note, 1);
            m.patterns = {p};
            m.order = {0};
            const std::string folder = temp_folder("tune_pitch");
            ASSERT_TRUE(write_bytes(folder + "/one.xm", xm_encode(m, nullptr)));
            const Render r = render(folder + "/one.xm", folder, 1000);
            ASSERT_TRUE(r.loaded);
            // The strongest frequency of the left channel over 0.2 s .. 0.7 s, while the
            // note sounds steadily (the fundamental is the loudest partial of each one).
            const size_t first = kMixRate / 5;
            const size_t last = kMixRate * 7 / 10;
            ASSERT_GT(r.samples.size() / 2, last);
            std::vector<double> x;
            for (size_t i = first; i < last; i++) {
                const double hann = 0.5 - 0.5 * std::cos(2.0 * M_PI * (i - first) / (last - first));
                x.push_back(hann * r.samples[2 * i]);
            }
            const double hertz = strongest_frequency(x, 150.0, 600.0);
            EXPECT_NEAR(hertz, n.hertz, n.hertz * 0.005) << "instrument " << int(ins) << " note " << int(n.note);
        }
}
