#pragma once

#include "continuous_run.h"
#include "read_sequence.h"
#include "saved_entries.h"
#include "startup.h"
#include "update_sequence.h"

#include <memory>
#include <string_view>

namespace fw {
class DataProvider;
class UpdateObserver;
class WindowPort;
} // namespace fw

namespace fw::app {

// What the window's buttons set going: start-up, updates and shutdown, over the provider it
// owns. The form shows and reads; this decides what happens with the base station.
class FleetController {
public:
    // observer, when given, hears of every update (the update record, the session list);
    // remark says what a continuous run adds to a module's note.
    FleetController(SettingsStore &store, WindowPort &window, EntryTarget &target,
                    UpdateObserver *observer = nullptr, ContinuousRun::Remark remark = {});
    ~FleetController();
    FleetController(const FleetController &) = delete;
    FleetController &operator=(const FleetController &) = delete;

    // Start-up; false when the program must end (the operator has been told why). source
    // says whether the store is a job profile.
    bool load(const ProviderFactory &createProvider, std::string_view applicationName,
              EntrySource source = EntrySource::PerUserStore);
    // The provider while the base station is the program's; null before start-up, after a
    // start-up that failed and after shutdown.
    DataProvider *provider() const { return provider_.get(); }
    // Whether an update, a Read or a continuous run is under way (events run inside one).
    bool updating() const;
    // One update; nothing before start-up or while an update or a Read runs.
    void runUpdate(const UpdateOptions &options = {});
    // Updates module after module until stopped; on the same terms.
    void runContinuously(const UpdateOptions &options = {});
    bool runningContinuously() const { return run_ && run_->running(); }
    // Ends a continuous run once the module under way is done with; nothing without one.
    void stopRun();
    // One Read, on the same terms.
    void runRead();
    // Saves the entries and releases the base station; nothing when none was opened.
    void shutDown(const Entries &entries);
    // Saves the entries unless shutdown has, for a program that ends without it; nothing
    // before start-up has opened the base station, whose entries they would replace.
    void saveEntriesUnlessSaved(const Entries &entries);

private:
    SettingsStore &store_;
    WindowPort &window_;
    EntryTarget &target_;
    UpdateObserver *observer_;
    ContinuousRun::Remark remark_;
    ModuleSession session_;
    std::unique_ptr<DataProvider> provider_;
    std::unique_ptr<UpdateSequence> update_;
    std::unique_ptr<ReadSequence> read_;
    std::unique_ptr<ContinuousRun> run_;
    bool shutDownBegun_ = false;
};

} // namespace fw::app
