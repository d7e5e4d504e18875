#include "provider_thread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <QThread>
#include <chrono>

namespace fw {

struct ProviderThread::Waiting {
    std::promise<void> ran;
    std::shared_future<void> ready = ran.get_future().share();
    QEventLoop *loop = nullptr; // touched only on the waiting thread
};

ProviderThread::ProviderThread()
    : waker_(std::make_unique<QObject>()), thread_([this] { serve(); }) {}

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
    QObject *waker = waker_.get();
    post([task = std::move(task), waiting, waker] {
        task();
        waiting->ran.set_value();
        // Quits the loop of whichever wait is still under way on the waiting thread; a
        // wait that has already returned has cleared its loop.
        QMetaObject::invokeMethod(
            waker,
            [waiting] {
                if (waiting->loop)
                    waiting->loop->quit();
            },
            Qt::QueuedConnection);
    });
    return waiting;
}

void ProviderThread::waitServingEvents(const std::shared_ptr<Waiting> &waiting) {
    const auto ran = [&] {
        return waiting->ready.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    };
    // Only a thread with Qt's event loop has events to serve.
    if (QCoreApplication::instance() && QThread::currentThread() == waker_->thread()) {
        QEventLoop loop;
        waiting->loop = &loop;
        // exec() refuses to start (-1) once the application is exiting; then only blocking
        // is left.
        while (!ran() && loop.exec(QEventLoop::ExcludeUserInputEvents) != -1) {
        }
        waiting->loop = nullptr;
    }
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
    void PairModule(int32_t arg1, int32_t channelMode, int32_t windowSeconds,
                    uint32_t &moduleId) override {
        thread_->run([&] { provider_->PairModule(arg1, channelMode, windowSeconds, moduleId); });
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

std::unique_ptr<DataProvider>
createOnProviderThread(const std::function<std::unique_ptr<DataProvider>()> &make) {
    auto thread = std::make_unique<ProviderThread>();
    auto provider = thread->run([&] { return make(); });
    if (!provider)
        return nullptr;
    return std::make_unique<ThreadedProvider>(std::move(thread), std::move(provider));
}

} // namespace fw
