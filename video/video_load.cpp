// tarqle-render's side of the video capture: loads the encoder module on the first
// video_open and hands the calls to it.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "video/video.h"

namespace {

constexpr const char* kModule = "tarqle-video.so";

// The loaded module's calls; null until video_open has loaded it.
const VideoEncoder* encoder;

// The folder of the running program, from the kernel's own link, with a slash at its end;
// empty when it cannot be read.
std::string program_folder()
{
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return "";
    const std::string exe(path, (size_t)n);
    return exe.substr(0, exe.rfind('/') + 1);
}

// A build folder holds the module beside the programs; an installed program finds it in
// the module folder fixed when it was built.
const VideoEncoder* load()
{
    const std::string candidates[] = {program_folder() + kModule, std::string(TARQLE_MODULE_DIR "/") + kModule};
    std::string why;
    for (const std::string& path : candidates) {
        if (access(path.c_str(), F_OK) != 0)
            continue;
        void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module == nullptr) {
            why = dlerror();
            break;
        }
        auto entry = (const VideoEncoder* (*)())dlsym(module, "tarqle_video_encoder");
        if (entry != nullptr)
            return entry();
        why = path + ": no encoder in it";
        dlclose(module);
        break;
    }
    if (why.empty())
        why = std::string("no ") + kModule + " beside the program or in " TARQLE_MODULE_DIR;
    std::fprintf(stderr, "tarqle-render: --video: cannot load the video encoder: %s\n", why.c_str());
    return nullptr;
}

} // namespace

int video_open(const VideoRequest& request)
{
    if (encoder == nullptr)
        encoder = load();
    return encoder == nullptr ? -1 : encoder->open(request);
}

int video_present(const Image& image, const Palette& palette, int32_t now)
{
    return encoder == nullptr ? -1 : encoder->present(image, palette, now);
}

int video_present_pixels(const uint32_t* pixels, int32_t now)
{
    return encoder == nullptr ? -1 : encoder->present_pixels(pixels, now);
}

int video_close()
{
    return encoder == nullptr ? 0 : encoder->close();
}

void video_discard()
{
    if (encoder != nullptr)
        encoder->discard();
}
