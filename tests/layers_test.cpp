// The house's layers: no product file includes a header of a layer above its own, and the
// platform's libraries are included only by the back-ends that wrap them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>

namespace {

namespace fs = std::filesystem;

// Higher numbers stand higher; a file may include its own layer and those below it.
const std::map<std::string, int> kLayers = {
    {"show", 5}, {"parts", 4}, {"fx", 3}, {"pcx", 3}, {"display", 2}, {"sound", 2}, {"video", 2}, {"core", 1},
};

// Headers that belong to one platform: only the back-end folders (display/*, sound, video) wrap them.
const std::regex kPlatformHeader(R"(^(X11/|SDL|libav|libsw|mikmod\.h|linux/|emscripten))");

int layer_of(const std::string& relative)
{
    const std::string top = relative.substr(0, relative.find('/'));
    const auto found = kLayers.find(top);
    return found == kLayers.end() ? 0 : found->second;
}

TEST(Layers, NoProductFileIncludesALayerAboveItsOwn)
{
    const fs::path source = TARQLE_SOURCE_DIR;
    const std::regex include(R"(^\s*#\s*include\s*([<"])([^">]+)[">])");
    int files = 0;
    for (const auto& [folder, layer] : kLayers) {
        for (const auto& entry : fs::recursive_directory_iterator(source / folder)) {
            const std::string ext = entry.path().extension();
            if (ext != ".cpp" && ext != ".h")
                continue;
            ++files;
            const std::string name = fs::relative(entry.path(), source).string();
            std::ifstream in(entry.path());
            std::string line;
            for (int number = 1; std::getline(in, line); ++number) {
                std::smatch m;
                if (!std::regex_search(line, m, include))
                    continue;
                const std::string target = m[2];
                const std::string where = name + ":" + std::to_string(number) + " includes " + target;
                if (m[1] == "\"") {
                    EXPECT_NE(layer_of(target), 0) << where << ": a folder that is in no layer";
                    EXPECT_LE(layer_of(target), layer) << where << ": a layer above its own";
                } else if (std::regex_search(target, kPlatformHeader)) {
                    EXPECT_EQ(layer, 2) << where << ": a platform header outside the back-ends";
                }
            }
        }
    }
    EXPECT_GT(files, 40); // the walk found the product code at all
}

} // namespace
