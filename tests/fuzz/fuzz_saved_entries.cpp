// Whatever texts the store holds, start-up must restore entries the controls can take,
// keep the free texts as they were, and the restored entries must survive a save and a
// restore, through memory and, when the input asks for it, through an INI file.
//
// Input: one byte whose bits 0 to 5 say which of the six keys are present (in the order
// Direction, RFChannel, TXInterval, SampleTime, SleepDelay, LowPowerMode) and whose bit 6
// adds the file round trip; then the stored texts as UTF-8, separated by 0xFF bytes.
#include "saved_entries.h"
#include "support/map_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

using fw::app::Entries;

using fw::testing::MapStore;

constexpr std::array<const char *, 6> kKeys{
    fw::app::keys::kDirection,  fw::app::keys::kRFChannel,  fw::app::keys::kTXInterval,
    fw::app::keys::kSampleTime, fw::app::keys::kSleepDelay, fw::app::keys::kLowPowerMode};
constexpr uint8_t kFileRoundTrip = 0x40;
constexpr uint8_t kSeparator = 0xFF;

[[noreturn]] void fail(const char *what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

void checkText(const MapStore &store, const char *key, const QString &restored,
               const QString &fallback) {
    const std::optional<QString> stored = store.read(QLatin1String(key));
    if (restored != stored.value_or(fallback))
        fail("a free text was not restored as stored");
}

const QDir &scratchDir() {
    // Files in memory when the machine has a place for them: a disk makes every sync slow.
    static const QTemporaryDir dir(QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                                       ? QStringLiteral("/dev/shm/fw-fuzz-saved-entries-XXXXXX")
                                       : QDir::tempPath() + QStringLiteral("/fw-fuzz-XXXXXX"));
    if (!dir.isValid())
        fail("no scratch directory");
    static const QDir path(dir.path());
    return path;
}

// Saves through the INI store, then restores from a copy of the file that no store has
// opened yet, so that the text goes through the file's parser and not a cache.
Entries throughFile(const Entries &entries) {
    static unsigned serial = 0;
    const QString written = scratchDir().filePath(QStringLiteral("written.ini"));
    const QString copy = scratchDir().filePath(QStringLiteral("read-%1.ini").arg(++serial));
    {
        auto store = fw::app::QSettingsStore::inFile(written);
        fw::app::writeEntries(store, entries);
        if (!store.flush())
            fail("the INI store could not be flushed");
    }
    QFile::remove(copy);
    if (!QFile::copy(written, copy))
        fail("the INI file could not be copied");
    Entries restored = fw::app::readEntries(fw::app::QSettingsStore::inFile(copy));
    QFile::remove(copy);
    return restored;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    const uint8_t flags = data[0];
    MapStore stored;
    size_t start = 1;
    for (size_t i = 0; i < kKeys.size() && start <= size; ++i) {
        size_t end = start;
        while (end < size && data[end] != kSeparator)
            ++end;
        if (flags & (1u << i))
            stored.values[QLatin1String(kKeys[i])] = QString::fromUtf8(
                reinterpret_cast<const char *>(data + start), static_cast<qsizetype>(end - start));
        start = end + 1;
    }

    const Entries defaults;
    const Entries entries = fw::app::readEntries(stored);
    if (entries.rfChannelPosition < -1 || entries.rfChannelPosition >= fw::app::kChannelCount)
        fail("RF channel position outside its list");
    if (entries.lowPowerModePosition < -1 ||
        entries.lowPowerModePosition >= fw::app::kLowPowerModeCount)
        fail("low power mode position outside its list");
    checkText(stored, fw::app::keys::kTXInterval, entries.txInterval, defaults.txInterval);
    checkText(stored, fw::app::keys::kSampleTime, entries.sampleTime, defaults.sampleTime);
    checkText(stored, fw::app::keys::kSleepDelay, entries.sleepDelay, defaults.sleepDelay);

    MapStore saved;
    fw::app::writeEntries(saved, entries);
    for (const char *key : kKeys)
        if (!saved.values.contains(QLatin1String(key)))
            fail("saving did not write all six keys");
    if (fw::app::readEntries(saved) != entries)
        fail("restored entries do not survive a save and a restore");
    if ((flags & kFileRoundTrip) && throughFile(entries) != entries)
        fail("restored entries do not survive a save and a restore through an INI file");
    return 0;
}
