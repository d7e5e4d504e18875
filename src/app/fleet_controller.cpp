#include "fleet_controller.h"

#include "data_provider.h"

namespace fw::app {

FleetController::FleetController(SettingsStore &store, WindowPort &window, EntryTarget &target,
                                 UpdateObserver *observer, ContinuousRun::Remark remark)
    : store_(store), window_(window), target_(target), observer_(observer),
      remark_(std::move(remark)) {}

FleetController::~FleetController() {
    // The sequences refer to the provider, the run to the update.
    run_.reset();
    update_.reset();
    read_.reset();
}

bool FleetController::load(const ProviderFactory &createProvider, std::string_view applicationName,
                           EntrySource source) {
    provider_ = startUp(createProvider, store_, applicationName, target_, window_, source);
    if (!provider_)
        return false;
    update_ = std::make_unique<UpdateSequence>(*provider_, window_, session_, observer_);
    read_ = std::make_unique<ReadSequence>(*provider_, window_, session_, observer_);
    run_ = std::make_unique<ContinuousRun>(*update_, window_, remark_);
    return true;
}

bool FleetController::updating() const {
    return (update_ && update_->running()) || runningContinuously();
}

void FleetController::runUpdate(const UpdateOptions &options) {
    if (update_ && !runningContinuously())
        update_->run(options);
}

void FleetController::runContinuously(const UpdateOptions &options) {
    if (run_ && !update_->running())
        run_->run(options);
}

void FleetController::stopRun() {
    if (run_)
        run_->stop();
}

void FleetController::runRead() {
    // A click taken between two modules of a run waits for the run to end.
    if (read_ && !runningContinuously())
        read_->run();
}

void FleetController::shutDown(const Entries &entries) {
    if (!provider_)
        return;
    shutDownBegun_ = true;
    run_.reset();
    update_.reset();
    read_.reset();
    app::shutDown(provider_, store_, entries, window_);
}

void FleetController::saveEntriesUnlessSaved(const Entries &entries) {
    if (provider_ && !shutDownBegun_)
        saveEntries(store_, entries);
}

} // namespace fw::app
