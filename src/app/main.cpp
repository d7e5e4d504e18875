#include "app_setup.h"
#include "command_line.h"
#include "data_provider.h"
#include "hosted_provider.h"

#include <QApplication>
#include <climits>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The provider host beside the program in the build tree, else where the package puts it.
std::string providerHostExecutable() {
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
    if (length > 0 && static_cast<size_t>(length) < sizeof path) {
        std::string program(path, static_cast<size_t>(length));
        const std::string built = program.substr(0, program.rfind('/') + 1) +
                                  "../provider-host/fleetwright-provider-host";
        struct stat status {};
        if (::stat(built.c_str(), &status) == 0 && S_ISREG(status.st_mode))
            return built;
    }
    return FW_INSTALLED_HOST;
}

} // namespace

int main(int argc, char **argv) {
    // Help, the version and usage mistakes need neither a display nor the library.
    const fw::app::CommandLine command =
        fw::app::parseCommandLine(fw::app::argumentsOf(argc, argv));
    if (command.action != fw::app::CommandLine::Action::Run)
        return fw::app::answerWithoutWindow(command);

    fw::app::ignoreFileSizeSignal();
    QApplication app(argc, argv);
    fw::app::registerFontSubstitutes();
    const std::string host = providerHostExecutable();
    const std::string library = fw::resolveProviderLibrary();
    return fw::app::runFleetwright(
        fw::app::applicationNameOf(argv[0]),
        [&] { return fw::createHostedProvider(host, library); },
        fw::app::presenterFromEnvironment(), command);
}
