// tarqle-mixdown OUT.wav [TUNE]: the tune (music/tarqle.xm by default) mixed offline into a
// 44100 Hz 16-bit stereo WAV file, for players that cannot run the music library.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sound/mixdown.h"

namespace {

constexpr int kRate = 44100;

void put16(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back((uint8_t)v);
    out.push_back((uint8_t)(v >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t v)
{
    put16(out, v & 0xffff);
    put16(out, v >> 16);
}

// The whole file: a 44-byte header and the samples, little-endian.
std::vector<uint8_t> wav_bytes(const std::vector<int16_t>& samples)
{
    const uint32_t data_bytes = (uint32_t)(samples.size() * 2);
    std::vector<uint8_t> out;
    out.reserve(44 + data_bytes);
    for (char c : std::string("RIFF"))
        out.push_back((uint8_t)c);
    put32(out, 36 + data_bytes);
    for (char c : std::string("WAVEfmt "))
        out.push_back((uint8_t)c);
    put32(out, 16);
    put16(out, 1); // plain PCM
    put16(out, 2);
    put32(out, kRate);
    put32(out, kRate * 4);
    put16(out, 4);
    put16(out, 16);
    for (char c : std::string("data"))
        out.push_back((uint8_t)c);
    put32(out, data_bytes);
    for (int16_t s : samples)
        put16(out, (uint16_t)s);
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: tarqle-mixdown OUT.wav [TUNE]\n");
        return 2;
    }
    const char* out_path = argv[1];
    const char* tune = argc == 3 ? argv[2] : "music/tarqle.xm";
    std::vector<int16_t> samples;
    if (mixdown_tune(tune, kRate, &samples) != 0)
        return 1;
    const std::vector<uint8_t> bytes = wav_bytes(samples);
    // Written beside the target and renamed when whole, so a reader never sees half a file.
    const std::string part = std::string(out_path) + ".part";
    FILE* f = std::fopen(part.c_str(), "wb");
    bool ok = f != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const int write_errno = errno;
    if (f != nullptr && std::fclose(f) != 0)
        ok = false;
    if (!ok || std::rename(part.c_str(), out_path) != 0) {
        std::fprintf(stderr, "tarqle-mixdown: %s: %s\n", out_path, std::strerror(ok ? errno : write_errno));
        std::remove(part.c_str());
        return 1;
    }
    return 0;
}
