// tarqle-mixdown OUT.wav [TUNE]: the tune mixed offline to a WAV file, for players that cannot run the music library.
// The tune is music/tarqle.xm by default, found by the data-folder rule; the file is 44100 Hz 16-bit stereo.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/data_path.h"
#include "sound/mixdown.h"

namespace {

static_assert(kMixdownRate == 44100, "the usage names the rate");

const char* const kUsage = "usage: tarqle-mixdown OUT.wav [TUNE]\n"
                           "  writes the tune (default: music/tarqle.xm) mixed offline as a 44100 Hz 16-bit\n"
                           "  stereo WAV file OUT.wav; a name starting with - is given as ./-name\n"
                           "  --help  this text\n";

// A bad command line: what is wrong, the usage, status 2.
[[noreturn]] void usage_error(const char* what, const char* detail)
{
    std::fprintf(stderr, "tarqle-mixdown: %s: %s\n%s", what, detail, kUsage);
    std::exit(2);
}

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
    put32(out, kMixdownRate);
    put32(out, kMixdownRate * 4);
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
    // The whole command line is checked before anything is read or written.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (argv[i][0] == '-')
            usage_error(argv[i], "unknown option");
    }
    if (argc < 2)
        usage_error("OUT.wav", "missing");
    if (argc > 3)
        usage_error(argv[3], "one file too many");
    const char* out_path = argv[1];
    const std::string tune = argc == 3 ? argv[2] : data_path("music/tarqle.xm");
    std::vector<int16_t> samples;
    if (mixdown_tune(tune.c_str(), kMixdownRate, &samples) != 0)
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
