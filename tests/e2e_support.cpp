// Whole programs run as a user runs them, watched for what they leave behind.
#include "tests/e2e_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "tests/run_program.h"

namespace {

long now_ms()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000L + t.tv_nsec / 1000000L;
}

uint32_t le32(const std::string& s, size_t at)
{
    return (uint32_t)(uint8_t)s[at] | (uint32_t)(uint8_t)s[at + 1] << 8 | (uint32_t)(uint8_t)s[at + 2] << 16 |
           (uint32_t)(uint8_t)s[at + 3] << 24;
}

// Reaps every ended member of the group; true while any member still exists.
bool group_alive(pid_t group)
{
    while (waitpid(-group, nullptr, WNOHANG) > 0) {
    }
    return kill(-group, 0) == 0;
}

} // namespace

Show show_start(const std::vector<std::string>& argv, const std::string& input, const std::string& folder,
                const std::vector<std::string>& env)
{
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    std::ofstream(folder + "/input.txt", std::ios::binary) << input;
    Show show;
    show.folder = folder;
    show.pid = fork();
    if (show.pid == 0) {
        setpgid(0, 0);
        const int in = open((folder + "/input.txt").c_str(), O_RDONLY);
        const int out = open((folder + "/out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open((folder + "/err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || chdir(folder.c_str()) != 0)
            _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        exec_program(argv, env);
    }
    setpgid(show.pid, show.pid);
    return show;
}

ShowEnd show_finish(const Show& show, int timeout_seconds)
{
    ShowEnd end;
    int status = 0;
    const long start = now_ms();
    while (waitpid(show.pid, &status, WNOHANG) != show.pid) {
        if (now_ms() - start > timeout_seconds * 1000L) {
            end.timed_out = true;
            kill(-show.pid, SIGKILL);
            waitpid(show.pid, &status, 0);
            break;
        }
        usleep(2000);
    }
    end.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    const long ended = now_ms();
    while (group_alive(show.pid) && now_ms() - ended < 3000)
        usleep(1000);
    if (group_alive(show.pid)) {
        end.left_behind = true;
        kill(-show.pid, SIGKILL);
        while (waitpid(-show.pid, nullptr, 0) > 0) {
        }
    } else {
        end.group_ended_ms = now_ms() - ended;
    }
    end.out = read_file(show.folder + "/out.txt");
    end.err = read_file(show.folder + "/err.txt");
    return end;
}

void show_signal(const Show& show, int signal_number, bool whole_group)
{
    kill(whole_group ? -show.pid : show.pid, signal_number);
}

int group_members(const Show& show)
{
    DIR* proc = opendir("/proc");
    int count = 0;
    while (dirent* entry = proc != nullptr ? readdir(proc) : nullptr) {
        const std::string stat_text = read_file(std::string("/proc/") + entry->d_name + "/stat");
        const size_t name_end = stat_text.rfind(')');
        int group = 0;
        // After the name: state, parent, process group.
        if (name_end != std::string::npos && std::sscanf(stat_text.c_str() + name_end + 2, "%*c %*d %d", &group) == 1 &&
            group == show.pid)
            ++count;
    }
    if (proc != nullptr)
        closedir(proc);
    return count;
}

bool wait_for_size(const std::string& path, long min_bytes, int timeout_seconds)
{
    const long start = now_ms();
    struct stat st {};
    while (stat(path.c_str(), &st) != 0 || st.st_size <= min_bytes) {
        if (now_ms() - start > timeout_seconds * 1000L)
            return false;
        usleep(5000);
    }
    return true;
}

std::string wav_problem(const std::string& bytes, long* data_bytes, int* channels, int* bits, long* rate)
{
    *data_bytes = -1;
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0)
        return "not a RIFF WAVE file (" + std::to_string(bytes.size()) + " bytes)";
    if (le32(bytes, 4) != bytes.size() - 8)
        return "RIFF size " + std::to_string(le32(bytes, 4)) + " for a file of " + std::to_string(bytes.size());
    for (size_t at = 12; at + 8 <= bytes.size(); at += 8 + (size_t)le32(bytes, at + 4)) {
        const uint32_t size = le32(bytes, at + 4);
        if (bytes.compare(at, 4, "fmt ") == 0 && size >= 16 && at + 24 <= bytes.size()) {
            if (channels != nullptr)
                *channels = (uint8_t)bytes[at + 10];
            if (rate != nullptr)
                *rate = (long)le32(bytes, at + 12);
            if (bits != nullptr)
                *bits = (uint8_t)bytes[at + 22];
        } else if (bytes.compare(at, 4, "data") == 0) {
            *data_bytes = size;
            return at + 8 + size == bytes.size() ? "" : "data chunk does not end with the file";
        }
    }
    return "no data chunk";
}

std::string wav_writer_answers()
{
    static std::string answers;
    if (answers.empty()) {
        // Ends at the device question, having printed the driver list.
        const std::string folder = make_run_folder("e2e-device-list");
        RunResult r = run_program({program_path("tarqle-render")}, "4\n", folder, 30);
        const size_t at = r.out.find(". Wav disk writer");
        if (at == std::string::npos)
            return "wav writer not listed\n";
        const size_t line = r.out.rfind('\n', at) + 1;
        answers = "4\n" + r.out.substr(line, at - line) + "\n44100\n";
    }
    return answers;
}

std::string sound_menus_text()
{
    const std::string answers = wav_writer_answers();
    const std::string folder = make_run_folder("e2e-menus");
    // Ends at the frequency question: everything the sound menus print before the report.
    RunResult r = run_program({program_path("tarqle-render")}, answers.substr(0, answers.rfind("44100")), folder, 30);
    const std::string title = "*** tarqle for LINUX by brusk *** \n";
    const std::string eof = "End of input: no answer given.\n";
    if (r.out.compare(0, title.size(), title) != 0 || !r.out.ends_with(eof))
        return "unexpected menus: " + r.out;
    return r.out.substr(title.size(), r.out.size() - title.size() - eof.size());
}
