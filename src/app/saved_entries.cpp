#include "saved_entries.h"

#include <QStringList>

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
    settings_->setValue(keyPath(key), text);
}

bool QSettingsStore::flush() {
    settings_->sync();
    return settings_->status() == QSettings::NoError;
}

std::optional<bool> parseTruthValue(const QString &text) {
    const QString trimmed = text.trimmed();
    if (trimmed.compare(u"True", Qt::CaseInsensitive) == 0)
        return true;
    if (trimmed.compare(u"False", Qt::CaseInsensitive) == 0)
        return false;
    bool ok = false;
    const qlonglong number = trimmed.toLongLong(&ok);
    if (!ok)
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
