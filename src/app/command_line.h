#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace fw::app {

// What the program was asked for on its command line.
struct CommandLine {
    enum class Action {
        Run,     // open the window
        Help,    // print output on standard output and end
        Version, // the same
        Refuse,  // print output on standard error and end with kUsageExit
    };
    enum class Record {
        Default, // the per-user state folder
        File,    // recordPath
        None,
    };

    Action action = Action::Run;
    QString output;                 // the whole text to print, ending in a newline
    std::optional<QString> profile; // an absolute path; empty: the per-user store
    Record record = Record::Default;
    QString recordPath; // an absolute path
    // The data-provider library: a path or a name for the dynamic linker; none: the one
    // FLEETWRIGHT_PROVIDER names, else the maker's.
    std::optional<QString> provider;
    bool simulator = false; // the simulated base station installed with the program

    friend bool operator==(const CommandLine &, const CommandLine &) = default;
};

// Exit status of a command line the program cannot follow.
inline constexpr int kUsageExit = 2;

// Reads the arguments, the program's own path first. Needs no application object, so that
// help, version and mistakes are answered before any window or library is loaded.
CommandLine parseCommandLine(const QStringList &arguments);

// The arguments of main() as texts.
QStringList argumentsOf(int argc, const char *const *argv);

// Prints what an Action other than Run asks for and returns the exit status.
int answerWithoutWindow(const CommandLine &command);

} // namespace fw::app
