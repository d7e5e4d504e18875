#include "app_setup.h"
#include "command_line.h"
#include "data_provider.h"
#include "hosted_provider.h"
#include "private_paths.h"

#include <QApplication>
#include <string>

int main(int argc, char **argv) {
    // Help, the version and usage mistakes need neither a display nor the library.
    const fw::app::CommandLine command =
        fw::app::parseCommandLine(fw::app::argumentsOf(argc, argv));
    if (command.action != fw::app::CommandLine::Action::Run)
        return fw::app::answerWithoutWindow(command);

    fw::app::ignoreFileSizeSignal();
    QApplication app(argc, argv);
    fw::app::registerFontSubstitutes();
    const std::string host = fw::providerHostExecutable();
    const std::string library = fw::resolveProviderLibrary();
    return fw::app::runFleetwright(
        fw::app::applicationNameOf(argv[0]),
        [&] { return fw::createHostedProvider(host, library); },
        fw::app::presenterFromEnvironment(), command);
}
