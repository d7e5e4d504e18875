#include "provider_thread.h"

#include <chrono>

namespace fw {

struct ProviderThread::Waiting {
    std::promise<void> ran;
    std::shared_future<void> ready = ran.get_future().share();
};

ProviderThread::ProviderThread(std::shared_ptr<CallWaiter> waiter)
    : waiter_(std::move(waiter)), thread_([this] { serve(); }) {}

ProviderThread::~ProviderThread() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void ProviderThread::post(Task task) {
    {
        const std::lock_guard lock(mutex_);
        queue_.push_back(std::move(task));
    }
    wake_.notify_one();
}

std::shared_ptr<ProviderThread::Waiting> ProviderThread::enqueue(Task task) {
    auto waiting = std::make_shared<Waiting>();
    post([task = std::move(task), waiting, waiter = waiter_.get()] {
        task();
        waiting->ran.set_value();
        if (waiter)
            waiter->wake();
    });
    return waiting;
}

void ProviderThread::waitServingEvents(const std::shared_ptr<Waiting> &waiting) {
    if (waiter_)
        waiter_->serveUntil([&] {
            return waiting->ready.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        });
    waiting->ready.wait();
}

void ProviderThread::serve() {
    for (;;) {
        Task task;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty())
                return;
            task = std::move(queue_.front());
            queue_.pop_front();
        }
        task();
    }
}

namespace {

// Forwards every call to the provider on its own thread.
class ThreadedProvider final : public DataProvider {
public:
    ThreadedProvider(std::unique_ptr<ProviderThread> thread, std::unique_ptr<DataProvider> provider)
        : thread_(std::move(thread)), provider_(std::move(provider)) {}

    // The release runs on the provider thread, which then ends; the caller blocks for it,
    // since the window may be going away and must not handle events meanwhile.
    ~ThreadedProvider() override {
        std::shared_ptr<DataProvider> released = std::move(provider_);
        thread_->post([released = std::move(released)]() mutable { released.reset(); });
        thread_.reset();
    }

    ThreadedProvider(const ThreadedProvider &) = delete;
    ThreadedProvider &operator=(const ThreadedProvider &) = delete;

    int16_t OpenConnection(int32_t arg1, int32_t arg2) override {
        return thread_->run([&] { return provider_->OpenConnection(arg1, arg2); });
    }
    void CloseConnection() override {
        thread_->run([&] { provider_->CloseConnection(); });
    }
    int32_t ProbeProvider() override {
        return thread_->run([&] { return provider_->ProbeProvider(); });
    }
    uint8_t GetBaseChannel(int32_t arg1) override {
        return thread_->run([&] { return provider_->GetBaseChannel(arg1); });
    }
    void SetBaseChannel(int32_t arg1, uint8_t channel) override {
        thread_->run([&] { provider_->SetBaseChannel(arg1, channel); });
    }
    void PairModule(int32_t arg1, int32_t channelMode, int32_t windowSeconds, uint32_t &moduleId,
                    int32_t &extra) override {
        thread_->run(
            [&] { provider_->PairModule(arg1, channelMode, windowSeconds, moduleId, extra); });
    }
    int16_t WriteModuleCommand(uint8_t arg1, uint32_t moduleId, uint8_t command,
                               const std::string &payload) override {
        return thread_->run(
            [&] { return provider_->WriteModuleCommand(arg1, moduleId, command, payload); });
    }
    int16_t ReadModuleCommand(uint8_t arg1, uint32_t moduleId, uint8_t command,
                              std::string &value) override {
        return thread_->run(
            [&] { return provider_->ReadModuleCommand(arg1, moduleId, command, value); });
    }

private:
    std::unique_ptr<ProviderThread> thread_;
    std::unique_ptr<DataProvider> provider_;
};

} // namespace

ProviderInTheMaking::ProviderInTheMaking(std::function<std::unique_ptr<DataProvider>()> make,
                                         std::shared_ptr<CallWaiter> waiter)
    : thread_(std::make_unique<ProviderThread>(std::move(waiter))) {
    auto task =
        std::make_shared<std::packaged_task<std::unique_ptr<DataProvider>()>>(std::move(make));
    made_ = task->get_future();
    thread_->post([task] { (*task)(); });
}

ProviderInTheMaking::~ProviderInTheMaking() {
    if (!thread_ || !made_.valid())
        return;
    // The provider is released on its own thread, as every provider is.
    auto made = std::make_shared<std::future<std::unique_ptr<DataProvider>>>(std::move(made_));
    thread_->post([made] {
        try {
            made->get().reset();
        } catch (...) { // NOLINT(bugprone-empty-catch): what make threw goes unheard
        }
    });
    thread_.reset();
}

std::unique_ptr<DataProvider> ProviderInTheMaking::take() {
    // Waiting for a call on the provider thread waits for the making queued before it.
    auto provider = thread_->run([this] { return made_.get(); });
    if (!provider) {
        thread_.reset();
        return nullptr;
    }
    return std::make_unique<ThreadedProvider>(std::move(thread_), std::move(provider));
}

std::unique_ptr<DataProvider>
createOnProviderThread(const std::function<std::unique_ptr<DataProvider>()> &make,
                       std::shared_ptr<CallWaiter> waiter) {
    return ProviderInTheMaking(make, std::move(waiter)).take();
}

} // namespace fw
