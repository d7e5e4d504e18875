#pragma once

#include "entries.h"
#include "module_protocol.h"

#include <QSettings>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace fw::app {

// Sizes of the two lists; a stored position must fit them (-1 meaning no selection).
inline constexpr int kChannelCount = fw::kChannelCount;
inline constexpr int kLowPowerModeCount = 3;

// The section and keys of the saved entries, spelled as the store keeps them.
namespace keys {
inline constexpr const char *kSection = "Settings";
inline constexpr const char *kDirection = "Direction";
inline constexpr const char *kRFChannel = "RFChannel";
inline constexpr const char *kTXInterval = "TXInterval";
inline constexpr const char *kSampleTime = "SampleTime";
inline constexpr const char *kSleepDelay = "SleepDelay";
inline constexpr const char *kLowPowerMode = "LowPowerMode";
// The options, in a section of their own, so that the six entries of kSection stay as they
// are: a key that names its section ("Options/...") is kept there.
inline constexpr const char *kVerifyAfterWriting = "Options/VerifyAfterWriting";
inline constexpr const char *kNextModuleAutomatically = "Options/NextModuleAutomatically";
} // namespace keys

// What a flush did; false when the writes could not be stored, and then why.
struct FlushResult {
    bool stored = true;
    QString reason; // a phrase that follows "could not be saved in FILE: "

    explicit operator bool() const { return stored; }
    static FlushResult failed(const QString &why) { return {false, why}; }
};

// Text values by key within the "Settings" section, or within the section a key names before
// a "/".
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // Empty optional when the key is absent; a present but empty entry is an empty text.
    virtual std::optional<QString> read(const QString &key) const = 0;
    virtual void write(const QString &key, const QString &text) = 0;
    // Flushes the writes.
    virtual FlushResult flush() = 0;
    // Where the entries are kept, as the operator would look for them.
    virtual QString location() const { return {}; }
    // Why a store that exists could not be read when it was opened; empty when it could,
    // or when there was none. A store that could not be read is never written.
    virtual std::optional<QString> unreadable() const { return std::nullopt; }
};

// The per-user store, addressed by the application name: NAME/NAME.conf in the user's config
// folder, and no other file. Writes reach the file on flush only, and only whole: under a
// lock, the file as it is then is read again, the writes go into it, and it is replaced by a
// complete new one or left as it was, so that what other programs saved since start-up
// stays. A symbolic link stays a link (its target is replaced) and an existing file keeps
// its permissions; a new one is readable by its owner only.
class QSettingsStore final : public SettingsStore {
public:
    explicit QSettingsStore(const QString &applicationName);
    // A store in an explicit file, for tools and tests.
    static QSettingsStore inFile(const QString &path);

    std::optional<QString> read(const QString &key) const override;
    void write(const QString &key, const QString &text) override;
    FlushResult flush() override;
    QString location() const override { return fileName(); }
    std::optional<QString> unreadable() const override { return unreadable_; }

    QString fileName() const { return fileName_; }

private:
    using Opener = std::function<std::unique_ptr<QSettings>()>;
    QSettingsStore(const QString &fileName, const Opener &open);
    QString fileName_;
    // The file as start-up read it; only ever read, so it never writes by itself; none when
    // the file is not one.
    std::unique_ptr<QSettings> settings_;
    std::map<QString, QString> written_; // by key path, until a flush stores them
    std::optional<QString> unreadable_;
};

// Reads the six entries and the options; a missing entry, or one its control cannot take,
// gives the default.
Entries readEntries(const SettingsStore &store);
// Writes the six entries and the options as texts, in the order start-up reads them.
void writeEntries(SettingsStore &store, const Entries &entries);
// The channel list position the store keeps when it names a channel; none when the entry is
// missing, is not a position of the list, or is -1 (no selection).
std::optional<int> storedChannelPosition(const SettingsStore &store);

} // namespace fw::app
