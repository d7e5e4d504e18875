#include "saved_entries.h"

#include "user_folders.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QStringList>
#include <QTemporaryFile>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <variant>

namespace fw::app {

namespace {
// The per-user settings of an application: its own file in the user's config folder, by the
// same rule as every other per-user file of the program.
QString userFileOf(const QString &applicationName) {
    return QFile::decodeName(QByteArray::fromStdString(userFolder("XDG_CONFIG_HOME", ".config"))) +
           u'/' + applicationName + u'/' + applicationName + QStringLiteral(".conf");
}

// Why an existing path cannot hold settings; nothing when it is a regular file or missing.
// Checked before QSettings opens it, which would wait forever on a named pipe.
std::optional<QString> notAFile(const QString &path) {
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return std::nullopt; // missing, or a link to nothing yet: saving creates it
    if (S_ISDIR(status.st_mode))
        return QStringLiteral("it is a folder");
    if (!S_ISREG(status.st_mode))
        return QStringLiteral("it is not a regular file");
    return std::nullopt;
}
} // namespace

// An explicit file rather than the application's name: QSettings would then also read the
// organisation's file and the system-wide ones (a named pipe there hangs start-up) and copy
// their groups into the operator's file at the next save.
QSettingsStore::QSettingsStore(const QString &applicationName)
    : QSettingsStore(inFile(userFileOf(applicationName))) {}

QSettingsStore::QSettingsStore(const QString &fileName, const Opener &open)
    : fileName_(fileName), unreadable_(notAFile(fileName)) {
    if (unreadable_)
        return;
    settings_ = open();
    fileName_ = settings_->fileName();
    // QSettings reads what it can and takes a file it cannot open for an empty one; saving
    // over it would then drop everything the operator kept there.
    QFile file(fileName_);
    if (QFileInfo::exists(fileName_) && !file.open(QIODevice::ReadOnly))
        unreadable_ = file.errorString();
}

QSettingsStore QSettingsStore::inFile(const QString &path) {
    return QSettingsStore(
        path, [&path] { return std::make_unique<QSettings>(path, QSettings::IniFormat); });
}

namespace {
QString keyPath(const QString &key) {
    if (key.contains(u'/'))
        return key;
    return QLatin1String(keys::kSection) + u'/' + key;
}
} // namespace

std::optional<QString> QSettingsStore::read(const QString &key) const {
    const QString path = keyPath(key);
    if (const auto found = written_.find(path); found != written_.end())
        return found->second;
    if (!settings_ || !settings_->contains(path))
        return std::nullopt;
    const QVariant value = settings_->value(path);
    // An entry edited by hand with an unquoted comma comes back as a list.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(u',');
    if (!value.canConvert<QString>())
        return std::nullopt;
    return value.toString();
}

void QSettingsStore::write(const QString &key, const QString &text) {
    written_[keyPath(key)] = text;
}

namespace {
// Every key with its value as text: enough to tell a file that was cut short, whatever
// types hand-edited entries carry.
using Texts = std::map<QString, QString>;

void addText(Texts &texts, const QString &key, const QVariant &value) {
    if (value.typeId() == QMetaType::QStringList)
        texts[key] = QStringLiteral("list:") + value.toStringList().join(QChar(0));
    else
        texts[key] = value.toString();
}

// The file holds UTF-8, which has no form for half a surrogate pair (a hand-written
// "\xd800"): such text cannot come back as it was, so it is written as the replacement
// character it would become anyway, and the file still reads back as written.
QString carried(const QString &text) {
    return text.isValidUtf16() ? text : QString::fromUtf8(text.toUtf8());
}

QVariant carried(const QVariant &value) {
    if (value.typeId() == QMetaType::QString)
        return carried(value.toString());
    if (value.typeId() == QMetaType::QStringList) {
        QStringList texts = value.toStringList();
        for (QString &text : texts)
            text = carried(text);
        return texts;
    }
    return value;
}

using Values = std::map<QString, QVariant>;

// Reads a settings file as it is on disk: a copy under a name of its own, since QSettings
// keeps what it read or wrote for a file name and may answer from that instead. A file in a
// form QSettings cannot read whole gives what it could read, unless it must be whole.
std::optional<Values> readValues(const QString &path, bool whole) {
    QTemporaryFile copy(path + QStringLiteral(".check-XXXXXX"));
    QFile original(path);
    if (!copy.open() || !original.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = original.readAll();
    if (original.error() != QFileDevice::NoError || copy.write(bytes) != bytes.size() ||
        !copy.flush())
        return std::nullopt;
    const QSettings settings(copy.fileName(), QSettings::IniFormat);
    if (whole && settings.status() != QSettings::NoError)
        return std::nullopt;
    Values values;
    for (const QString &key : settings.allKeys())
        values[key] = settings.value(key);
    return values;
}

std::optional<Texts> readBack(const QString &path) {
    const std::optional<Values> values = readValues(path, true);
    if (!values)
        return std::nullopt;
    Texts texts;
    for (const auto &[key, value] : *values)
        addText(texts, key, value);
    return texts;
}

// The file that path names: the last target of a symbolic link, so that a save replaces
// what the link points to and the link stays. Empty for a loop of links.
std::optional<QString> fileBehind(const QString &path) {
    constexpr int kMostLinks = 40; // as the kernel allows
    QString current = path;
    for (int links = 0; links <= kMostLinks; ++links) {
        const QFileInfo info(current);
        if (!info.isSymLink())
            return current;
        current = info.symLinkTarget();
    }
    return std::nullopt;
}

// The permission bits the new file gets: those of the file it replaces, or owner-only.
mode_t modeFor(const QString &path) {
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) == 0)
        return status.st_mode & 07777;
    return S_IRUSR | S_IWUSR;
}

QString systemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

// The longest name a save puts beside a file: its temporary copies and QSettings' lock.
constexpr int kLongestSuffix = sizeof ".check-XXXXXX" - 1;

// Whether the file system takes path's name with the suffixes of a save; the name alone may
// fit where those do not.
bool nameFits(const QString &path) {
    const QFileInfo info(path);
    long most = ::pathconf(QFile::encodeName(info.path()).constData(), _PC_NAME_MAX);
    if (most <= 0)
        most = NAME_MAX;
    return QFile::encodeName(info.fileName()).size() + kLongestSuffix <= most;
}

// Another program saving the same file (another run, or any program that saves it through
// QSettings, which takes the same lock) is done in a moment; one that holds it for longer is
// stuck, and must not hold up the close.
constexpr std::chrono::seconds kLockPatience(2);

QString lockFailure(const QLockFile &lock) {
    switch (lock.error()) {
    case QLockFile::LockFailedError:
        return QStringLiteral("another program keeps it locked");
    case QLockFile::PermissionError:
        return QStringLiteral("no lock file can be made beside it");
    case QLockFile::NoError:
    case QLockFile::UnknownError:
        break;
    }
    return QStringLiteral("it cannot be locked");
}

// What the file holds at the close, so that a save keeps every group and key another program
// put there since start-up; empty for a file that is not there. A file that is there but
// cannot be read gives the reason instead.
std::variant<Values, QString> currentValues(const QString &path) {
    if (const std::optional<QString> why = notAFile(path))
        return *why;
    if (!QFileInfo::exists(path))
        return Values{};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("it cannot be read now (%1), and saving would lose what it holds")
            .arg(file.errorString());
    file.close();
    std::optional<Values> values = readValues(path, false);
    if (!values)
        return QStringLiteral(
            "no copy of it can be read beside it (a full disk or a file size limit)");
    return std::move(*values);
}
} // namespace

FlushResult QSettingsStore::flush() {
    if (unreadable_)
        return FlushResult::failed(
            QStringLiteral("it could not be read at start-up (%1), and saving would lose what it "
                           "holds")
                .arg(*unreadable_));
    const std::optional<QString> behind = fileBehind(fileName_);
    if (!behind)
        return FlushResult::failed(QStringLiteral("its symbolic links form a loop"));
    // QSettings takes a write cut short (a full disk, a file size limit) for success and puts
    // the cut file in place of the good one. So the new content goes to a file beside the
    // one it replaces, is read back, and replaces it only when it came out whole.
    const QString path = *behind;
    if (!nameFits(fileName_) || !nameFits(path))
        return FlushResult::failed(QStringLiteral("its name is longer than the file system takes"));
    const QFileInfo target(path);
    if (target.exists() && target.isDir())
        return FlushResult::failed(QStringLiteral("it is a folder"));
    if (target.exists() && !target.isFile())
        return FlushResult::failed(QStringLiteral("it is not a regular file"));
    if (target.exists() && !target.isWritable())
        return FlushResult::failed(QStringLiteral("it is read-only"));
    if (!QDir().mkpath(target.path()))
        return FlushResult::failed(QStringLiteral("its folder cannot be created"));
    // The file is read again and replaced under one lock, so that nothing another program
    // saves in between is lost.
    QLockFile lock(fileName_ + QStringLiteral(".lock"));
    if (!lock.tryLock(kLockPatience))
        return FlushResult::failed(lockFailure(lock));
    std::variant<Values, QString> current = currentValues(path);
    if (const QString *why = std::get_if<QString>(&current))
        return FlushResult::failed(*why);
    Values content;
    for (const auto &[key, value] : std::get<Values>(current))
        if (!key.isEmpty()) // a stray "=" line in the file; QSettings cannot write it back
            content[key] = carried(value);
    for (const auto &[key, text] : written_)
        content[key] = carried(text);

    QTemporaryFile next(path + QStringLiteral(".new-XXXXXX"));
    if (!next.open())
        return FlushResult::failed(
            QStringLiteral("no new file can be made beside it (%1)").arg(next.errorString()));
    next.close();
    FlushResult incomplete = FlushResult::failed(
        QStringLiteral("the new file came out incomplete (a full disk or a file size limit)"));
    Texts expected; // as the writer holds it, keys in its own spelling
    {
        QSettings writer(next.fileName(), QSettings::IniFormat);
        for (const auto &[key, value] : content)
            writer.setValue(key, value);
        for (const QString &key : writer.allKeys())
            addText(expected, key, writer.value(key));
        writer.sync();
        if (writer.status() != QSettings::NoError)
            return incomplete;
    }
    if (readBack(next.fileName()) != expected)
        return incomplete;
    if (::chmod(QFile::encodeName(next.fileName()).constData(), modeFor(path)) != 0 ||
        std::rename(QFile::encodeName(next.fileName()).constData(),
                    QFile::encodeName(path).constData()) != 0)
        return FlushResult::failed(systemError());
    next.setAutoRemove(false);
    written_.clear();
    settings_->sync(); // nothing of its own to write: it reads the new file
    return {};
}

namespace {

// Parsers of the stored forms; empty when the text is not a valid value.
std::optional<bool> parseTruthValue(const QString &text) {
    const QString trimmed = text.trimmed();
    if (trimmed.compare(u"True", Qt::CaseInsensitive) == 0)
        return true;
    if (trimmed.compare(u"False", Qt::CaseInsensitive) == 0)
        return false;
    // Any number counts, fractions included: only zero is false.
    bool ok = false;
    const double number = trimmed.toDouble(&ok);
    if (!ok || !std::isfinite(number))
        return std::nullopt;
    return number != 0;
}

// The stored form of a truth value, which parseTruthValue() reads back.
QString truthText(bool value) {
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

std::optional<int> parseListPosition(const QString &text, int listSize) {
    bool ok = false;
    const int position = text.trimmed().toInt(&ok);
    if (!ok || position < -1 || position >= listSize)
        return std::nullopt;
    return position;
}

} // namespace

Entries readEntries(const SettingsStore &store) {
    Entries entries;
    const auto text = [&store](const char *key) { return store.read(QLatin1String(key)); };

    if (const auto stored = text(keys::kDirection))
        entries.changeChannel = parseTruthValue(*stored).value_or(entries.changeChannel);
    if (const auto stored = text(keys::kRFChannel))
        entries.rfChannelPosition =
            parseListPosition(*stored, kChannelCount).value_or(entries.rfChannelPosition);
    if (const auto stored = text(keys::kTXInterval))
        entries.txInterval = stored->toStdString();
    if (const auto stored = text(keys::kSampleTime))
        entries.sampleTime = stored->toStdString();
    if (const auto stored = text(keys::kSleepDelay))
        entries.sleepDelay = stored->toStdString();
    if (const auto stored = text(keys::kLowPowerMode))
        entries.lowPowerModePosition =
            parseListPosition(*stored, kLowPowerModeCount).value_or(entries.lowPowerModePosition);
    if (const auto stored = text(keys::kVerifyAfterWriting))
        entries.verifyAfterWriting = parseTruthValue(*stored).value_or(entries.verifyAfterWriting);
    if (const auto stored = text(keys::kNextModuleAutomatically))
        entries.nextModuleAutomatically =
            parseTruthValue(*stored).value_or(entries.nextModuleAutomatically);
    return entries;
}

std::optional<int> storedChannelPosition(const SettingsStore &store) {
    const std::optional<QString> stored = store.read(QLatin1String(keys::kRFChannel));
    if (!stored)
        return std::nullopt;
    const std::optional<int> position = parseListPosition(*stored, kChannelCount);
    if (position == -1)
        return std::nullopt;
    return position;
}

void writeEntries(SettingsStore &store, const Entries &entries) {
    store.write(QLatin1String(keys::kDirection), truthText(entries.changeChannel));
    store.write(QLatin1String(keys::kRFChannel), QString::number(entries.rfChannelPosition));
    store.write(QLatin1String(keys::kTXInterval), QString::fromStdString(entries.txInterval));
    store.write(QLatin1String(keys::kSampleTime), QString::fromStdString(entries.sampleTime));
    store.write(QLatin1String(keys::kSleepDelay), QString::fromStdString(entries.sleepDelay));
    store.write(QLatin1String(keys::kLowPowerMode), QString::number(entries.lowPowerModePosition));
    store.write(QLatin1String(keys::kVerifyAfterWriting), truthText(entries.verifyAfterWriting));
    store.write(QLatin1String(keys::kNextModuleAutomatically),
                truthText(entries.nextModuleAutomatically));
}

} // namespace fw::app
