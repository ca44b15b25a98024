// Running the built programs from the tests: fork, exec, pipes and a time limit.
#include "tests/run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

std::string program_path(const std::string& name)
{
    return std::string(TARQLE_BUILD_DIR) + "/" + name;
}

std::string make_run_folder(const std::string& name)
{
    fs::path folder = fs::path(TARQLE_BUILD_DIR) / "test-runs" / (name + "-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    for (const char* data : {"grafika", "music"}) {
        fs::path target = fs::path(TARQLE_BUILD_DIR) / data;
        if (fs::exists(target))
            fs::create_directory_symlink(target, folder / data);
    }
    return folder.string();
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void exec_program(const std::vector<std::string>& argv, const std::vector<std::string>& env)
{
    for (const std::string& e : env)
        putenv(strdup(e.c_str()));
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

RunResult run_program(const std::vector<std::string>& argv, const std::string& input, const std::string& folder,
                      int timeout_seconds, const std::vector<std::string>& env)
{
    RunResult result;
    int in_pipe[2], out_pipe[2], err_pipe[2];
    if (pipe(in_pipe) != 0 || pipe(out_pipe) != 0 || pipe(err_pipe) != 0)
        return result;
    pid_t pid = fork();
    if (pid == 0) {
        // A group of its own, so a time-out also ends whatever the program started.
        setpgid(0, 0);
        dup2(in_pipe[0], 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]})
            close(fd);
        if (chdir(folder.c_str()) != 0)
            _exit(126);
        exec_program(argv, env);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    // The child may stop reading early; a broken pipe must not end the test.
    signal(SIGPIPE, SIG_IGN);
    size_t written = 0;
    if (input.empty()) {
        close(in_pipe[1]);
        in_pipe[1] = -1;
    }
    fcntl(out_pipe[0], F_SETFL, O_NONBLOCK);
    fcntl(err_pipe[0], F_SETFL, O_NONBLOCK);
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    bool out_open = true, err_open = true;
    while (out_open || err_open) {
        pollfd fds[3];
        int n = 0;
        int out_index = -1, err_index = -1, in_index = -1;
        if (out_open) {
            fds[n] = {out_pipe[0], POLLIN, 0};
            out_index = n++;
        }
        if (err_open) {
            fds[n] = {err_pipe[0], POLLIN, 0};
            err_index = n++;
        }
        if (in_pipe[1] >= 0) {
            fds[n] = {in_pipe[1], POLLOUT, 0};
            in_index = n++;
        }
        poll(fds, (nfds_t)n, 100);
        char buffer[65536];
        auto drain = [&](int index, int fd, std::string& into, bool& open) {
            if (index < 0 || fds[index].revents == 0)
                return;
            ssize_t got = read(fd, buffer, sizeof buffer);
            if (got > 0)
                into.append(buffer, (size_t)got);
            else if (got == 0 || (errno != EAGAIN && errno != EINTR))
                open = false;
        };
        drain(out_index, out_pipe[0], result.out, out_open);
        drain(err_index, err_pipe[0], result.err, err_open);
        if (in_index >= 0 && fds[in_index].revents != 0) {
            ssize_t put = write(in_pipe[1], input.data() + written, input.size() - written);
            if (put > 0)
                written += (size_t)put;
            if (put < 0 || written == input.size()) {
                close(in_pipe[1]);
                in_pipe[1] = -1;
            }
        }
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec - start.tv_sec >= timeout_seconds && !result.timed_out) {
            result.timed_out = true;
            kill(-pid, SIGKILL);
        }
    }
    if (in_pipe[1] >= 0)
        close(in_pipe[1]);
    close(out_pipe[0]);
    close(err_pipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

std::vector<std::string> index_lines(const std::string& folder)
{
    std::vector<std::string> lines;
    std::istringstream in(read_file(folder + "/frames/index.tsv"));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}
