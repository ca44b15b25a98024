// Choosing between the current folder and the installed data folder.
#include "core/data_path.h"

#include <sys/stat.h>

namespace {

bool starts_with(const char* text, const char* prefix)
{
    while (*prefix != '\0')
        if (*text++ != *prefix++)
            return false;
    return true;
}

bool is_folder(const char* path)
{
    struct stat info;
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

const char* data_installed_folder()
{
    return TARQLE_DATA_DIR;
}

std::string data_path(const char* relative)
{
    // Only the two data folders move; any other name is opened as it is given.
    if (!starts_with(relative, "grafika/") && !starts_with(relative, "music/"))
        return relative;
    if (is_folder("grafika") && is_folder("music"))
        return relative;
    return std::string(TARQLE_DATA_DIR) + "/" + relative;
}
