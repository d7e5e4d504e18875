#include "private_paths.h"

#include "private_paths_config.h"

#include <climits>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace fw {

namespace {

std::string runningProgram() {
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof path)
        return {};
    return {path, static_cast<size_t>(length)};
}

bool isRegularFile(const std::string &path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// The installed file when there is one beside the installed program; else the built one
// when the program runs from the build tree; else the installed path, so that a message
// about the missing file names the place it belongs.
std::string locate(const char *fromBindir, const char *built) {
    const std::string program = runningProgram();
    const std::string folder = program.substr(0, program.rfind('/') + 1);
    std::string installed = folder + fromBindir;
    if (isRegularFile(installed))
        return installed;
    if (std::string_view(program).starts_with(paths::kBuildTree))
        return built;
    return installed;
}

} // namespace

std::string providerHostExecutable() {
    return locate(paths::kInstalledHost, paths::kBuiltHost);
}

std::string simulatorLibrary() {
    return locate(paths::kInstalledSimulator, paths::kBuiltSimulator);
}

} // namespace fw
