#include "user_folders.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace fw {

namespace {
bool absolute(const char *path) {
    return path && path[0] == '/';
}
} // namespace

std::string userFolder(const char *variable, std::string_view underHome, const char *home,
                       const char *accountHome) {
    if (absolute(variable))
        return variable;
    std::string base = absolute(home) ? home : absolute(accountHome) ? accountHome : "";
    while (!base.empty() && base.back() == '/')
        base.pop_back(); // "/" as the home gives "/.config", not "//.config"
    return base + '/' + std::string(underHome);
}

std::string userFolder(const char *variableName, std::string_view underHome) {
    const char *home = std::getenv("HOME");
    const char *accountHome = nullptr;
    if (!absolute(home))
        if (const passwd *account = ::getpwuid(::getuid()))
            accountHome = account->pw_dir;
    return userFolder(std::getenv(variableName), underHome, home, accountHome);
}

} // namespace fw
