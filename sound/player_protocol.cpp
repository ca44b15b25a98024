// The show's requests to its player and the player's answers, as bytes on their socket.
#include "sound/player_protocol.h"

#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// A waiting reader looks at its stop flag this often.
constexpr int kPollMilliseconds = 20;
// The longest path a load request carries.
constexpr uint32_t kLongestPath = 4096;

// A request's fixed part as it travels: serial, kind, held, position, at, path length.
constexpr size_t kRequestBytes = 4 + 1 + 1 + 4 + 8 + 4;
constexpr size_t kAnswerBytes = 4 + 8;

bool send_all(int fd, const void* data, size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t sent = send(fd, bytes, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        bytes += sent;
        size -= (size_t)sent;
    }
    return true;
}

// Reads exactly size bytes within timeout_ms in all; false at the end of the stream, on
// an error, when the time is up, or when *stop turns nonzero.
bool receive_all(int fd, void* data, size_t size, int timeout_ms, const volatile sig_atomic_t* stop)
{
    char* bytes = static_cast<char*>(data);
    const int64_t until = monotonic_microseconds() + (int64_t)timeout_ms * 1000;
    while (size > 0 && (stop == nullptr || *stop == 0)) {
        const int64_t left = (until - monotonic_microseconds()) / 1000;
        if (left <= 0)
            return false;
        pollfd ready{fd, POLLIN, 0};
        const int got = poll(&ready, 1, (int)std::min<int64_t>(left, kPollMilliseconds));
        if (got < 0 && errno != EINTR)
            return false;
        if (got <= 0)
            continue;
        const ssize_t n = read(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        size -= (size_t)n;
    }
    return size == 0;
}

template <typename T>
void put(char*& at, T value)
{
    std::memcpy(at, &value, sizeof value);
    at += sizeof value;
}

template <typename T>
T take(const char*& at)
{
    T value;
    std::memcpy(&value, at, sizeof value);
    at += sizeof value;
    return value;
}

} // namespace

int64_t monotonic_microseconds()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (int64_t)now.tv_sec * 1000000 + now.tv_nsec / 1000;
}

bool player_request_send(int fd, const PlayerRequest& request)
{
    std::string bytes(kRequestBytes, '\0');
    char* at = bytes.data();
    put<uint32_t>(at, request.serial);
    put<uint8_t>(at, request.kind);
    put<uint8_t>(at, request.held ? 1 : 0);
    put<int32_t>(at, request.position_ms);
    put<int64_t>(at, request.at);
    put<uint32_t>(at, (uint32_t)request.path.size());
    bytes += request.path;
    return send_all(fd, bytes.data(), bytes.size());
}

bool player_request_receive(int fd, PlayerRequest* request, int timeout_ms, const volatile sig_atomic_t* stop)
{
    char fixed[kRequestBytes];
    if (!receive_all(fd, fixed, sizeof fixed, timeout_ms, stop))
        return false;
    const char* at = fixed;
    request->serial = take<uint32_t>(at);
    const uint8_t kind = take<uint8_t>(at);
    request->held = take<uint8_t>(at) != 0;
    request->position_ms = take<int32_t>(at);
    request->at = take<int64_t>(at);
    const uint32_t length = take<uint32_t>(at);
    if (kind > kPlayerPlayFrom || length > kLongestPath)
        return false;
    request->kind = (PlayerRequestKind)kind;
    request->path.resize(length);
    // The rest of a record follows its start at once.
    return receive_all(fd, request->path.data(), length, 1000, stop);
}

bool player_answer_send(int fd, const PlayerAnswer& answer)
{
    char bytes[kAnswerBytes];
    char* at = bytes;
    put<uint32_t>(at, answer.serial);
    put<int64_t>(at, answer.value);
    return send_all(fd, bytes, sizeof bytes);
}

bool player_answer_receive(int fd, uint32_t serial, int64_t* value, int timeout_ms)
{
    const int64_t until = monotonic_microseconds() + (int64_t)timeout_ms * 1000;
    for (;;) {
        const int64_t left = (until - monotonic_microseconds()) / 1000;
        char bytes[kAnswerBytes];
        if (left <= 0 || !receive_all(fd, bytes, sizeof bytes, (int)left, nullptr))
            return false;
        const char* at = bytes;
        const uint32_t answered = take<uint32_t>(at);
        if (answered == serial) {
            *value = take<int64_t>(at);
            return true;
        }
    }
}

bool player_report_send(int fd, const PlayerReport& report)
{
    return send_all(fd, &report, sizeof report);
}

bool player_report_receive(int fd, PlayerReport* report, int timeout_ms)
{
    if (!receive_all(fd, report, sizeof *report, timeout_ms, nullptr))
        return false;
    report->name[sizeof report->name - 1] = '\0';
    return true;
}

bool player_channel_ready(int fd)
{
    pollfd ready{fd, POLLIN, 0};
    return poll(&ready, 1, 0) > 0;
}
