#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <string>
#include <vector>

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
    std::string recordPath; // an absolute path, byte for byte as the file system names it
    // Where Qt's own options (-platform, -style, -reverse, ...) and their values stand in
    // the arguments: the application object gets those and nothing else.
    QList<int> toolkitArguments;
    // The data-provider library, byte for byte: a path or a name for the dynamic linker;
    // none: the one FLEETWRIGHT_PROVIDER names, else the maker's.
    std::optional<std::string> provider;
    bool simulator = false; // the simulated base station installed with the program

    friend bool operator==(const CommandLine &, const CommandLine &) = default;
};

// Exit status of a command line the program cannot follow.
inline constexpr int kUsageExit = 2;

// Reads the arguments as argumentsOf() gives them, the program's own path first. Needs no
// application object, so that help, version and mistakes are answered before any window or
// library is loaded.
CommandLine parseCommandLine(const QStringList &arguments);

// The arguments of main(), each byte one Latin-1 character: the options read as text, and a
// file name comes back byte for byte, whatever the locale makes of it.
QStringList argumentsOf(int argc, const char *const *argv);

// The arguments for the application object: the program's path and Qt's own options, ending
// in a null pointer as main()'s do.
std::vector<char *> toolkitArgv(const CommandLine &command, char **argv);

// Prints what an Action other than Run asks for and returns the exit status.
int answerWithoutWindow(const CommandLine &command);

} // namespace fw::app
