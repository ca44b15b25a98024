// Starting and stopping private Xvfb servers for the X11 tests.
#include "tests/x11_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

XServer xserver_start(const std::vector<std::string>& args)
{
    XServer server;
    int ready[2];
    if (pipe(ready) != 0)
        return server;
    const pid_t pid = fork();
    if (pid == 0) {
        close(ready[0]);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        // -noreset: a server resetting after its last client left drops the next one.
        std::vector<std::string> all = {"Xvfb", "-noreset", "-displayfd", std::to_string(ready[1])};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execvp("Xvfb", argv.data());
        _exit(127);
    }
    close(ready[1]);
    if (pid < 0) {
        close(ready[0]);
        return server;
    }
    server.pid = pid;
    std::string text;
    timespec start, now;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        pollfd fd = {ready[0], POLLIN, 0};
        poll(&fd, 1, 100);
        char buffer[32];
        ssize_t got = fd.revents != 0 ? read(ready[0], buffer, sizeof buffer) : 0;
        if (got > 0)
            text.append(buffer, (size_t)got);
        if (text.find('\n') != std::string::npos) {
            server.number = std::stoi(text);
            break;
        }
        clock_gettime(CLOCK_MONOTONIC, &now);
        if ((fd.revents != 0 && got <= 0) || now.tv_sec - start.tv_sec >= 10)
            break;
    }
    close(ready[0]);
    return server;
}

void xserver_stop(XServer* server)
{
    if (server->pid <= 0)
        return;
    kill(server->pid, SIGTERM);
    for (int i = 0; i < 50; ++i) {
        if (waitpid(server->pid, nullptr, WNOHANG) == server->pid) {
            server->pid = -1;
            return;
        }
        usleep(100000);
    }
    kill(server->pid, SIGKILL);
    waitpid(server->pid, nullptr, 0);
    server->pid = -1;
}

std::string xserver_name(const XServer& server, bool over_tcp)
{
    return (over_tcp ? "localhost:" : ":") + std::to_string(server.number);
}

int segments_created_by(pid_t pid, long* mode)
{
    // Columns: key shmid perms size cpid ...
    std::ifstream table("/proc/sysvipc/shm");
    std::string line;
    std::getline(table, line);
    int count = 0;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        long key, id, perms, size, creator;
        if (fields >> key >> id >> perms >> size >> creator && creator == pid) {
            ++count;
            if (mode != nullptr)
                *mode = perms;
        }
    }
    return count;
}
