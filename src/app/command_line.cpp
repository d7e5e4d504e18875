#include "command_line.h"

#include "version.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <unistd.h>

namespace fw::app {

namespace {

const QString kProgram = QStringLiteral("fleetwright");

QString versionNumber() {
    return QStringLiteral("%1.%2.%3")
        .arg(version::kMajor)
        .arg(version::kMinor)
        .arg(version::kPatch);
}

// The options every Qt program takes, with one dash or two; those with a value take the
// argument after them. Style, style sheet and debugger also come as one "-style=name".
struct ToolkitOption {
    QLatin1String name;
    bool valued;
};

const ToolkitOption kToolkitOptions[] = {
    {QLatin1String("platform"), true},
    {QLatin1String("platformpluginpath"), true},
    {QLatin1String("platformtheme"), true},
    {QLatin1String("plugin"), true},
    {QLatin1String("qwindowgeometry"), true},
    {QLatin1String("qwindowicon"), true},
    {QLatin1String("qwindowtitle"), true},
    {QLatin1String("session"), true},
    {QLatin1String("display"), true},
    {QLatin1String("geometry"), true},
    {QLatin1String("title"), true},
    {QLatin1String("icon"), true},
    {QLatin1String("name"), true},
    {QLatin1String("style"), true},
    {QLatin1String("stylesheet"), true},
    {QLatin1String("reverse"), false},
    {QLatin1String("widgetcount"), false},
    {QLatin1String("testability"), false},
    {QLatin1String("sync"), false},
    {QLatin1String("nograb"), false},
    {QLatin1String("dograb"), false},
};

const ToolkitOption *toolkitOption(const QString &argument) {
    if (!argument.startsWith(u'-'))
        return nullptr;
    const QStringView name = QStringView(argument).mid(argument.startsWith(u"--") ? 2 : 1);
    static const ToolkitOption joined{QLatin1String(), false};
    for (const char *prefix : {"style=", "stylesheet=", "qmljsdebugger="})
        if (name.startsWith(QLatin1String(prefix)))
            return &joined;
    for (const ToolkitOption &option : kToolkitOptions)
        if (name == option.name)
            return &option;
    return nullptr;
}

// The arguments without Qt's options, whose positions go to toolkit. The value of one of
// the program's own options is never taken for an option of Qt's ("--profile -platform"
// names a profile).
QStringList ownArguments(const QStringList &arguments, const QList<QCommandLineOption> &options,
                         QList<int> &toolkit) {
    QStringList valued;
    for (const QCommandLineOption &option : options)
        if (!option.valueName().isEmpty())
            for (const QString &name : option.names())
                valued << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
    QStringList own = arguments.mid(0, 1);
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (argument == u"--") {
            own << arguments.mid(i);
            break;
        }
        if (valued.contains(argument)) {
            own << arguments.mid(i, 2);
            ++i;
        } else if (const ToolkitOption *option = toolkitOption(argument)) {
            toolkit << i;
            if (option->valued && i + 1 < arguments.size())
                toolkit << ++i;
        } else {
            own << argument;
        }
    }
    return own;
}

// A file name from the command line as the file system knows it, made absolute.
std::string absoluteName(const QString &argument) {
    std::string name = argument.toLatin1().toStdString();
    if (name.starts_with('/'))
        return name;
    std::string folder(4096, '\0');
    while (::getcwd(folder.data(), folder.size()) == nullptr && errno == ERANGE)
        folder.resize(folder.size() * 2);
    folder.resize(std::char_traits<char>::length(folder.c_str()));
    return folder + '/' + name;
}

CommandLine answer(CommandLine::Action action, QString output) {
    CommandLine command;
    command.action = action;
    command.output = std::move(output);
    return command;
}

CommandLine refusal(const QString &problem) {
    return answer(CommandLine::Action::Refuse, kProgram + QStringLiteral(": ") + problem +
                                                   QStringLiteral(" Try '") + kProgram +
                                                   QStringLiteral(" --help'.\n"));
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
        "(~/.local/state/fleetwright/updates.csv) unless --record or --no-record say otherwise.\n"
        "The options every Qt program takes (-platform, -style, -display, -reverse, ...)\n"
        "work here too."));
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
    const QList<QCommandLineOption> options = {help,     version,  profile,  record,
                                               noRecord, provider, simulator};
    parser.addOptions(options);

    QList<int> toolkit;
    if (!parser.parse(ownArguments(arguments, options, toolkit)))
        return refusal(parser.errorText());
    if (parser.isSet(help))
        return answer(CommandLine::Action::Help, helpText(parser));
    if (parser.isSet(version))
        return answer(CommandLine::Action::Version, kProgram + u' ' + versionNumber() + u'\n');
    if (!parser.positionalArguments().isEmpty())
        return refusal(QStringLiteral("Unexpected argument '%1'.")
                           .arg(parser.positionalArguments().constFirst()));
    if (parser.isSet(record) && parser.isSet(noRecord))
        return refusal(QStringLiteral("--record and --no-record cannot be used together."));
    if (parser.isSet(provider) && parser.isSet(simulator))
        return refusal(QStringLiteral("--provider and --simulator cannot be used together."));
    for (const QString &name : {QStringLiteral("profile"), QStringLiteral("record")})
        if (parser.values(name).size() > 1)
            return refusal(QStringLiteral("--%1 can be given only once.").arg(name));

    CommandLine command;
    command.toolkitArguments = toolkit;
    if (parser.isSet(profile)) {
        const QString file = parser.value(profile);
        if (file.isEmpty())
            return refusal(QStringLiteral("--profile needs a file name."));
        // The store opens files by text; a name the locale cannot carry would open another.
        const QByteArray name = QByteArray::fromStdString(absoluteName(file));
        command.profile = QFile::decodeName(name);
        if (QFile::encodeName(*command.profile) != name)
            return refusal(QStringLiteral("--profile: the name '%1' cannot be used in this "
                                          "locale.")
                               .arg(file));
    }
    if (parser.isSet(noRecord)) {
        command.record = CommandLine::Record::None;
    } else if (parser.isSet(record)) {
        const QString file = parser.value(record);
        if (file.isEmpty())
            return refusal(QStringLiteral("--record needs a file name."));
        command.record = CommandLine::Record::File;
        command.recordPath = absoluteName(file);
    }
    if (parser.isSet(provider)) {
        const QString library = parser.value(provider);
        if (library.isEmpty())
            return refusal(QStringLiteral("--provider needs a file name."));
        command.provider = library.toLatin1().toStdString();
    }
    command.simulator = parser.isSet(simulator);
    return command;
}

QStringList argumentsOf(int argc, const char *const *argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLatin1(argv[i]));
    return arguments;
}

std::vector<char *> toolkitArgv(const CommandLine &command, char **argv) {
    std::vector<char *> kept{argv[0]};
    for (const int position : command.toolkitArguments)
        kept.push_back(argv[position]);
    kept.push_back(nullptr);
    return kept;
}

int answerWithoutWindow(const CommandLine &command) {
    // Names from the command line go back out as the bytes they came in as.
    const QByteArray text = command.output.toLatin1();
    const bool refused = command.action == CommandLine::Action::Refuse;
    std::FILE *stream = refused ? stderr : stdout;
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stream);
    std::fflush(stream);
    return refused ? kUsageExit : 0;
}

} // namespace fw::app
