// The show ended by the viewer runs the rest of its timeline to the usual shut-down at
// once; and the programs find their data in the current folder or the installed one.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "core/clock.h"
#include "core/data_path.h"
#include "display/null/display_null.h"
#include "show/timeline.h"
#include "sound/music.h"

namespace {

namespace fs = std::filesystem;

// Runs body in a child process in folder with standard output to folder/out; the
// child's exit status (body's result).
int in_child(const std::string& folder, const std::function<int()>& body)
{
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(folder.c_str()) != 0 || std::freopen("out", "w", stdout) == nullptr)
            _exit(126);
        const int result = body();
        std::fflush(nullptr);
        _exit(result);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string fresh_folder(const std::string& name)
{
    const fs::path folder = fs::path(TARQLE_BUILD_DIR) / "test-runs" / (name + "-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder.string();
}

TEST(ShowEnd, TheRestOfTheShowEndsAtOnceThroughTheUsualShutDown)
{
    const std::string folder = fresh_folder("show-end");
    fs::create_symlink(fs::path(TARQLE_BUILD_DIR) / "grafika", folder + "/grafika");
    fs::create_symlink(fs::path(TARQLE_BUILD_DIR) / "music", folder + "/music");
    const int frames = in_child(folder, [] {
        music_choose({0, 0, 44100, 0});
        clock_end_show();
        char name[] = "tarqle-test";
        char* argv[] = {name, nullptr};
        if (show_main(1, argv) != 0)
            return 255;
        return (int)std::min<size_t>(null_display.frames.size(), 254);
    });
    // Only the blank screens between the steps are presented, no part's frame.
    EXPECT_GT(frames, 10);
    EXPECT_LT(frames, 30);
    std::ifstream out(folder + "/out");
    const std::string text((std::istreambuf_iterator<char>(out)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("--- The First Veltrian Linux Demogroup ---\n\n"), std::string::npos) << text;
}

TEST(DataPath, CurrentFolderWithBothDataFoldersElseTheInstalledOne)
{
    const std::string installed = std::string(data_installed_folder()) + "/";
    const std::string empty = fresh_folder("data-empty");
    const std::string half = fresh_folder("data-half");
    fs::create_directory(half + "/grafika");
    const std::string both = fresh_folder("data-both");
    fs::create_directory(both + "/grafika");
    fs::create_directory(both + "/music");
    auto expect = [](const char* name, const std::string& want) { return data_path(name) == want ? 0 : 1; };
    for (const std::string& folder : {empty, half}) {
        EXPECT_EQ(in_child(folder, [&] {
                      return expect("grafika/aaa/b1.pcx", installed + "grafika/aaa/b1.pcx") +
                             expect("music/tarqle.xm", installed + "music/tarqle.xm") + expect("other.pcx", "other.pcx") +
                             expect("/abs/grafika/x.pcx", "/abs/grafika/x.pcx");
                  }),
                  0)
            << folder;
    }
    EXPECT_EQ(in_child(both, [&] {
                  return expect("grafika/aaa/b1.pcx", "grafika/aaa/b1.pcx") + expect("music/tarqle.xm", "music/tarqle.xm");
              }),
              0);
}

} // namespace
