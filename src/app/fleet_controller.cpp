#include "fleet_controller.h"

#include "data_provider.h"

namespace fw::app {

FleetController::FleetController(SettingsStore &store, WindowPort &window, EntryTarget &target,
                                 UpdateObserver *observer)
    : store_(store), window_(window), target_(target), observer_(observer) {}

FleetController::~FleetController() {
    // The sequences refer to the provider.
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
    return true;
}

bool FleetController::updating() const {
    return update_ && update_->running();
}

void FleetController::runUpdate(const UpdateOptions &options) {
    if (update_)
        update_->run(options);
}

void FleetController::runRead() {
    if (read_)
        read_->run();
}

void FleetController::shutDown(const Entries &entries) {
    if (!provider_)
        return;
    shutDownBegun_ = true;
    update_.reset();
    read_.reset();
    app::shutDown(provider_, store_, entries, window_);
}

void FleetController::saveEntriesUnlessSaved(const Entries &entries) {
    if (provider_ && !shutDownBegun_)
        saveEntries(store_, entries);
}

} // namespace fw::app
