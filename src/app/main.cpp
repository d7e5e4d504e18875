#include "app_setup.h"
#include "command_line.h"
#include "data_provider.h"
#include "host_processes.h"

#include <QApplication>
#include <string>

int main(int argc, char **argv) {
    // Before anything is opened: a display connection on descriptor 2 would take every
    // line meant for standard error.
    fw::host::openStandardDescriptors();
    // Help, the version and usage mistakes need neither a display nor the library.
    const fw::app::CommandLine command =
        fw::app::parseCommandLine(fw::app::argumentsOf(argc, argv));
    if (command.action != fw::app::CommandLine::Action::Run)
        return fw::app::answerWithoutWindow(command);

    fw::app::ignoreFileSizeSignal();
    // Qt sees its own options and nothing of the program's.
    std::vector<char *> toolkitArguments = fw::app::toolkitArgv(command, argv);
    int toolkitArgc = static_cast<int>(toolkitArguments.size()) - 1;
    QApplication app(toolkitArgc, toolkitArguments.data());
    fw::app::registerFontSubstitutes();
    return fw::app::runFleetwright(fw::app::applicationNameOf(argv[0]),
                                   fw::app::providerFactoryFor(command),
                                   fw::app::presenterFromEnvironment(), command);
}
