#include "data_provider.h"
#include "host_processes.h"
#include "interruption.h"
#include "private_paths.h"
#include "runner.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <iostream>
#include <sstream>

namespace {

QString helpText() {
    std::ostringstream checks;
    fw::check::listChecks(checks);
    QString text = QStringLiteral(
        "Checks a data-provider library against the ABI of dataprovider_abi.h and prints one\n"
        "TAP line per check. LIBRARY is a path or a name for the dynamic linker; without it,\n"
        "FLEETWRIGHT_PROVIDER, else the installed library, as the program loads it.\n"
        "Each group of checks runs against the library in a process of its own: a crash or a\n"
        "hang fails that check only. Nothing is written to a module without --write, and\n"
        "the base station's channel is left as it was found. A check whose property\n"
        "could not be exercised is skipped with the reason. The contract: man 7\n"
        "fleetwright-provider.\n"
        "Exit status: 0 every check passed, 1 a check failed, 2 the library could not be\n"
        "loaded or created, or a usage error; after SIGINT, SIGTERM or SIGHUP (\"Bail out!\"),\n"
        "128 plus the signal's number.\n\nChecks (name, what it checks, option):\n");
    std::istringstream lines(checks.str());
    for (std::string line; std::getline(lines, line);)
        text += QStringLiteral("  ") +
                QString::fromStdString(line).replace(QLatin1Char('\t'), QStringLiteral("  ")) +
                QLatin1Char('\n');
    return text;
}

} // namespace

int main(int argc, char **argv) {
    // Before anything is opened, so that no report line lands in a file by mistake.
    fw::host::openStandardDescriptors();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("fleetwright-provider-check"));
    QCoreApplication::setApplicationVersion(QStringLiteral(FW_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(helpText());
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption moduleOption(
        QStringLiteral("module"),
        QStringLiteral("Also check a live module; the operator power-cycles modules when "
                       "asked."));
    const QCommandLineOption writeOption(
        QStringLiteral("write"),
        QStringLiteral("With --module: also make an update's writes: the values just read, "
                       "then save (55) and reset (54); then run the program's own updates and "
                       "put the module's values back."));
    const QCommandLineOption listOption(QStringLiteral("list"),
                                        QStringLiteral("Print the checks without running them."));
    parser.addOptions({moduleOption, writeOption, listOption});
    parser.addPositionalArgument(QStringLiteral("LIBRARY"),
                                 QStringLiteral("The data-provider library to check."),
                                 QStringLiteral("[LIBRARY]"));

    const auto usageError = [](const QString &message) {
        std::cerr << "fleetwright-provider-check: " << message.toStdString()
                  << "\nTry 'fleetwright-provider-check --help'.\n";
        return int{fw::check::kCannotCheck};
    };
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(helpOption))
        parser.showHelp(0);
    if (parser.isSet(versionOption))
        parser.showVersion();
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1)
        return usageError(QStringLiteral("only one library can be checked at a time"));
    if (parser.isSet(writeOption) && !parser.isSet(moduleOption))
        return usageError(QStringLiteral("--write needs --module"));
    if (parser.isSet(listOption)) {
        fw::check::listChecks(std::cout);
        return fw::check::kAllPassed;
    }

    fw::check::Options options;
    options.host = fw::providerHostExecutable();
    options.library = fw::resolveProviderLibrary(
        positional.isEmpty() ? std::nullopt : std::optional(positional.first().toStdString()));
    options.module = parser.isSet(moduleOption);
    options.write = parser.isSet(writeOption);
    fw::host::adoptOrphansOfHosts();
    fw::check::catchInterruptions();
    return fw::check::runChecks(options, std::cout);
}
