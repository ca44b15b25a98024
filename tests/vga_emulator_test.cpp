// tarqle-vga on a real console: a Linux guest under software emulation with a
// framebuffer, driven over its serial line, its screen taken through QEMU's QMP socket.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "display/vgalayer/vgalayer.h"
#include "tests/run_program.h"
#include "tests/vga_pattern.h"

namespace fs = std::filesystem;

namespace {

// How a SIGSEGV ends the helper: by its default action, or, in a sanitizer build, by
// the sanitizer's report and exit.
#ifdef __SANITIZE_ADDRESS__
const char* const kCrashStatus = "1";
#else
const char* const kCrashStatus = "139";
#endif

struct Shot {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb; // 3 bytes a pixel, rows from the top
    const uint8_t* at(int x, int y) const
    {
        return rgb.data() + 3 * ((size_t)y * width + x);
    }
};

// What one boot of the guest told us: its "@@" lines, in order, and its screenshots.
struct Boot {
    std::vector<std::string> lines;
    std::map<std::string, Shot> shots;
    bool finished = false; // the guest said "done"
};

double now_seconds()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + t.tv_nsec * 1e-9;
}

Shot read_ppm(const std::string& path)
{
    Shot shot;
    std::string data = read_file(path);
    int maxval = 0, used = 0;
    if (std::sscanf(data.c_str(), "P6 %d %d %d%n", &shot.width, &shot.height, &maxval, &used) != 3 || maxval != 255)
        return Shot{};
    size_t start = (size_t)used + 1;
    size_t size = (size_t)shot.width * shot.height * 3;
    if (data.size() < start + size)
        return Shot{};
    shot.rgb.assign(data.begin() + (long)start, data.begin() + (long)(start + size));
    return shot;
}

// A line-by-line QMP client on a unix socket.
struct Qmp {
    int fd = -1;
    std::string pending;

    bool connect_to(const std::string& path, double deadline)
    {
        while (now_seconds() < deadline) {
            fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_un addr{};
            addr.sun_family = AF_UNIX;
            std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
            if (connect(fd, (sockaddr*)&addr, sizeof addr) == 0)
                return read_reply(deadline, "QMP") && command("{\"execute\":\"qmp_capabilities\"}", deadline);
            close(fd);
            fd = -1;
            usleep(100000);
        }
        return false;
    }
    // Reads until a line holding key arrives; false on error, end or time-out.
    bool read_reply(double deadline, const char* key)
    {
        for (;;) {
            size_t end = pending.find('\n');
            if (end != std::string::npos) {
                std::string line = pending.substr(0, end);
                pending.erase(0, end + 1);
                if (line.find("\"error\"") != std::string::npos)
                    return false;
                if (line.find(key) != std::string::npos)
                    return true;
                continue;
            }
            pollfd p{fd, POLLIN, 0};
            int wait_ms = (int)((deadline - now_seconds()) * 1000);
            if (wait_ms <= 0 || poll(&p, 1, wait_ms) <= 0)
                return false;
            char buf[4096];
            ssize_t n = read(fd, buf, sizeof buf);
            if (n <= 0)
                return false;
            pending.append(buf, (size_t)n);
        }
    }
    bool command(const std::string& json, double deadline)
    {
        std::string line = json + "\n";
        return write(fd, line.data(), line.size()) == (ssize_t)line.size() && read_reply(deadline, "\"return\"");
    }
    ~Qmp()
    {
        if (fd >= 0)
            close(fd);
    }
};

// The PC the guest runs on and the build whose programs it runs.
struct Machine {
    std::string qemu;      // the system emulator
    std::string cpu;       // its -cpu model; empty for its default
    std::string build_dir; // the build the guest's programs come from
    std::string flavour;   // the Debian kernel flavour, as prepare.sh takes it
};

const Machine kPc64 = {"qemu-system-x86_64", "", TARQLE_BUILD_DIR, "amd64"};

// Writes vmlinuz and initrd.gz into dir; empty result when that worked.
std::string prepare_guest(const std::string& dir, const Machine& machine)
{
    std::string command = std::string("bash ") + TARQLE_SOURCE_DIR + "/tests/emulator/prepare.sh " + machine.build_dir +
                          " " + dir + " " + machine.flavour + " 2>" + dir + "/prepare.log";
    return std::system(command.c_str()) == 0 ? "" : "guest preparation failed: " + read_file(dir + "/prepare.log");
}

// The keys that type c on the guest's US keyboard, as QEMU names them, shift first where
// it is needed; empty for a character the test does not type.
std::vector<std::string> keys_for(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
        return {std::string(1, c)};
    if (c >= 'A' && c <= 'Z')
        return {"shift", std::string(1, (char)(c - 'A' + 'a'))};
    static const std::map<char, std::vector<std::string>> others = {
        {' ', {"spc"}},          {'-', {"minus"}},
        {'/', {"slash"}},        {'.', {"dot"}},
        {';', {"semicolon"}},    {'\'', {"apostrophe"}},
        {'\\', {"backslash"}},   {'[', {"bracket_left"}},
        {'>', {"shift", "dot"}}, {'|', {"shift", "backslash"}},
        {'$', {"shift", "4"}},   {'%', {"shift", "5"}},
        {'&', {"shift", "7"}},   {'(', {"shift", "9"}},
        {')', {"shift", "0"}},   {'?', {"shift", "slash"}},
    };
    auto found = others.find(c);
    return found == others.end() ? std::vector<std::string>{} : found->second;
}

// Presses the keys together on the guest's keyboard and lets them go.
bool press_keys(Qmp& qmp, const std::vector<std::string>& keys)
{
    std::string list;
    for (const std::string& k : keys)
        list += (list.empty() ? "" : ",") + ("{\"type\":\"qcode\",\"data\":\"" + k + "\"}");
    bool sent = !keys.empty() &&
                qmp.command("{\"execute\":\"send-key\",\"arguments\":{\"keys\":[" + list + "],\"hold-time\":30}}",
                            now_seconds() + 20);
    // The keys go up after the hold: the next ones come after that.
    usleep(60000);
    return sent;
}

// Answers the guest's "type TEXT" (the text, then Enter) and "press CHORD" (keys joined
// by '-', ctrl-alt-f2 say).
bool type_keys(Qmp& qmp, const std::string& request)
{
    bool ok = true;
    if (request.rfind("type ", 0) == 0) {
        for (char c : request.substr(5))
            ok = press_keys(qmp, keys_for(c)) && ok;
        return press_keys(qmp, {"ret"}) && ok;
    }
    std::vector<std::string> chord;
    std::string rest = request.substr(6);
    for (size_t dash; (dash = rest.find('-')) != std::string::npos; rest.erase(0, dash + 1))
        chord.push_back(rest.substr(0, dash));
    chord.push_back(rest);
    return press_keys(qmp, chord);
}

using ShotCheck = std::function<bool(const std::string& name, const Shot&)>;

// Boots the guest with the extra kernel arguments and serves its screenshot requests
// until it is done, dies or runs out of time. Screens that fail good() are taken again
// for up to 2 s, as framebuffer writes can reach QEMU's screen late.
Boot run_guest(const std::string& name, const Machine& machine, const std::string& append, int timeout_seconds,
               const ShotCheck& good)
{
    Boot boot;
    std::string dir = std::string(TARQLE_BUILD_DIR) + "/emulator/" + name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::string error = prepare_guest(dir, machine);
    EXPECT_EQ(error, "");
    if (!error.empty())
        return boot;
    std::string serial = dir + "/serial";
    mkfifo((serial + ".in").c_str(), 0600);
    mkfifo((serial + ".out").c_str(), 0600);
    // Read-write opens of the pipes never block, whichever side comes first.
    int to_guest = open((serial + ".in").c_str(), O_RDWR | O_CLOEXEC);
    int from_guest = open((serial + ".out").c_str(), O_RDWR | O_CLOEXEC);
    std::string qmp_path = dir + "/qmp";
    std::vector<std::string> args = {
        machine.qemu, "-m",
        "1024",       "-vga",
        "std",        "-display",
        "none",       "-no-reboot",
        "-monitor",   "none",
        "-kernel",    dir + "/vmlinuz",
        "-initrd",    dir + "/initrd.gz",
        "-append",    "console=ttyS0 quiet loglevel=3 panic=-1 " + append,
        "-chardev",   "pipe,id=s0,path=" + serial,
        "-serial",    "chardev:s0",
        "-qmp",       "unix:" + qmp_path + ",server=on,wait=off",
    };
    if (!machine.cpu.empty())
        args.insert(args.end(), {"-cpu", machine.cpu});
    pid_t qemu = fork();
    if (qemu == 0) {
        int log = open((dir + "/qemu.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(log, 1);
        dup2(log, 2);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    double deadline = now_seconds() + timeout_seconds;
    Qmp qmp;
    EXPECT_TRUE(qmp.connect_to(qmp_path, now_seconds() + 30)) << read_file(dir + "/qemu.log");
    std::string pending, console;
    bool running = true;
    while (running && !boot.finished && now_seconds() < deadline) {
        pollfd p{from_guest, POLLIN, 0};
        if (poll(&p, 1, 200) > 0) {
            char buf[4096];
            ssize_t n = read(from_guest, buf, sizeof buf);
            if (n > 0)
                pending.append(buf, (size_t)n);
        }
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            console += line + "\n";
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            size_t at = line.find("@@ ");
            if (at == std::string::npos)
                continue;
            line = line.substr(at + 3);
            boot.lines.push_back(line);
            if (line == "done")
                boot.finished = true;
            if (line.rfind("shot ", 0) == 0) {
                std::string shot_name = line.substr(5);
                std::string file = dir + "/" + shot_name + ".ppm";
                double until = now_seconds() + 2;
                Shot shot;
                do {
                    if (qmp.command("{\"execute\":\"screendump\",\"arguments\":{\"filename\":\"" + file + "\"}}",
                                    now_seconds() + 20))
                        shot = read_ppm(file);
                    if (good(shot_name, shot))
                        break;
                    usleep(200000);
                } while (now_seconds() < until);
                boot.shots[shot_name] = shot;
                EXPECT_EQ(write(to_guest, "\n", 1), 1);
            }
            if (line.rfind("type ", 0) == 0 || line.rfind("press ", 0) == 0) {
                EXPECT_TRUE(type_keys(qmp, line)) << line;
                EXPECT_EQ(write(to_guest, "\n", 1), 1);
            }
        }
        running = waitpid(qemu, nullptr, WNOHANG) == 0;
    }
    if (running) {
        kill(qemu, SIGKILL);
        waitpid(qemu, nullptr, 0);
    }
    close(to_guest);
    close(from_guest);
    std::FILE* log = std::fopen((dir + "/console.log").c_str(), "w");
    if (log != nullptr) {
        std::fputs(console.c_str(), log);
        std::fclose(log);
    }
    EXPECT_TRUE(boot.finished) << "the guest did not finish within " << timeout_seconds << " s; serial log in " << dir
                               << "/console.log";
    return boot;
}

// The value of the first "@@ KEY ..." line, without the key; "(none)" if missing.
std::string value(const Boot& boot, const std::string& key)
{
    for (const std::string& line : boot.lines)
        if (line.rfind(key + " ", 0) == 0)
            return line.substr(key.size() + 1);
    return "(none)";
}

// The program's output lines reported as "out NAME text".
std::vector<std::string> output(const Boot& boot, const std::string& name)
{
    std::vector<std::string> out;
    for (const std::string& line : boot.lines)
        if (line.rfind("out " + name + " ", 0) == 0)
            out.push_back(line.substr(name.size() + 5));
    return out;
}

bool has_line(const std::vector<std::string>& lines, const std::string& text)
{
    for (const std::string& line : lines)
        if (line.find(text) != std::string::npos)
            return true;
    return false;
}

struct Area {
    int scale, x, y, width, height; // the picture's place on screen, in screen pixels
};

// Screen pixels that differ from the test picture shown at area (black around it),
// its colour 1 showing as recolour when that is given.
long pattern_mismatches(const Shot& shot, const Area& a, int mode_width, int mode_height,
                        const uint8_t* recolour = nullptr)
{
    if (shot.width == 0)
        return -1;
    long bad = 0;
    for (int y = 0; y < shot.height; ++y)
        for (int x = 0; x < shot.width; ++x) {
            bool inside = x >= a.x && x < a.x + a.width && y >= a.y && y < a.y + a.height;
            int index = inside ? pattern_index((x - a.x) / a.scale, (y - a.y) / a.scale, mode_width, mode_height) : 0;
            const uint8_t* want = index == 1 && recolour != nullptr ? recolour : kPatternRgb + 3 * index;
            const uint8_t* got = shot.at(x, y);
            bad += got[0] != want[0] || got[1] != want[1] || got[2] != want[2];
        }
    return bad;
}

// Lit pixels inside and outside the area.
void count_lit(const Shot& shot, const Area& a, long* inside, long* outside)
{
    *inside = *outside = 0;
    for (int y = 0; y < shot.height; ++y)
        for (int x = 0; x < shot.width; ++x) {
            const uint8_t* p = shot.at(x, y);
            if (p[0] | p[1] | p[2])
                ++*(x >= a.x && x < a.x + a.width && y >= a.y && y < a.y + a.height ? inside : outside);
        }
}

// Whether a row holds a bar of text in reverse video: 200 pixels or more of one colour,
// not black (the line that the command typed on the other terminal prints).
bool has_bar(const Shot& shot)
{
    for (int y = 0; y < shot.height; ++y)
        for (int x = 0, run = 0; x < shot.width; ++x) {
            const uint8_t* p = shot.at(x, y);
            run = (p[0] | p[1] | p[2]) && x > 0 && std::equal(p, p + 3, shot.at(x - 1, y)) ? run + 1 : 0;
            if (run >= 200)
                return true;
        }
    return false;
}

bool qemu_available(const Machine& machine)
{
    return std::system((machine.qemu + " --version >/dev/null 2>&1").c_str()) == 0;
}

// Why the guest cannot be booted here (no emulator, no kernel fetched); empty when it can.
std::string guest_missing(const Machine& machine)
{
    if (!qemu_available(machine))
        return machine.qemu + " cannot run here; the console test needs it";
    const char* guests = std::getenv("TARQLE_GUEST_DIR");
    const std::string boot =
        (guests != nullptr ? std::string(guests) : std::string(TARQLE_SOURCE_DIR) + "/build-guest") + "/" +
        machine.flavour + "/kernel/boot";
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(boot, error))
        if (entry.path().filename().string().starts_with("vmlinuz-"))
            return "";
    return "no guest kernel for " + machine.flavour + " in " + boot + " (scripts/setup-guest.sh fetches it)";
}

struct ModeCase {
    int mode;
    int width, height;
    Area area;
};

constexpr const char* kKmsLine = "KMS on /dev/dri/card0";
constexpr const char* kFramebufferLine = "framebuffer /dev/fb0";

// One boot: the test picture in each mode of patterns, the ways out of a graphics mode
// (the signals that end a process among them), the refusals without a virtual console, a
// whole show in the menu entry show_menu through KMS, typed into a shell on the console,
// with a terminal switch away and back, a stop and fg, keys typed and its end while
// switched away, the programs of runs (tarqle.runs), and the fatal exit with no
// pictures. With fallback, all but the show run without the DRM device, on the
// framebuffer device. Returns what the guest told.
Boot check_console(const std::string& name, const Machine& machine, const std::string& kernel_args,
                   const std::string& fb, const std::vector<ModeCase>& patterns, int show_menu, const ModeCase& show,
                   int menu_entries, bool fallback, const std::string& runs = "")
{
    const std::string layer_device = fallback ? kFramebufferLine : kKmsLine;
    std::string pattern_list;
    for (const ModeCase& c : patterns)
        pattern_list += (pattern_list.empty() ? "" : ",") + std::to_string(c.mode);
    std::string show_name = "show-" + std::to_string(show_menu);
    auto area_of = [&](const std::string& shot_name) -> const ModeCase* {
        for (const ModeCase& c : patterns)
            if (shot_name == "pattern-" + std::to_string(c.mode) || shot_name == "recoloured-" + std::to_string(c.mode))
                return &c;
        return shot_name.rfind(show_name + "-", 0) == 0 ? &show : nullptr;
    };
    ShotCheck good = [&](const std::string& shot_name, const Shot& shot) {
        if (shot_name.starts_with("other-") || shot_name.starts_with("ended-away-"))
            return has_bar(shot);
        const ModeCase* c = area_of(shot_name);
        if (c == nullptr)
            return shot.width > 0;
        if (c == &show) {
            long inside, outside;
            count_lit(shot, show.area, &inside, &outside);
            return inside > 0;
        }
        const uint8_t* recolour = shot_name.rfind("recoloured-", 0) == 0 ? kPatternRecolourRgb : nullptr;
        return pattern_mismatches(shot, c->area, c->width, c->height, recolour) == 0;
    };
    // Screenshots 21, 76 and 99 s after the program starts: with up to 10 s of menus and
    // loading these fall in the intro, the mosaic and the rippling scroll, parts that fill
    // the screen on every frame. At 21 s the terminal is first switched away and back.
    Boot boot = run_guest(name, machine,
                          kernel_args + " tarqle.patterns=" + pattern_list +
                              " tarqle.shows=" + std::to_string(show_menu) + " tarqle.shots=21,76,99 tarqle.switch=21" +
                              (fallback ? " tarqle.fallback=1" : "") + (runs.empty() ? "" : " tarqle.runs=" + runs),
                          600, good);
    EXPECT_EQ(value(boot, "fb"), fb);
    EXPECT_EQ(value(boot, "kdmode start"), "text");
    EXPECT_EQ(value(boot, "drm"), "card0 ") << "the guest's display driver offers KMS";

    for (const ModeCase& c : patterns) {
        std::string p = "pattern-" + std::to_string(c.mode);
        EXPECT_EQ(value(boot, "kdmode " + p + "-shown"), "graphics") << p;
        EXPECT_EQ(value(boot, "device " + p), layer_device) << p;
        EXPECT_EQ(pattern_mismatches(boot.shots[p], c.area, c.width, c.height), 0) << p;
        EXPECT_EQ(pattern_mismatches(boot.shots["recoloured-" + std::to_string(c.mode)], c.area, c.width, c.height,
                                     kPatternRecolourRgb),
                  0)
            << p << ": a palette change shows at once";
        EXPECT_EQ(value(boot, "status " + p), "143") << p << ": SIGTERM takes its course";
        EXPECT_EQ(value(boot, "kdmode " + p + "-after"), "text") << p;
        long lit_in, lit_out;
        count_lit(boot.shots["text-after-" + p], c.area, &lit_in, &lit_out);
        EXPECT_LT(lit_in, c.area.width * c.area.height / 10) << p << ": the picture is gone from the console";
        std::vector<std::string> speed = output(boot, "speed-" + std::to_string(c.mode));
        EXPECT_EQ(speed.size(), 1u);
        if (!speed.empty())
            std::printf("[%s] the layer alone: %s\n", name.c_str(), speed[0].c_str());
    }
    // Each takes its course with the console back first; SIGPIPE is ignored.
    for (const auto& [sig, number] : {std::pair{"PIPE", SIGTERM},
                                      {"XCPU", SIGXCPU},
                                      {"XFSZ", SIGXFSZ},
                                      {"ALRM", SIGALRM},
                                      {"USR1", SIGUSR1},
                                      {"SYS", SIGSYS},
                                      {"TRAP", SIGTRAP},
                                      {"40", 40}}) {
        EXPECT_EQ(value(boot, std::string("status signal-") + sig), std::to_string(128 + number)) << sig;
        EXPECT_EQ(value(boot, std::string("kdmode signal-") + sig + "-after"), "text") << sig;
    }
    EXPECT_TRUE(has_line(boot.lines, "alive signal-PIPE")) << "SIGPIPE ends the program";
    EXPECT_EQ(value(boot, "status crash"), kCrashStatus) << "SIGSEGV takes its course";
    EXPECT_EQ(value(boot, "kdmode crash-after"), "text");
    EXPECT_EQ(output(boot, "fork"), std::vector<std::string>{"after-child graphics"})
        << "a child leaving through exit() must not give the console back";
    EXPECT_EQ(value(boot, "kdmode fork-after"), "text") << "an exit without closing gives the console back";

    for (const std::string how : {"refused-none", "refused-pty"}) {
        const std::vector<std::string> said = output(boot, how);
        EXPECT_EQ(value(boot, "status " + how), "255") << how;
        EXPECT_TRUE(has_line(said, "tarqle-vga: run it from a text console")) << how;
        EXPECT_FALSE(has_line(said, "tarqle-vga: KMS")) << how << ": refused before a device is opened";
    }
    EXPECT_TRUE(has_line(output(boot, "refused-pty"), "not a virtual console but a pseudo-terminal"));
    EXPECT_EQ(value(boot, "kdmode refused-after"), "text");
    EXPECT_EQ(value(boot, "master refused-after"), "free");

    std::vector<std::string> out = output(boot, show_name);
    EXPECT_EQ(value(boot, "status " + show_name), "0");
    EXPECT_TRUE(has_line(out, "Width: " + std::to_string(show.width) + "  Height: " + std::to_string(show.height) +
                                  "  Colors: 256"));
    EXPECT_TRUE(has_line(out, " " + std::to_string(menu_entries) + ". ")) << "menu entries";
    EXPECT_FALSE(has_line(out, " " + std::to_string(menu_entries + 1) + ". ")) << "menu entries";
    EXPECT_EQ(value(boot, "kdmode " + show_name + "-after"), "text");
    EXPECT_TRUE(has_line(out, std::string("tarqle-vga: ") + kKmsLine)) << "the show runs through KMS";
    // The presents screen reports its frames; with it the show runs long enough for the
    // screenshots, and each of them must show a picture in its place and black around it.
    bool show_ran = has_line(out, "screens:");
    int shots_taken = 0;
    for (const auto& [shot_name, shot] : boot.shots) {
        if (shot_name.rfind(show_name + "-", 0) != 0)
            continue;
        ++shots_taken;
        long inside, outside;
        count_lit(shot, show.area, &inside, &outside);
        EXPECT_EQ(outside, 0) << shot_name << ": the margins stay black";
        if (show_ran) {
            EXPECT_GT(inside, 0) << shot_name << ": the picture is not black";
        }
    }
    for (const std::string& line : out)
        if (line.find("screens:") != std::string::npos)
            std::printf("[%s] %s in %s\n", name.c_str(), line.c_str(), show_name.c_str());
    std::printf("[%s] %s lasted %s s, %d screenshots during it%s\n", name.c_str(), show_name.c_str(),
                value(boot, "seconds " + show_name).c_str(), shots_taken,
                show_ran ? "" : " (no presents screen yet: the parts are still empty)");
    // A screenshot is taken at each of those times that the show outlasts (all three once
    // every part runs; fewer while later parts are still empty).
    if (show_ran) {
        const int seconds = std::stoi(value(boot, "seconds " + show_name));
        int due = 0;
        for (int t : {21, 76, 99})
            due += seconds > t;
        EXPECT_EQ(shots_taken, due);
    }

    // Switched away during the show, the screen is the other terminal's text; switched
    // back, the show again (the screenshot at 21 s, checked with the others above).
    if (show_ran) {
        EXPECT_FALSE(has_line(boot.lines, "error chvt")) << "the switch completes: the show let the screen go";
        EXPECT_EQ(value(boot, "kdmode away-" + std::to_string(show_menu)), "text");
        long lit_in, lit_out;
        count_lit(boot.shots["away-" + std::to_string(show_menu)], show.area, &lit_in, &lit_out);
        EXPECT_LT(lit_in, show.area.width * show.area.height / 10) << "the show does not draw while away";
        EXPECT_GT(lit_in + lit_out, 0) << "the other terminal's text shows while away";

        // Stopped, the console is the user's: text, automatic switching, no DRM master.
        const std::string m = std::to_string(show_menu);
        EXPECT_EQ(value(boot, "kdmode stopped-" + m), "text");
        EXPECT_EQ(value(boot, "master stopped-" + m), "free");
        count_lit(boot.shots["stopped-" + m], show.area, &lit_in, &lit_out);
        EXPECT_LT(lit_in, show.area.width * show.area.height / 10) << "the show does not draw while stopped";
        EXPECT_TRUE(has_line(boot.lines, "ran other-" + m)) << "a command typed on tty2 while stopped";
        EXPECT_TRUE(has_bar(boot.shots["other-" + m])) << "its output shows";
        EXPECT_EQ(value(boot, "kdmode went-on-" + m), "graphics") << "fg takes the console again";
        EXPECT_EQ(value(boot, "typed-" + m), "discarded") << "keys typed during the show ran in the shell";
        // Ended while the user was on tty2: tty2 as they left it, tty1 in text.
        EXPECT_EQ(value(boot, "kdmode ended-away-" + m), "text");
        EXPECT_TRUE(has_bar(boot.shots["ended-away-" + m])) << "tty2's screen as the user left it";
    }

    std::vector<std::string> fatal = output(boot, "fatal");
    EXPECT_TRUE(has_line(fatal, "tarqle-vga: " + layer_device));
    EXPECT_EQ(value(boot, "status fatal"), "1") << "a missing picture is a failure";
    if (show_ran) {
        EXPECT_TRUE(has_line(fatal, "Cann't load image grafika/prese/presents.pcx !"))
            << "the first picture is missing";
    }
    EXPECT_EQ(value(boot, "kdmode fatal-after"), "text");
    std::printf("[%s] run without pictures ended with: %s\n", name.c_str(),
                fatal.empty() ? "(nothing)" : fatal.back().c_str());
    return boot;
}

TEST(VgaEmulator, ConsoleOf1280x800)
{
    if (const std::string missing = guest_missing(kPc64); !missing.empty())
        GTEST_SKIP() << missing;
    check_console("fb1280x800", kPc64, "", "1280,800 32",
                  {{G320x240x256, 320, 240, {3, 160, 40, 960, 720}}, {G640x480x256, 640, 480, {1, 320, 160, 640, 480}}},
                  2, {G320x240x256, 320, 240, {3, 160, 40, 960, 720}}, 6, false);
}

TEST(VgaEmulator, ConsoleOf640x480)
{
    if (const std::string missing = guest_missing(kPc64); !missing.empty())
        GTEST_SKIP() << missing;
    check_console("fb640x480", kPc64, "video=Virtual-1:640x480M@60", "640,480 32",
                  {{G640x480x256, 640, 480, {1, 0, 0, 640, 480}}, {G320x200x256, 320, 200, {2, 0, 40, 640, 400}}}, 5,
                  {G640x480x256, 640, 480, {1, 0, 0, 640, 480}}, 5, true);
}

#ifdef TARQLE_I386_BUILD_DIR
// The machine the show was made for: a Pentium II-class PC (x87 maths and MMX, no SSE)
// with Debian's 32-bit kernel, running the i686 build at 640 x 480. Besides the console
// checks, the headless program's whole show there, for its CPU time.
TEST(VgaEmulator, PentiumClassPcAt640x480)
{
    const Machine pentium = {"qemu-system-i386", "pentium2", std::string(TARQLE_I386_BUILD_DIR) + "/i686", "686"};
    if (const std::string missing = guest_missing(pentium); !missing.empty())
        GTEST_SKIP() << missing;
    Boot boot = check_console("pentium2-fb640x480", pentium, "video=Virtual-1:640x480M@60", "640,480 32",
                              {{G640x480x256, 640, 480, {1, 0, 0, 640, 480}}}, 5,
                              {G640x480x256, 640, 480, {1, 0, 0, 640, 480}}, 5, false, "tarqle-render");
    std::vector<std::string> show = output(boot, "show-5");
    int frames = -1;
    for (const std::string& line : show)
        if (std::sscanf(line.c_str(), "screens: %d:", &frames) == 1)
            break;
    EXPECT_GT(frames, 0) << "the presents screen's frame count";
    std::printf("[pentium2] presents screen: %d frames (184 where it keeps its full rate)\n", frames);

    EXPECT_EQ(value(boot, "status run-tarqle-render"), "0");
    double user = -1, sys = -1;
    for (const std::string& line : output(boot, "run-tarqle-render")) {
        std::sscanf(line.c_str(), "user %lf", &user);
        std::sscanf(line.c_str(), "sys %lf", &sys);
    }
    EXPECT_GT(user, 0) << "the headless show's CPU time in the guest";
    std::printf("[pentium2] headless whole show (2305 frames): %.2f s user, %.2f s system\n", user, sys);
}
#endif

} // namespace
