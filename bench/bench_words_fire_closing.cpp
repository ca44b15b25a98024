// One frame of the scroll with words, of the fire and of the closing fades, on pictures
// made for the purpose; compare with the 70, 60, 70 and 83 ms frame periods.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/image.h"
#include "fx/grid.h"
#include "fx/tables.h"
#include "parts/closing.h"
#include "parts/fire.h"
#include "parts/words.h"
#include "tools/pictures/pcx_write.h"

namespace {

void picture(const std::string& path, int w, int h)
{
    std::vector<uint8_t> pixels((size_t)w * h);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = (uint8_t)((i * 3 + i / (size_t)w * 5) % 251);
    Palette grey;
    for (int i = 0; i < 768; ++i)
        grey.rgb[i] = (uint8_t)(i / 3);
    pcx_write(path, pixels.data(), w, h, grey);
}

// Loads both parts from pictures in a folder of their own, once for all benchmarks.
struct Loaded {
    Image* screen = nullptr;
    Loaded()
    {
        const std::filesystem::path folder =
            std::filesystem::temp_directory_path() / ("tarqle-bench-words-fire-closing-" + std::to_string(getpid()));
        // With both data folders there, the parts read this folder, not the installed data.
        std::filesystem::create_directories(folder / "music");
        const std::filesystem::path home = std::filesystem::current_path();
        std::filesystem::current_path(folder);
        for (const char* name : {"d1", "d5", "d6", "c1", "d2"})
            picture(std::string("grafika/aaa/") + name + ".pcx", 320, 240);
        picture("grafika/words.pcx", 317, 799);
        picture("grafika/fire/skull.pcx", 100, 80);
        picture("grafika/fire/fire.pcx", 221, 253);
        tables_init();
        grid_tables_init();
        words_load();
        fire_load();
        std::filesystem::current_path(home);
        std::filesystem::remove_all(folder);
        image_alloc(&screen, 320, 240);
        fire_run(screen, 0, 4, 1, 1, 1); // fills the polar maps, draws no frame
    }
};

Loaded& loaded()
{
    static Loaded once;
    return once;
}

void words_one_frame(benchmark::State& state)
{
    Image* screen = loaded().screen;
    WordsRun run;
    for (auto _ : state) {
        words_frame(screen, &run, (run.frame * 70 / 100) % 230);
        benchmark::DoNotOptimize(screen->pixels);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(words_one_frame)->Unit(benchmark::kMicrosecond)->MinTime(0.3);

void fire_one_frame(benchmark::State& state)
{
    Image* screen = loaded().screen;
    FireRun run;
    for (auto _ : state) {
        fire_frame(screen, &run, (run.frame * 60) % 21500, 215);
        benchmark::DoNotOptimize(screen->pixels);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(fire_one_frame)->Unit(benchmark::kMicrosecond)->MinTime(0.3);

void closing_palette_steps(benchmark::State& state)
{
    Palette own, fade;
    for (int i = 0; i < 768; ++i)
        own.rgb[i] = fade.rgb[i] = (uint8_t)(i * 7);
    for (auto _ : state) {
        whiteout_step(&fade);
        closing_fade_step(&fade, own);
        benchmark::DoNotOptimize(fade.rgb);
    }
}
BENCHMARK(closing_palette_steps)->Unit(benchmark::kMicrosecond)->MinTime(0.1);

} // namespace
