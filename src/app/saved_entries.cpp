#include "saved_entries.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryFile>
#include <cmath>
#include <cstdio>

namespace fw::app {

QSettingsStore::QSettingsStore(const QString &applicationName)
    : QSettingsStore(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                                 applicationName, applicationName)) {}

QSettingsStore::QSettingsStore(std::unique_ptr<QSettings> settings)
    : settings_(std::move(settings)) {}

QSettingsStore QSettingsStore::inFile(const QString &path) {
    return QSettingsStore(std::make_unique<QSettings>(path, QSettings::IniFormat));
}

namespace {
QString keyPath(const QString &key) {
    return QLatin1String(keys::kSection) + u'/' + key;
}
} // namespace

std::optional<QString> QSettingsStore::read(const QString &key) const {
    const QString path = keyPath(key);
    if (const auto found = written_.find(path); found != written_.end())
        return found->second;
    if (!settings_->contains(path))
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
    texts[key] = value.toString();
}

// Reads a settings file as it is on disk: a copy under a name of its own, since QSettings
// keeps what it wrote for a file name and would answer from that instead.
std::optional<Texts> readBack(const QString &path) {
    QTemporaryFile copy(path + QStringLiteral(".check-XXXXXX"));
    QFile original(path);
    if (!copy.open() || !original.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = original.readAll();
    if (original.error() != QFileDevice::NoError || copy.write(bytes) != bytes.size() ||
        !copy.flush())
        return std::nullopt;
    const QSettings settings(copy.fileName(), QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        return std::nullopt;
    Texts texts;
    for (const QString &key : settings.allKeys())
        addText(texts, key, settings.value(key));
    return texts;
}
} // namespace

bool QSettingsStore::flush() {
    // QSettings takes a write cut short (a full disk, a file size limit) for success and puts
    // the cut file in place of the good one. So the new content goes to a file beside it,
    // is read back, and replaces the store only when it came out whole.
    const QString path = settings_->fileName();
    const QFileInfo target(path);
    if (target.exists() && (!target.isFile() || !target.isWritable()))
        return false;
    if (!QDir().mkpath(target.path()))
        return false;
    std::map<QString, QVariant> content;
    for (const QString &key : settings_->allKeys())
        if (!key.isEmpty()) // a stray "=" line in the file; QSettings cannot write it back
            content[key] = settings_->value(key);
    for (const auto &[key, text] : written_)
        content[key] = text;

    QTemporaryFile next(path + QStringLiteral(".new-XXXXXX"));
    if (!next.open())
        return false;
    next.close();
    Texts expected; // as the writer holds it, keys in its own spelling
    {
        QSettings writer(next.fileName(), QSettings::IniFormat);
        for (const auto &[key, value] : content)
            writer.setValue(key, value);
        for (const QString &key : writer.allKeys())
            addText(expected, key, writer.value(key));
        writer.sync();
        if (writer.status() != QSettings::NoError)
            return false;
    }
    if (readBack(next.fileName()) != expected)
        return false;
    if (std::rename(QFile::encodeName(next.fileName()).constData(),
                    QFile::encodeName(path).constData()) != 0)
        return false;
    next.setAutoRemove(false);
    written_.clear();
    settings_->sync(); // nothing of its own to write: it reads the new file
    return true;
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
        entries.txInterval = *stored;
    if (const auto stored = text(keys::kSampleTime))
        entries.sampleTime = *stored;
    if (const auto stored = text(keys::kSleepDelay))
        entries.sleepDelay = *stored;
    if (const auto stored = text(keys::kLowPowerMode))
        entries.lowPowerModePosition =
            parseListPosition(*stored, kLowPowerModeCount).value_or(entries.lowPowerModePosition);
    return entries;
}

void writeEntries(SettingsStore &store, const Entries &entries) {
    store.write(QLatin1String(keys::kDirection),
                entries.changeChannel ? QStringLiteral("True") : QStringLiteral("False"));
    store.write(QLatin1String(keys::kRFChannel), QString::number(entries.rfChannelPosition));
    store.write(QLatin1String(keys::kTXInterval), entries.txInterval);
    store.write(QLatin1String(keys::kSampleTime), entries.sampleTime);
    store.write(QLatin1String(keys::kSleepDelay), entries.sleepDelay);
    store.write(QLatin1String(keys::kLowPowerMode), QString::number(entries.lowPowerModePosition));
}

} // namespace fw::app
