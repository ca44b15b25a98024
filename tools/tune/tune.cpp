// The tune maker: the composition and the instruments put together, and the file written below the data folder.
#include "tools/tune/tune.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/data.h"
#include "tools/tune/compose.h"
#include "tools/tune/synth.h"

XmModule tune_module()
{
    XmModule m = tune_score();
    m.name = "tarqle";
    m.instruments = tune_instruments();
    return m;
}

int make_tune(const std::string& out_dir)
{
    std::string error;
    const std::vector<uint8_t> bytes = xm_encode(tune_module(), &error);
    if (bytes.empty()) {
        std::fprintf(stderr, "tune: %s\n", error.c_str());
        return 1;
    }
    const std::filesystem::path dir = std::filesystem::path(out_dir) / "music";
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        std::fprintf(stderr, "tune: cannot make %s: %s\n", dir.c_str(), ec.message().c_str());
        return 1;
    }
    const std::filesystem::path path = dir / "tarqle.xm";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::fprintf(stderr, "tune: cannot write %s\n", path.c_str());
        return 1;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0 || !written) {
        std::fprintf(stderr, "tune: cannot write %s\n", path.c_str());
        return 1;
    }
    return 0;
}
