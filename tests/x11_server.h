// Private X servers for the X11 tests: one Xvfb per test, started and stopped by it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct XServer {
    pid_t pid = -1;
    int number = -1; // display number, -1 when the server did not come up
};

// Starts Xvfb with these arguments (screen, visual class, listening) and waits up to
// ten seconds for it to report its display number.
XServer xserver_start(const std::vector<std::string>& args);

// Ends the server (SIGTERM, then SIGKILL after five seconds) and waits for it.
void xserver_stop(XServer* server);

// ":N", or "localhost:N" for the server's TCP port.
std::string xserver_name(const XServer& server, bool over_tcp = false);

// The System V shared memory segments that process pid created and that still exist;
// *mode (when given) gets the permission bits of the last one, as written in octal.
int segments_created_by(pid_t pid, long* mode = nullptr);
