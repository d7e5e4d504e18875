#pragma once

#include "saved_entries.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace fw {
class DataProvider;
class WindowPort;
} // namespace fw

namespace fw::app {

using ProviderFactory = std::function<std::unique_ptr<DataProvider>()>;

// Exit status of a program that ended during start-up.
inline constexpr int kStartupFailedExit = 1;

// The controls start-up fills before the window is shown.
class EntryTarget {
public:
    virtual ~EntryTarget() = default;
    virtual void setVersionText(const QString &text) = 0;
    virtual void applyEntries(const Entries &entries) = 0;
    // -1 leaves the channel list with no selection.
    virtual void selectChannelPosition(int position) = 0;
    // Whether the loaded library emulates a base station, as its probe says.
    virtual void setSimulatedBaseStation(bool simulated) = 0;
};

// Where the entries start-up restores are kept: the per-user store, or a job profile
// (--profile), which is saved for one job and so keeps that job's channel.
enum class EntrySource { PerUserStore, Profile };

// The window's caption, "document - application" as desktops show it: the profile's file
// name when the entries live in one, then the program's name, which says when the base
// station is the simulated one.
QString windowCaption(const std::optional<QString> &profilePath, bool simulated);

// List position of a base station channel: channel n at n - 1, -1 when the list has none.
int channelPosition(uint8_t baseChannel);

// Creates and probes the provider, shows the version, restores the entries, opens the base
// station and selects its channel; only a job profile whose strategy moves the modules
// (Direction 1) keeps the channel it saved instead, when that is one of the list's, and the
// next update sets the base station to it. Returns the open provider, or nothing after the
// operator has been told why the program cannot go on.
std::unique_ptr<DataProvider> startUp(const ProviderFactory &createProvider,
                                      const SettingsStore &store, std::string_view applicationName,
                                      EntryTarget &target, WindowPort &window,
                                      EntrySource source = EntrySource::PerUserStore);

// Writes the entries and flushes the store.
FlushResult saveEntries(SettingsStore &store, const Entries &entries);

// Saves the entries, closes the base station, lets it settle for a second and releases it,
// all under the busy pointer. Never refuses: the program is ending.
void shutDown(std::unique_ptr<DataProvider> &provider, SettingsStore &store, const Entries &entries,
              WindowPort &window);

// Returns after at least duration on the monotonic clock. Meanwhile the window goes on
// painting and answering the window manager, but user input stays queued.
void pauseFor(std::chrono::milliseconds duration);

} // namespace fw::app
