// What the show and its player process say to each other over their socket: one request
// record, one answer record, each written and read by one function that both sides use.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <cstdint>
#include <string>

// The CLOCK_MONOTONIC microsecond: the clock every time in a request or an answer is on,
// and the one the player's own output keeps the heard tune on.
int64_t monotonic_microseconds();

// What the show asks of the player.
enum PlayerRequestKind : uint8_t {
    kPlayerLoad,     // load the tune at path; answered: 1 when it loaded, else 0
    kPlayerStart,    // the tune from its start (the first release, or a new round); answered
    kPlayerHold,     // fall silent where the tune is, until the next start or play-from
    kPlayerPlayFrom, // play on from position_ms, heard at at
};

struct PlayerRequest {
    // Counts the show's requests; an answer repeats its request's, so an answer that came
    // too late is never taken for a later request's.
    uint32_t serial;
    PlayerRequestKind kind;
    // kPlayerStart: the tune is made ready at its start and held, silent, until a
    // play-from; answered with 0.
    bool held;
    // kPlayerPlayFrom: the tune's position in milliseconds.
    int32_t position_ms;
    // kPlayerStart: the first sample must not be heard before this microsecond; answered
    // with the microsecond it is heard at, or 0 when the output cannot tell.
    // kPlayerPlayFrom: the microsecond at which position_ms is to be heard.
    int64_t at;
    // kPlayerLoad: the tune's file.
    std::string path;
};

struct PlayerAnswer {
    uint32_t serial;
    int64_t value;
};

// What the player tells first, once its output has started: the driver's name and the
// mode and frequency it accepted.
struct PlayerReport {
    uint16_t mode;
    uint16_t mixfreq;
    char name[64];
};

// Writes a record whole; false when the other side is gone. Never raises SIGPIPE.
bool player_request_send(int fd, const PlayerRequest& request);
bool player_answer_send(int fd, const PlayerAnswer& answer);
bool player_report_send(int fd, const PlayerReport& report);

// Reads one request, waiting up to timeout_ms for it to begin; false at the end of the
// stream, on an error, a malformed record, when the time is up or when *stop (if given)
// turns nonzero (a stop signal in the player).
bool player_request_receive(int fd, PlayerRequest* request, int timeout_ms, const volatile sig_atomic_t* stop);

// Reads answers until the one to request serial, within timeout_ms in all, with its value
// in *value; answers to earlier requests that came too late are dropped. False when none
// came in time or the player is gone.
bool player_answer_receive(int fd, uint32_t serial, int64_t* value, int timeout_ms);

// Reads the player's report within timeout_ms.
bool player_report_receive(int fd, PlayerReport* report, int timeout_ms);

// Whether something waits to be read on fd, without waiting.
bool player_channel_ready(int fd);
