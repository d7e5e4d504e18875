#include "command_line.h"

#include "version.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <cstdio>

namespace fw::app {

namespace {

const QString kProgram = QStringLiteral("fleetwright");

QString versionNumber() {
    return QStringLiteral("%1.%2.%3")
        .arg(version::kMajor)
        .arg(version::kMinor)
        .arg(version::kPatch);
}

CommandLine refusal(const QString &problem) {
    CommandLine command;
    command.action = CommandLine::Action::Refuse;
    command.output = kProgram + QStringLiteral(": ") + problem + QStringLiteral(" Try '") +
                     kProgram + QStringLiteral(" --help'.\n");
    return command;
}

// Qt's usage line names the executable only once an application object exists.
QString helpText(const QCommandLineParser &parser) {
    QString text = parser.helpText();
    text.remove(0, text.indexOf(u'\n') + 1);
    return QStringLiteral("Usage: %1 [options]\n").arg(kProgram) + text;
}

} // namespace

CommandLine parseCommandLine(const QStringList &arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Configures wireless acquisition modules, one at a time, through a USB base station.\n"
        "Every update is recorded in $XDG_STATE_HOME/fleetwright/updates.csv\n"
        "(~/.local/state/fleetwright/updates.csv) unless --record or --no-record say otherwise."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help and ends."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Shows the version and ends."));
    const QCommandLineOption profile(
        QStringLiteral("profile"),
        QStringLiteral("Reads the entries from <file> at start and writes them back to it at the "
                       "end, instead of the per-user settings."),
        QStringLiteral("file"));
    const QCommandLineOption record(QStringLiteral("record"),
                                    QStringLiteral("Records the updates in <file>."),
                                    QStringLiteral("file"));
    const QCommandLineOption noRecord(QStringLiteral("no-record"),
                                      QStringLiteral("Keeps no record of the updates."));
    const QCommandLineOption provider(
        QStringLiteral("provider"),
        QStringLiteral("Loads the data-provider library <file> instead of the maker's."),
        QStringLiteral("file"));
    const QCommandLineOption simulator(
        QStringLiteral("simulator"),
        QStringLiteral("Works with the simulated base station installed with the program."));
    parser.addOptions({help, version, profile, record, noRecord, provider, simulator});

    if (!parser.parse(arguments))
        return refusal(parser.errorText());
    if (parser.isSet(help))
        return {CommandLine::Action::Help, helpText(parser), {}, {}, {}, {}, false};
    if (parser.isSet(version))
        return {CommandLine::Action::Version,
                kProgram + u' ' + versionNumber() + u'\n',
                {},
                {},
                {},
                {},
                false};
    if (!parser.positionalArguments().isEmpty())
        return refusal(QStringLiteral("Unexpected argument '%1'.")
                           .arg(parser.positionalArguments().constFirst()));
    if (parser.isSet(record) && parser.isSet(noRecord))
        return refusal(QStringLiteral("--record and --no-record cannot be used together."));
    if (parser.isSet(provider) && parser.isSet(simulator))
        return refusal(QStringLiteral("--provider and --simulator cannot be used together."));

    CommandLine command;
    if (parser.isSet(profile)) {
        const QString file = parser.value(profile);
        if (file.isEmpty())
            return refusal(QStringLiteral("--profile needs a file name."));
        command.profile = QFileInfo(file).absoluteFilePath();
    }
    if (parser.isSet(noRecord)) {
        command.record = CommandLine::Record::None;
    } else if (parser.isSet(record)) {
        const QString file = parser.value(record);
        if (file.isEmpty())
            return refusal(QStringLiteral("--record needs a file name."));
        command.record = CommandLine::Record::File;
        command.recordPath = QFileInfo(file).absoluteFilePath();
    }
    if (parser.isSet(provider)) {
        const QString library = parser.value(provider);
        if (library.isEmpty())
            return refusal(QStringLiteral("--provider needs a file name."));
        command.provider = library;
    }
    command.simulator = parser.isSet(simulator);
    return command;
}

QStringList argumentsOf(int argc, const char *const *argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

int answerWithoutWindow(const CommandLine &command) {
    const QByteArray text = command.output.toLocal8Bit();
    const bool refused = command.action == CommandLine::Action::Refuse;
    std::FILE *stream = refused ? stderr : stdout;
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stream);
    std::fflush(stream);
    return refused ? kUsageExit : 0;
}

} // namespace fw::app
