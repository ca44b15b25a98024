// The music: its menus, the player process and the files the file writers leave, each
// run in a forked child of its own so no player outlives a test.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <mikmod.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <numbers>
#include <string>
#include <thread>

#include "sound/mikmod_settings.h"
#include "sound/music.h"
#include "sound/player_protocol.h"
#include "tests/run_program.h"

namespace {

namespace fs = std::filesystem;

// ---- A tiny XM tune, written here so the tests need no tune from elsewhere ----

struct TuneShape {
    int rows;   // rows of the one pattern
    int orders; // times the pattern is played
    int speed;  // ticks per row
    int bpm;
};
// About two seconds: finishes by itself in a moment with the file writers.
constexpr TuneShape kShortTune{16, 1, 6, 125};
// Hours long: still playing whenever a test stops it.
constexpr TuneShape kLongTune{64, 200, 31, 32};

void put16(std::string& s, unsigned v)
{
    s += (char)(v & 0xFF);
    s += (char)((v >> 8) & 0xFF);
}

void put32(std::string& s, uint32_t v)
{
    put16(s, v & 0xFFFF);
    put16(s, v >> 16);
}

void put_text(std::string& s, const char* text, size_t width)
{
    std::string field(text);
    field.resize(width, '\0');
    s += field;
}

// Two channels, one pattern, one instrument with a looped 32-byte sine sample.
std::string make_xm(const TuneShape& shape)
{
    std::string x;
    put_text(x, "Extended Module: ", 17);
    put_text(x, "test tune", 20);
    x += '\x1A';
    put_text(x, "tarqle tests", 20);
    put16(x, 0x0104);
    put32(x, 276); // header size, counted from this field
    put16(x, (unsigned)shape.orders);
    put16(x, 0); // restart position
    put16(x, 2); // channels
    put16(x, 1); // patterns
    put16(x, 1); // instruments
    put16(x, 1); // linear frequencies
    put16(x, (unsigned)shape.speed);
    put16(x, (unsigned)shape.bpm);
    std::string orders(256, '\0');
    x += orders;

    // Packed pattern: a note every fourth row on channel 1, every sixth on channel 2.
    std::string rows;
    for (int r = 0; r < shape.rows; ++r) {
        for (int channel = 0; channel < 2; ++channel) {
            const int every = channel == 0 ? 4 : 6;
            if (r % every == 0) {
                rows += (char)(0x80 | 0x01 | 0x02);
                rows += (char)(channel == 0 ? 49 + (r / 4) % 5 : 37); // C-4 upwards, C-3
                rows += (char)1;
            } else {
                rows += (char)0x80;
            }
        }
    }
    put32(x, 9);
    x += '\0';
    put16(x, (unsigned)shape.rows);
    put16(x, (unsigned)rows.size());
    x += rows;

    // Instrument: 263-byte header with no envelopes, then one 40-byte sample header.
    std::string inst;
    put32(inst, 263);
    put_text(inst, "sine", 22);
    inst += '\0';
    put16(inst, 1);
    put32(inst, 40);
    inst += std::string(96, '\0'); // every note plays sample 0
    inst.resize(263, '\0');
    x += inst;

    const int sample_length = 32;
    std::string sample;
    int previous = 0;
    for (int i = 0; i < sample_length; ++i) {
        const int value = (int)std::lround(100.0 * std::sin(2.0 * std::numbers::pi * i / sample_length));
        sample += (char)(int8_t)(value - previous); // delta coded
        previous = value;
    }
    put32(x, sample_length);
    put32(x, 0);             // loop start
    put32(x, sample_length); // loop length
    x += (char)48;           // volume
    x += '\0';               // finetune
    x += (char)1;            // forward loop, 8-bit
    x += (char)128;          // panning
    x += '\0';               // relative note
    x += '\0';
    put_text(x, "sine", 22);
    x += sample;
    return x;
}

// ---- Running the music in a child of its own ----

struct Outcome {
    int status = -1; // the body's result, or 128 + signal
    bool timed_out = false;
    bool left_behind = false; // something of the child's process group outlived it
    std::string out;          // standard output
};

// Runs body in a forked child in folder, with answers on standard input. The child has a
// process group of its own, which is killed afterwards whatever happened, so a player that
// was left behind ends with the test and is reported.
Outcome isolated(const std::string& folder, const std::string& answers, const std::function<int()>& body,
                 int timeout_seconds = 20)
{
    std::ofstream(folder + "/answers.txt", std::ios::binary) << answers;
    std::fflush(nullptr);
    Outcome o;
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        if (chdir(folder.c_str()) != 0 || !std::freopen("answers.txt", "r", stdin) ||
            !std::freopen("out.txt", "w", stdout) || !std::freopen("err.txt", "w", stderr))
            _exit(125);
        const int code = body();
        std::fflush(nullptr);
        _exit(code);
    }
    setpgid(pid, pid);
    int status = 0;
    for (long waited = 0;; ++waited) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            break;
        if (waited >= timeout_seconds * 1000L) {
            o.timed_out = true;
            kill(-pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        usleep(1000);
    }
    o.left_behind = kill(-pid, 0) == 0;
    kill(-pid, SIGKILL);
    o.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    o.out = read_file(folder + "/out.txt");
    return o;
}

std::string fresh_folder(const std::string& name)
{
    const std::string folder = make_run_folder("music-" + name);
    fs::remove(folder + "/music");
    fs::create_directory(folder + "/music");
    std::ofstream(folder + "/music/short.xm", std::ios::binary) << make_xm(kShortTune);
    std::ofstream(folder + "/music/long.xm", std::ios::binary) << make_xm(kLongTune);
    return folder;
}

const std::string kModeMenu = "Choose output mode:\n0. NO music\n1. 8 bits, mono\n2. 8 bits, stereo\n"
                              "3. 16 bits, mono\n4. 16 bits, stereo\nType corresponding number : ";
const std::string kDevicePrompt = "Type corresponding number : ";
const std::string kFrequencyPrompt = "Enter mixing frequency (eg. 11025,22050,44100) : ";

// The device menu as printed, read once from a run that ends at the device question.
const std::string& device_menu()
{
    static std::string menu;
    if (menu.empty()) {
        const std::string folder = fresh_folder("menu");
        Outcome o = isolated(folder, "3\n", [] {
            music_setup();
            return 0;
        });
        const size_t start = o.out.find("Choose sound device :\n");
        const size_t end = o.out.find(kDevicePrompt, start);
        if (start != std::string::npos && end != std::string::npos)
            menu = o.out.substr(start, end - start);
    }
    return menu;
}

// The number of the driver whose description begins with name, as a menu answer.
std::string driver(const std::string& name)
{
    const std::string& menu = device_menu();
    const size_t at = menu.find(". " + name);
    if (at == std::string::npos)
        return "?";
    const size_t line = menu.rfind('\n', at) + 1;
    return menu.substr(line, at - line);
}

int play_through(const char* tune)
{
    music_setup();
    music_load(tune);
    music_start();
    music_stop();
    music_shutdown();
    return 0;
}

// A single-process render with the menus' settings (the answers on standard input): the
// same tune played and mixed without a player process, until it ends or the file holds
// byte_limit bytes.
int render_alone(const char* tune, const char* file, int64_t byte_limit)
{
    int mode = 0, device = 0, frequency = 0;
    if (std::scanf("%d %d %d", &mode, &device, &frequency) != 3 || mode < 1 || mode > 4)
        return 21;
    music_set_levels();
    md_mode = kMusicModes[mode - 1];
    music_register_loaders();
    MikMod_RegisterAllDrivers();
    MikMod_RegisterDriver(&drv_wav);
    MikMod_RegisterDriver(&drv_raw);
    MikMod_RegisterDriver(&drv_nos);
    md_device = (UWORD)device;
    md_mixfreq = (UWORD)frequency;
    if (MikMod_Init("") != 0)
        return 22;
    MODULE* m = Player_Load(tune, 64, 0);
    if (m == nullptr)
        return 20;
    m->extspd = 1;
    m->panflag = 1;
    m->wrap = 0;
    Player_Start(m);
    struct stat st {};
    while (Player_Active() && (stat(file, &st) != 0 || (int64_t)st.st_size < byte_limit))
        MikMod_Update();
    Player_Stop();
    Player_Free(m);
    MikMod_Exit();
    return 0;
}

struct Wav {
    std::string problem; // empty when the header matches the file
    int channels = 0, bits = 0;
    uint32_t rate = 0;
    std::string data;
};

uint32_t get32(const std::string& s, size_t at)
{
    return (uint32_t)(uint8_t)s[at] | (uint32_t)(uint8_t)s[at + 1] << 8 | (uint32_t)(uint8_t)s[at + 2] << 16 |
           (uint32_t)(uint8_t)s[at + 3] << 24;
}

// Reads a RIFF WAVE file: its sizes must match the file exactly.
Wav read_wav(const std::string& bytes)
{
    Wav w;
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0)
        w.problem = "no RIFF WAVE header";
    else if (get32(bytes, 4) != bytes.size() - 8)
        w.problem = "RIFF size " + std::to_string(get32(bytes, 4)) + ", file " + std::to_string(bytes.size());
    size_t at = 12;
    while (w.problem.empty() && at + 8 <= bytes.size()) {
        const std::string id = bytes.substr(at, 4);
        const uint32_t size = get32(bytes, at + 4);
        if (id == "fmt " && size >= 16 && at + 24 <= bytes.size()) {
            w.channels = (uint8_t)bytes[at + 10];
            w.rate = get32(bytes, at + 12);
            w.bits = (uint8_t)bytes[at + 22];
        } else if (id == "data") {
            if (at + 8 + size != bytes.size())
                w.problem = "data size " + std::to_string(size) + " does not reach the end of the file";
            w.data = bytes.substr(at + 8);
            return w;
        }
        at += 8 + size;
    }
    if (w.problem.empty())
        w.problem = "no data chunk";
    return w;
}

// The WAV file at path, which must be whole and consistent.
Wav expect_valid_wav(const std::string& path)
{
    Wav wav = read_wav(read_file(path));
    EXPECT_EQ(wav.problem, "") << path;
    return wav;
}

// A child that ended by itself, in time, with nothing of it left running.
void expect_clean_end(const Outcome& o)
{
    EXPECT_FALSE(o.timed_out);
    EXPECT_EQ(o.status, 0) << o.out;
    EXPECT_FALSE(o.left_behind);
}

// What sox makes of the file: its sample count per channel, or -1.
long sox_samples(const std::string& folder, const std::string& file)
{
    RunResult r = run_program({"/usr/bin/sox", "--i", "-s", file}, "", folder, 20);
    if (r.status != 0 || r.out.empty())
        return -1;
    return std::stol(r.out);
}

bool starts_with(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Any child of this process, found through /proc; 0 when there is none.
pid_t some_child()
{
    DIR* proc = opendir("/proc");
    pid_t found = 0;
    while (dirent* entry = proc != nullptr ? readdir(proc) : nullptr) {
        const std::string stat_text = read_file(std::string("/proc/") + entry->d_name + "/stat");
        const size_t close = stat_text.rfind(')');
        int ppid = 0;
        if (close != std::string::npos && std::sscanf(stat_text.c_str() + close + 2, "%*c %d", &ppid) == 1 &&
            ppid == getpid())
            found = (pid_t)std::atoi(entry->d_name);
    }
    if (proc != nullptr)
        closedir(proc);
    return found;
}

// ---- The tests ----

TEST(Music, MenusRefuseAndReport)
{
    const std::string& menu = device_menu();
    // Registration order: the library's own drivers, then the WAV, raw and no-sound
    // writers, each listed once; the list is numbered from 1 and every line is "n. text".
    ASSERT_TRUE(starts_with(menu, "Choose sound device :\n1. ")) << menu;
    int lines = 0;
    size_t at = menu.find('\n') + 1;
    while (at < menu.size()) {
        ++lines;
        EXPECT_TRUE(starts_with(menu.substr(at), std::to_string(lines) + ". ")) << menu;
        at = menu.find('\n', at) + 1;
    }
    EXPECT_EQ(lines, 11) << menu;
    EXPECT_NE(menu.find("Nosound Driver"), std::string::npos);
    EXPECT_LT(std::stoi(driver("Nosound")), std::stoi(driver("Wav disk writer")));

    // Refused: mode 9, devices 0 and 12, frequencies 7999 and 44101; each asked again.
    const std::string folder = fresh_folder("menus");
    Outcome o = isolated(folder, "9\n3\n0\n12\n" + driver("Nosound") + "\n7999\n44101\n22050\n", [] {
        music_setup();
        return 0;
    });
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, kModeMenu + kModeMenu + menu + kDevicePrompt + kDevicePrompt + kDevicePrompt + kFrequencyPrompt +
                         kFrequencyPrompt + kFrequencyPrompt +
                         "Using No Sound for 16 bit normal mono sound at 22050 Hz\n\n");

    // The ends of the ranges are accepted, and the report follows the chosen mode.
    o = isolated(folder, "2\n" + driver("Nosound") + "\n8000\n", [] { return play_through("music/short.xm"); });
    EXPECT_TRUE(o.out.ends_with(kFrequencyPrompt + "Using No Sound for 8 bit normal stereo sound at 8000 Hz\n\n"))
        << o.out;
    o = isolated(folder, "4\n" + driver("Nosound") + "\n44100\n", [] { return play_through("music/short.xm"); });
    EXPECT_TRUE(o.out.ends_with(kFrequencyPrompt + "Using No Sound for 16 bit normal stereo sound at 44100 Hz\n\n"))
        << o.out;
    EXPECT_FALSE(o.left_behind);
}

TEST(Music, NoMusicAsksNothingMoreAndDoesNothing)
{
    const std::string folder = fresh_folder("off");
    Outcome o = isolated(folder, "0\n", [] {
        music_setup();
        music_load("music/short.xm");
        music_start();
        music_stop();
        music_shutdown();
        siginfo_t info{};
        // No player was made: there is no child at all.
        return waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == -1 && errno == ECHILD ? 0 : 3;
    });
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, kModeMenu);

    // Before any set-up every call is harmless too (a fatal exit can come that early).
    o = isolated(folder, "", [] {
        music_stop();
        music_shutdown();
        music_load("music/short.xm");
        music_start();
        return 0;
    });
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, "");
}

TEST(Music, ChosenAnswersAskNothing)
{
    const std::string folder = fresh_folder("chosen");
    const int wav = std::stoi(driver("Wav disk writer"));
    Outcome o = isolated(folder, "", [wav] {
        music_choose({4, wav, 44100, 0, false});
        music_setup();
        music_load("music/short.xm");
        music_start();
        usleep(300000);
        music_stop();
        music_shutdown();
        return 0;
    });
    expect_clean_end(o);
    EXPECT_EQ(o.out, "Using Disk writer (wav) for 16 bit normal stereo sound at 44100 Hz\n\n");

    EXPECT_GT(read_wav(read_file(folder + "/music.wav")).data.size(), 0u);

    // The player and its output exist from the set-up on, before the display opens (and
    // starts threads): music_start only releases it.
    o = isolated(fresh_folder("ready"), "", [wav] {
        music_choose({4, wav, 44100, 0, false});
        music_setup();
        const bool ready = some_child() != 0 && access("music.wav", F_OK) == 0;
        music_shutdown();
        return ready ? 0 : 7;
    });
    expect_clean_end(o);

    o = isolated(fresh_folder("chosen-off"), "", [] {
        music_choose({0, 0, 0, 0, false});
        music_setup();
        return 0;
    });
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, "");
}

// A file writer's output, made by the player, against a single-process render.
struct Writer {
    const char* name; // menu description
    const char* file;
    bool wav;
};
const Writer kWriters[] = {{"Wav disk writer", "music.wav", true}, {"Raw disk writer", "music.raw", false}};

std::string mixed_data(const Writer& w, const std::string& bytes, std::string& problem)
{
    if (!w.wav)
        return bytes;
    Wav wav = read_wav(bytes);
    problem = wav.problem;
    return wav.data;
}

TEST(Music, PlayerWritesWholeTuneThatEndsByItself)
{
    for (const Writer& w : kWriters) {
        SCOPED_TRACE(w.name);
        const std::string answers = "4\n" + driver(w.name) + "\n44100\n";
        const std::string alone = fresh_folder(std::string("alone-") + w.file);
        const int64_t no_limit = (int64_t)1 << 40;
        ASSERT_EQ(isolated(alone, answers, [&] { return render_alone("music/short.xm", w.file, no_limit); }).status, 0);
        std::string problem;
        const std::string reference = mixed_data(w, read_file(alone + "/" + w.file), problem);
        ASSERT_EQ(problem, "");
        // 16 rows at 6 ticks of 2.5/125 s: 1.92 s of 16-bit stereo at 44100 Hz, mixed in
        // whole buffers of 32768 bytes, and not silent.
        EXPECT_GE(reference.size(), 338688u);
        EXPECT_LE(reference.size(), 338688u + 32768u);
        int16_t peak = 0;
        for (size_t i = 0; i + 1 < reference.size(); i += 2)
            peak = std::max(peak, (int16_t)std::abs((int16_t)((uint8_t)reference[i] | (uint8_t)reference[i + 1] << 8)));
        EXPECT_GT(peak, 1000);

        const std::string folder = fresh_folder(std::string("whole-") + w.file);
        Outcome o = isolated(folder, answers, [] {
            music_setup();
            music_load("music/short.xm");
            music_start();
            // The tune ends by itself; the SIGCHLD handler reaps the player.
            siginfo_t info{};
            for (int waited = 0; waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0; ++waited) {
                if (waited > 10000)
                    return 4;
                usleep(1000);
            }
            music_stop();
            music_shutdown();
            return 0;
        });
        expect_clean_end(o);
        const std::string written = mixed_data(w, read_file(folder + "/" + w.file), problem);
        EXPECT_EQ(problem, "");
        EXPECT_TRUE(written == reference) << written.size() << " bytes, alone " << reference.size();
        if (w.wav) {
            EXPECT_EQ(sox_samples(folder, w.file), (long)written.size() / 4);
        }
    }
}

// Waits until the file at path has not grown for half a second (the writers write far
// faster than the tune plays), at most ten seconds.
void wait_until_written(const char* path)
{
    long last = -1;
    for (int still = 0, waited = 0; still < 25 && waited < 500; ++waited) {
        struct stat st {};
        const long size = stat(path, &st) == 0 ? (long)st.st_size : -1;
        still = size == last ? still + 1 : 0;
        last = size;
        usleep(20000);
    }
}

// A show that goes back: the tune held and played on from a position, then started again
// as a looping show's next round does; each time the very samples a whole run has there.
// A burst of seeks costs one: the player plays on only from the last one's position.
TEST(Music, HeldTunePlaysOnFromAPositionToTheSampleAndStartsAgain)
{
    const std::string raw = driver("Raw disk writer");
    const std::string alone = fresh_folder("seek-alone");
    ASSERT_EQ(isolated(alone, "4\n" + raw + "\n44100\n",
                       [] { return render_alone("music/short.xm", "music.raw", (int64_t)1 << 40); })
                  .status,
              0);
    // The whole tune: 1.92 s of 16-bit stereo at 44100 Hz (then the writer's last buffer).
    const std::string whole = read_file(alone + "/music.raw").substr(0, 338688);
    ASSERT_EQ(whole.size(), 338688u);

    const std::string folder = fresh_folder("seek");
    const int device = std::stoi(raw);
    Outcome o = isolated(folder, "", [device] {
        music_choose({4, device, 44100, 0, true});
        music_setup();
        music_load("music/short.xm");
        music_start();
        music_hold();
        for (int32_t ms = 100; ms <= 1000; ms += 100)
            music_play_from(ms);
        wait_until_written("music.raw");
        music_start();
        wait_until_written("music.raw");
        music_stop();
        music_shutdown();
        return 0;
    });
    expect_clean_end(o);
    const std::string written = read_file(folder + "/music.raw");
    // The second start: the whole tune from its start, last in the file.
    const size_t again = written.rfind(whole.substr(0, 4096));
    ASSERT_NE(again, std::string::npos);
    EXPECT_EQ(written.compare(again, whole.size(), whole), 0);
    // Before it, the tune from 1 s (176400 bytes) on to its end.
    const size_t from = written.rfind(whole.substr(176400, 4096), again);
    ASSERT_NE(from, std::string::npos);
    EXPECT_LE(from + whole.size() - 176400, again);
    EXPECT_EQ(written.compare(from, whole.size() - 176400, whole, 176400), 0);
    // And before that only the tune's start, up to the hold: none of the burst's other goals.
    EXPECT_EQ(written.compare(0, from, whole, 0, from), 0);
}

// The show's requests and the player's answers as they travel: an answer that came too
// late for its request is not taken for the next one's.
TEST(PlayerProtocol, RecordsTravelWholeAndLateAnswersAreDropped)
{
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
    const PlayerRequest sent = {7, kPlayerPlayFrom, true, 123456, -5, "music/tarqle.xm"};
    ASSERT_TRUE(player_request_send(ends[0], sent));
    PlayerRequest got;
    ASSERT_TRUE(player_request_receive(ends[1], &got, 1000, nullptr));
    EXPECT_EQ(got.serial, 7u);
    EXPECT_EQ(got.kind, kPlayerPlayFrom);
    EXPECT_TRUE(got.held);
    EXPECT_EQ(got.position_ms, 123456);
    EXPECT_EQ(got.at, -5);
    EXPECT_EQ(got.path, "music/tarqle.xm");

    ASSERT_TRUE(player_answer_send(ends[1], {1, 11}));
    ASSERT_TRUE(player_answer_send(ends[1], {2, 22}));
    int64_t value = 0;
    EXPECT_TRUE(player_answer_receive(ends[0], 2, &value, 1000));
    EXPECT_EQ(value, 22);
    EXPECT_FALSE(player_answer_receive(ends[0], 3, &value, 50)) << "no answer to request 3";
    close(ends[0]);
    close(ends[1]);
}

TEST(Music, PlayerStoppedEarlyLeavesValidPrefix)
{
    for (const Writer& w : kWriters) {
        SCOPED_TRACE(w.name);
        const std::string answers = "3\n" + driver(w.name) + "\n22050\n";
        const std::string folder = fresh_folder(std::string("early-") + w.file);
        Outcome o = isolated(folder, answers, [] {
            music_setup();
            music_load("music/long.xm");
            music_start();
            usleep(200000);
            music_stop();
            music_shutdown();
            return 0;
        });
        expect_clean_end(o);
        std::string problem;
        const std::string written = mixed_data(w, read_file(folder + "/" + w.file), problem);
        EXPECT_EQ(problem, "");
        EXPECT_GT(written.size(), 0u);

        const std::string alone = fresh_folder(std::string("early-alone-") + w.file);
        const long limit = (long)written.size() + 65536;
        ASSERT_EQ(isolated(alone, answers, [&] { return render_alone("music/long.xm", w.file, limit); }).status, 0);
        const std::string reference = mixed_data(w, read_file(alone + "/" + w.file), problem);
        ASSERT_GT(reference.size(), written.size());
        EXPECT_TRUE(reference.compare(0, written.size(), written) == 0) << "not a prefix of the single-process mix";
        if (w.wav) {
            EXPECT_EQ(sox_samples(folder, w.file), (long)written.size() / 2);
        }
    }
}

TEST(Music, StopSignalRightAfterStartNeverHangsOrSpoilsTheFile)
{
    const std::string folder = fresh_folder("stop-at-once");
    const std::string answers = "1\n" + driver("Wav disk writer") + "\n8000\n";
    std::map<size_t, std::string> seen; // data by size
    const int runs = 200;
    for (int i = 0; i < runs; ++i) {
        // Stops at once and after a few hundred microseconds, into the middle of updates.
        const useconds_t delay = (useconds_t)(i % 5) * 150;
        Outcome o = isolated(
            folder, answers,
            [delay] {
                music_setup();
                music_load("music/long.xm");
                music_start();
                if (delay > 0)
                    usleep(delay);
                music_stop();
                music_shutdown();
                return 0;
            },
            10);
        ASSERT_FALSE(o.timed_out) << "run " << i;
        ASSERT_EQ(o.status, 0) << "run " << i;
        ASSERT_FALSE(o.left_behind) << "run " << i;
        Wav wav = read_wav(read_file(folder + "/music.wav"));
        ASSERT_EQ(wav.problem, "") << "run " << i;
        EXPECT_EQ(wav.channels, 1);
        EXPECT_EQ(wav.bits, 8);
        EXPECT_EQ(wav.rate, 8000u);
        seen.emplace(wav.data.size(), wav.data);
    }
    // Every file holds the beginning of the same mix.
    const std::string alone = fresh_folder("stop-at-once-alone");
    const long limit = (long)seen.rbegin()->first + 65536;
    ASSERT_EQ(isolated(alone, answers, [&] { return render_alone("music/long.xm", "music.wav", limit); }).status, 0);
    const std::string reference = read_wav(read_file(alone + "/music.wav")).data;
    for (const auto& [size, data] : seen)
        EXPECT_TRUE(reference.compare(0, size, data) == 0) << size << " bytes are not a prefix of the mix";
}

TEST(Music, StoppedPlayerCannotHangTheShow)
{
    const std::string folder = fresh_folder("sigstop");
    Outcome o = isolated(folder, "1\n" + driver("Wav disk writer") + "\n8000\n", [] {
        music_setup();
        music_load("music/long.xm");
        music_start();
        const pid_t player = some_child();
        if (player == 0 || kill(player, SIGSTOP) != 0)
            return 5;
        music_stop();
        // Waited for and gone, not left as a stopped process.
        return kill(player, 0) == -1 && errno == ESRCH ? 0 : 6;
    });
    expect_clean_end(o);
}

void mark_demo_handler(int)
{
    const int fd = open("demo-handler-ran", O_CREAT | O_WRONLY, 0644);
    if (fd >= 0)
        close(fd);
}

TEST(Music, DemoHandlersNeverRunInThePlayer)
{
    const std::string folder = fresh_folder("handlers");
    Outcome o = isolated(folder, "1\n" + driver("Wav disk writer") + "\n8000\n", [] {
        // As the console back-end does: a handler of the demo process's own.
        signal(SIGHUP, mark_demo_handler);
        music_setup();
        music_load("music/long.xm");
        music_start();
        const pid_t player = some_child();
        if (player == 0 || kill(player, SIGHUP) != 0)
            return 5;
        usleep(100000);
        music_stop();
        music_shutdown();
        return 0;
    });
    expect_clean_end(o);
    EXPECT_FALSE(fs::exists(folder + "/demo-handler-ran"));
}

TEST(Music, DeviceThatCannotOpenGivesASilentShow)
{
    if (access("/dev/snd", F_OK) == 0)
        GTEST_SKIP() << "this machine has a sound card";
    const std::string folder = fresh_folder("alsa");
    Outcome o = isolated(folder, "3\n" + driver("Advanced Linux Sound Architecture") + "\n22050\n", [] {
        play_through("music/short.xm");
        std::printf("the show goes on\n");
        return 0;
    });
    expect_clean_end(o);
    EXPECT_TRUE(o.out.ends_with(kFrequencyPrompt + "MikMod Driver error!\nthe show goes on\n")) << o.out;
    // The sound libraries' own chatter (ALSA's lines, its assertion) reaches nobody.
    EXPECT_EQ(read_file(folder + "/err.txt"), "");

    // The first sound device that starts, with no sound server either: every device's
    // probe fails, and all the viewer sees is the one line.
    setenv("PULSE_SERVER", "unix:/nonexistent", 1);
    o = isolated(folder, "", [] {
        music_choose({4, 0, 44100, 0, false});
        play_through("music/short.xm");
        return 0;
    });
    unsetenv("PULSE_SERVER");
    expect_clean_end(o);
    EXPECT_EQ(o.out, "MikMod Driver error!\n");
    EXPECT_EQ(read_file(folder + "/err.txt"), "");
}

TEST(Music, TuneThatDoesNotLoadGivesASilentShow)
{
    const std::string folder = fresh_folder("bad-tune");
    std::ofstream(folder + "/music/bad.xm", std::ios::binary) << "Extended Module: nothing more";
    for (const char* tune : {"music/missing.xm", "music/bad.xm"}) {
        SCOPED_TRACE(tune);
        Outcome o = isolated(folder, "3\n" + driver("Wav disk writer") + "\n22050\n", [tune] {
            play_through(tune);
            std::printf("the show goes on\n");
            return 0;
        });
        expect_clean_end(o);
        EXPECT_TRUE(o.out.ends_with("at 22050 Hz\n\nMikMod Error\nthe show goes on\n")) << o.out;
        EXPECT_EQ(expect_valid_wav(folder + "/music.wav").data.size(), 0u);
    }
}

TEST(Music, PlayerEndsWhenTheDemoIsKilled)
{
    const std::string folder = fresh_folder("killed");
    Outcome o = isolated(folder, "1\n" + driver("Wav disk writer") + "\n8000\n", [] {
        // Orphans come to this process, so the player's end can be seen and timed.
        prctl(PR_SET_CHILD_SUBREAPER, 1);
        int started[2];
        if (pipe(started) != 0)
            return 10;
        const pid_t demo = fork();
        if (demo == 0) {
            music_setup();
            music_load("music/long.xm");
            music_start();
            if (write(started[1], "s", 1) != 1)
                _exit(1);
            pause();
            _exit(0);
        }
        char c;
        if (read(started[0], &c, 1) != 1)
            return 11;
        usleep(100000);
        kill(demo, SIGKILL);
        waitpid(demo, nullptr, 0);
        timespec from, to;
        clock_gettime(CLOCK_MONOTONIC, &from);
        for (;;) {
            const pid_t got = waitpid(-1, nullptr, WNOHANG);
            clock_gettime(CLOCK_MONOTONIC, &to);
            const long ms = (to.tv_sec - from.tv_sec) * 1000 + (to.tv_nsec - from.tv_nsec) / 1000000;
            if (got > 0)
                return ms <= 1000 ? 0 : 12; // the orphaned player ended
            if (got < 0)
                return 13; // no player was left to end: nothing was tested
            if (ms > 5000)
                return 14;
            usleep(1000);
        }
    });
    expect_clean_end(o);
    // It stopped as if told to, finishing its file.
    EXPECT_GT(expect_valid_wav(folder + "/music.wav").data.size(), 0u);
}

// ---- The whole program ----

TEST(MusicProgram, EndOfInputEndsTheMenus)
{
    const std::string folder = make_run_folder("music-eof");
    RunResult r = run_program({program_path("tarqle-render")}, "", folder, 60);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.ends_with(kModeMenu + "End of input: no answer given.\n")) << r.out;
}

TEST(MusicProgram, ShowWithWavWriterLeavesValidFileAndSameFrames)
{
    const std::string silent = fresh_folder("program-silent");
    RunResult quiet = run_program({program_path("tarqle-render")}, "0\n", silent, 120);
    ASSERT_EQ(quiet.status, 0);

    const std::string folder = fresh_folder("program-wav");
    fs::copy_file(folder + "/music/short.xm", folder + "/music/tarqle.xm");
    RunResult r =
        run_program({program_path("tarqle-render")}, "4\n" + driver("Wav disk writer") + "\n44100\n", folder, 120);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Using Disk writer (wav) for 16 bit normal stereo sound at 44100 Hz\n\n"), std::string::npos)
        << r.out;
    Wav wav = expect_valid_wav(folder + "/music.wav");
    EXPECT_EQ(wav.channels, 2);
    EXPECT_EQ(wav.bits, 16);
    EXPECT_EQ(wav.rate, 44100u);
    EXPECT_EQ(sox_samples(folder, "music.wav"), (long)wav.data.size() / 4);
    // The player's fork neither repeats nor loses a line of the frame index or the output.
    EXPECT_EQ(read_file(folder + "/frames/index.tsv"), read_file(silent + "/frames/index.tsv"));
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '*'), 6) << r.out;
    EXPECT_TRUE(r.out.ends_with("--- The First Veltrian Linux Demogroup ---\n\n")) << r.out;
}

// A private sound server whose sink plays into a FIFO on the system's clock; the test reads
// what it plays, as a listener would hear it, without being a client of the server.
struct PipeServer {
    std::string folder;
    pid_t pid = -1;
};

bool pipe_server_start(PipeServer* server)
{
    const std::string socket = "module-native-protocol-unix socket=" + server->folder + "/native auth-anonymous=1";
    const std::string sink = "module-pipe-sink sink_name=heard file=" + server->folder +
                             "/heard.fifo format=s16le rate=44100 channels=1 use_system_clock_for_timing=yes";
    server->pid = fork();
    if (server->pid == 0) {
        setenv("HOME", server->folder.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", server->folder.c_str(), 1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execlp("pulseaudio", "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no", "-L",
               socket.c_str(), "-L", sink.c_str(), (char*)nullptr);
        _exit(127);
    }
    for (int waited = 0; waited < 5000; waited += 10) {
        if (fs::exists(server->folder + "/native") && fs::exists(server->folder + "/heard.fifo"))
            return true;
        usleep(10000);
    }
    return false;
}

void pipe_server_stop(PipeServer* server)
{
    if (server->pid > 0) {
        kill(server->pid, SIGTERM);
        waitpid(server->pid, nullptr, 0);
    }
    server->pid = -1;
}

// Reads the server's FIFO until told to stop; the wall-clock time sound last came out.
struct Listener {
    std::string fifo;
    std::atomic<bool> stop{false};
    std::atomic<int64_t> heard_ms{0};
};

void listen(Listener* listener)
{
    while (!listener->stop) {
        const int fd = open(listener->fifo.c_str(), O_RDONLY | O_NONBLOCK);
        if (fd < 0) {
            usleep(5000);
            continue;
        }
        int16_t samples[441];
        for (bool open_end = true; open_end && !listener->stop;) {
            const ssize_t n = read(fd, samples, sizeof samples);
            if (n == 0) {
                open_end = false; // the server went away
            } else if (n < 0) {
                usleep(2000);
            } else if (std::any_of(samples, samples + n / 2, [](int16_t v) { return std::abs(v) > 300; })) {
                listener->heard_ms = monotonic_microseconds() / 1000;
            }
        }
        close(fd);
    }
}

int64_t process_ticks(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string field;
    int64_t ticks = 0;
    for (int i = 1; i <= 15 && stat >> field; ++i)
        if (i >= 14)
            ticks += std::atoll(field.c_str());
    return ticks;
}

// The sound server goes away during the show and comes back: the player waits without
// spinning, and the tune is heard again soon after the server's return.
TEST(OwnOutput, WaitsForAServerThatWentAwayAndPlaysOnWhenItIsBack)
{
    if (std::system("command -v pulseaudio >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no pulseaudio (scripts/setup-deps.sh installs it)";
    const std::string folder = fresh_folder("server-back");
    PipeServer server{folder + "/server"};
    fs::create_directories(server.folder);
    if (!pipe_server_start(&server))
        GTEST_SKIP() << "the PulseAudio server does not start here";
    Listener listener;
    listener.fifo = server.folder + "/heard.fifo";
    std::thread reader(listen, &listener);
    const auto heard_within = [&](int64_t since_ms, int timeout_ms) {
        for (int waited = 0; waited < timeout_ms; waited += 10) {
            if (listener.heard_ms > since_ms)
                return listener.heard_ms - since_ms;
            usleep(10000);
        }
        return (int64_t)-1;
    };

    setenv("PULSE_SERVER", ("unix:" + server.folder + "/native").c_str(), 1);
    const pid_t show = fork();
    if (show == 0) {
        const Outcome o = isolated(folder, "", [] {
            music_choose({4, 0, 44100, 0, false});
            music_setup();
            music_load("music/long.xm");
            music_start();
            sleep(8);
            music_stop();
            music_shutdown();
            return 0;
        });
        _exit(o.status == 0 && !o.timed_out && !o.left_behind ? 0 : 1);
    }
    unsetenv("PULSE_SERVER");
    EXPECT_GE(heard_within(0, 3000), 0) << "the tune was never heard";

    // The player: the show's child, in the show's process group.
    pid_t player = -1;
    for (int tries = 0; tries < 100 && player < 0; ++tries) {
        std::ifstream children("/proc/" + std::to_string(show) + "/task/" + std::to_string(show) + "/children");
        pid_t show_process = -1;
        if (children >> show_process) {
            std::ifstream grandchildren("/proc/" + std::to_string(show_process) + "/task/" +
                                        std::to_string(show_process) + "/children");
            grandchildren >> player;
        }
        if (player < 0)
            usleep(10000);
    }
    ASSERT_GT(player, 0) << "no player process";
    pipe_server_stop(&server);
    const int64_t ticks = process_ticks(player);
    sleep(2);
    const double cpu = (double)(process_ticks(player) - ticks) / (double)sysconf(_SC_CLK_TCK) / 2.0;
    EXPECT_LT(cpu, 0.05) << "the player spins while the server is away";
    ASSERT_TRUE(pipe_server_start(&server));
    const int64_t back_ms = monotonic_microseconds() / 1000;
    const int64_t again = heard_within(back_ms, 3000);
    EXPECT_GE(again, 0) << "the tune was not heard again";
    EXPECT_LT(again, 1000) << "the tune came back late";

    int status = 0;
    waitpid(show, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the show did not end cleanly";
    pipe_server_stop(&server);
    listener.stop = true;
    reader.join();
    EXPECT_NE(read_file(folder + "/err.txt").find("the sound server is back"), std::string::npos);
}

} // namespace
