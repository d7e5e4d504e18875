#include "startup.h"

#include "data_provider.h"
#include "dataprovider_abi.h"
#include "messages.h"
#include "off_thread.h"
#include "version.h"
#include "window_port.h"

#include <QFileInfo>
#include <thread>

namespace fw::app {

namespace {
QString versionText() {
    return QStringLiteral("v%1.%2.%3")
        .arg(version::kMajor)
        .arg(version::kMinor)
        .arg(version::kPatch);
}
// The per-user store follows the base station: it holds the operator's last run, whatever
// the job. A profile that leaves the modules' channel alone has no channel of its own.
int startingChannelPosition(EntrySource source, const SettingsStore &store, bool changeChannel,
                            uint8_t baseChannel) {
    if (source == EntrySource::Profile && changeChannel)
        if (const std::optional<int> kept = storedChannelPosition(store))
            return *kept;
    return channelPosition(baseChannel);
}

} // namespace

QString windowCaption(const std::optional<QString> &profilePath, bool simulated) {
    QString caption = QStringLiteral("Fleetwright");
    if (simulated)
        caption += QStringLiteral(" (simulated base station)");
    if (profilePath)
        caption = QFileInfo(*profilePath).fileName() + QStringLiteral(" \u2014 ") + caption;
    return caption;
}

int channelPosition(uint8_t baseChannel) {
    return isChannel(baseChannel) ? baseChannel - kChannelMin : -1;
}

std::unique_ptr<DataProvider> startUp(const ProviderFactory &createProvider,
                                      const SettingsStore &store, std::string_view applicationName,
                                      EntryTarget &target, WindowPort &window, EntrySource source) {
    std::unique_ptr<DataProvider> provider;
    try {
        provider = createProvider();
    } catch (const ProviderError &error) {
        // Most often the maker's library is simply not installed: say what to do about it.
        window.showMessage(
            error.kind() == ProviderError::Kind::CannotLoad
                ? messages::providerNotLoaded(applicationName, error.description(), error.code())
                : messages::providerNotRegistered(applicationName, error.description(),
                                                  error.code()));
        return nullptr;
    }
    int32_t probeResult = 0;
    try {
        probeResult = provider->ProbeProvider();
    } catch (const ProviderError &error) {
        window.showMessage(
            messages::providerNotRegistered(applicationName, error.description(), error.code()));
        return nullptr;
    }

    target.setSimulatedBaseStation(static_cast<uint32_t>(probeResult) == ZDP_PROBE_SIMULATED);
    target.setVersionText(versionText());
    const Entries entries = readEntries(store);
    target.applyEntries(entries);
    if (const std::optional<QString> why = store.unreadable())
        window.showMessage(
            messages::settingsUnreadable(store.location().toStdString(), why->toStdString()));

    bool open = false;
    try {
        open = provider->OpenConnection(0, 0) == 0;
    } catch (const ProviderError &) {
        open = false;
    }
    if (!open) {
        window.showMessage(messages::cannotOpenUsb());
        return nullptr;
    }

    uint8_t baseChannel = 0;
    try {
        baseChannel = provider->GetBaseChannel(1);
    } catch (const ProviderError &error) {
        // The base station opened but does not answer: without its channel the window
        // cannot work, so end here rather than show a window that cannot update.
        window.showMessage(messages::communicationFailure(error.description(), error.code()));
        try {
            provider->CloseConnection();
        } catch (const ProviderError &) {
        }
        return nullptr;
    }
    target.selectChannelPosition(
        startingChannelPosition(source, store, entries.changeChannel, baseChannel));
    return provider;
}

FlushResult saveEntries(SettingsStore &store, const Entries &entries) {
    writeEntries(store, entries);
    return store.flush();
}

void shutDown(std::unique_ptr<DataProvider> &provider, SettingsStore &store, const Entries &entries,
              WindowPort &window) {
    window.setBusyPointer();
    // An unwritable store loses this run's entries; the close goes on regardless, and the
    // operator hears of it once the base station is released.
    const FlushResult saved = saveEntries(store, entries);
    if (provider) {
        try {
            provider->CloseConnection();
        } catch (const ProviderError &) {
            // Nothing left to do about a base station that will not close: the object
            // is released below either way.
        }
    }
    window.pause(std::chrono::seconds(1));
    provider.reset();
    window.setDefaultPointer();
    if (!saved)
        window.showMessage(
            messages::entriesNotSaved(store.location().toStdString(), saved.reason.toStdString()));
}

void pauseFor(std::chrono::milliseconds duration) {
    const auto end = std::chrono::steady_clock::now() + duration;
    serveEventsUntil([] { return false; }, end);
    while (std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_until(end);
}

} // namespace fw::app
