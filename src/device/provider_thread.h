#pragma once

#include "data_provider.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>

namespace fw {

// How a thread passes the time while the provider thread works for it. The window's side
// serves its event loop meanwhile; without a waiter the caller simply blocks.
class CallWaiter {
public:
    virtual ~CallWaiter() = default;
    // Serves the calling thread's events until done() holds, or returns early when this
    // thread has none to serve (the caller then blocks for the rest).
    virtual void serveUntil(const std::function<bool()> &done) = 0;
    // Makes every serveUntil() under way look at done() again; called from any thread.
    virtual void wake() = 0;
};

// One thread of its own for every call into the data-provider library: the library may
// block for seconds (pairing waits up to its whole window, a USB stack may hang), and the
// window's thread must go on painting and answering the window manager meanwhile.
//
// run() hands work to that thread and returns its result, rethrowing what it threw. While
// it waits, the waiter serves the calling thread (the window's waiter serves everything but
// user input: paints, timers, the window manager's messages, queued calls).
class ProviderThread {
public:
    explicit ProviderThread(std::shared_ptr<CallWaiter> waiter = nullptr);
    // Finishes the work already handed over, then ends the thread.
    ~ProviderThread();
    ProviderThread(const ProviderThread &) = delete;
    ProviderThread &operator=(const ProviderThread &) = delete;

    template <typename Work> std::invoke_result_t<Work &> run(Work &&work) {
        using Result = std::invoke_result_t<Work &>;
        auto task = std::make_shared<std::packaged_task<Result()>>(std::forward<Work>(work));
        std::future<Result> result = task->get_future();
        waitServingEvents(enqueue([task] { (*task)(); }));
        return result.get();
    }

    // Hands the task over without waiting for it.
    void post(std::function<void()> task);

private:
    struct Waiting;
    using Task = std::function<void()>;

    // Queues the task; the returned state turns done once it has run.
    std::shared_ptr<Waiting> enqueue(Task task);
    void waitServingEvents(const std::shared_ptr<Waiting> &waiting);
    void serve();

    std::shared_ptr<CallWaiter> waiter_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> queue_;
    bool stopping_ = false;
    std::thread thread_;
};

// A provider being made on a new provider thread while the caller goes on with other work
// (the window is built meanwhile). take() waits for it through the waiter and returns it
// as createOnProviderThread does, rethrowing what make threw. A provider never taken is
// released when this goes.
class ProviderInTheMaking {
public:
    ProviderInTheMaking(std::function<std::unique_ptr<DataProvider>()> make,
                        std::shared_ptr<CallWaiter> waiter = nullptr);
    ~ProviderInTheMaking();
    ProviderInTheMaking(const ProviderInTheMaking &) = delete;
    ProviderInTheMaking &operator=(const ProviderInTheMaking &) = delete;

    // Once only.
    std::unique_ptr<DataProvider> take();

private:
    std::unique_ptr<ProviderThread> thread_;
    std::future<std::unique_ptr<DataProvider>> made_;
};

// Makes a provider with make on a new provider thread and returns it wrapped, so that
// every later call and its release run on that thread too; the thread ends once the
// provider has been released. What make throws reaches the caller unchanged. The caller
// waits for each call through waiter, or blocks without one.
std::unique_ptr<DataProvider>
createOnProviderThread(const std::function<std::unique_ptr<DataProvider>()> &make,
                       std::shared_ptr<CallWaiter> waiter = nullptr);

} // namespace fw
