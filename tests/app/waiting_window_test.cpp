// The window while the base station keeps it waiting: it paints and answers, holds the
// operator's input until the update's event point, and never loses a close.

#include "app_test_support.h"
#include "data_provider.h"
#include "main_frm.h"
#include "messages.h"
#include "off_thread.h"
#include "provider_thread.h"
#include "support/named_rows.h"
#include "support/window_system_input.h"
#include "update_record.h"
#include "x_tab.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <array>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace fw::app {
namespace {

using namespace std::chrono_literals;
using fw::testing::PrintTo;
using fw::testing::queueClick;
using fw::testing::queueClose;
using fw::testing::queueKeyPress;
using testing::MapStore;

// A base station with one module, whose pairing waits until the test lets it go. Every
// call is logged with the thread it ran on.
class Station {
public:
    uint32_t moduleId = 0x12AB;
    // Runs on the provider thread inside the named call, before it answers.
    std::function<void(const std::string &call)> during = [](const std::string &) {};

    ProviderFactory factory() {
        return [this] {
            log("create");
            return std::make_unique<Provider>(*this);
        };
    }
    void releasePairing() { gate_.set_value(); }
    bool pairing() const { return pairing_; }
    std::vector<std::string> calls() const {
        const std::lock_guard lock(mutex_);
        return calls_;
    }
    std::string lastCall() const {
        const std::lock_guard lock(mutex_);
        return calls_.empty() ? "" : calls_.back();
    }
    std::set<std::thread::id> threads() const {
        const std::lock_guard lock(mutex_);
        return threads_;
    }
    bool gated = true;

private:
    class Provider final : public DataProvider {
    public:
        explicit Provider(Station &station) : s_(station) {}
        ~Provider() override { s_.log("destroy"); }
        int16_t OpenConnection(int32_t, int32_t) override {
            s_.log("open");
            return 0;
        }
        void CloseConnection() override { s_.log("close"); }
        int32_t ProbeProvider() override {
            s_.log("probe");
            return 0;
        }
        uint8_t GetBaseChannel(int32_t) override {
            s_.log("channel");
            return 2;
        }
        void SetBaseChannel(int32_t, uint8_t) override { s_.log("set channel"); }
        void PairModule(int32_t, int32_t, int32_t, uint32_t &moduleId, int32_t &) override {
            s_.log("pair");
            s_.pairing_ = true;
            if (s_.gated)
                s_.gate_.get_future().wait();
            s_.pairing_ = false;
            moduleId = s_.moduleId;
        }
        int16_t WriteModuleCommand(uint8_t, uint32_t, uint8_t command,
                                   const std::string &) override {
            s_.log("write " + std::to_string(command));
            return 0;
        }
        int16_t ReadModuleCommand(uint8_t, uint32_t, uint8_t command, std::string &value) override {
            s_.log("read " + std::to_string(command));
            value = "RX-LC";
            return 0;
        }

    private:
        Station &s_;
    };

    void log(const std::string &call) {
        {
            const std::lock_guard lock(mutex_);
            calls_.push_back(call);
            threads_.insert(std::this_thread::get_id());
        }
        during(call);
    }

    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
    std::set<std::thread::id> threads_;
    std::promise<void> gate_;
    std::atomic<bool> pairing_{false};
};

// Which input reached the window, and what the base station had last been asked then.
class InputLog : public QObject {
public:
    bool armed = true;
    std::map<QEvent::Type, std::string> deliveredAfter;
    std::function<std::string()> lastCall;

protected:
    bool eventFilter(QObject *, QEvent *event) override {
        const QEvent::Type type = event->type();
        if (armed && (type == QEvent::KeyPress || type == QEvent::MouseButtonPress) &&
            !deliveredAfter.contains(type))
            deliveredAfter[type] = lastCall();
        return false;
    }
};

class Waiting : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
        for (QWidget *widget : QApplication::topLevelWidgets())
            EXPECT_FALSE(widget->isVisible()) << widget->metaObject()->className();
    }

    void start(MessagePresenter presenter) {
        window = std::make_unique<MainFrm>(store, std::move(presenter));
        ASSERT_TRUE(window->load(station.factory(), QStringLiteral("fleetwright")));
        window->findChild<XTab *>()->setActiveTab(0);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    QPushButton &updateButton() const {
        return *window->findChild<QPushButton *>(QStringLiteral("Command1"));
    }

    Station station;
    MapStore store;
    std::unique_ptr<MainFrm> window;
    std::vector<Message> shown;
};

TEST_F(Waiting, TheWindowStaysAliveDuringPairingAndInputWaitsForTheEventPoint) {
    start([this](QWidget *, const Message &message) {
        shown.push_back(message);
        return MessageButton::Ok;
    });
    const std::thread::id windowThread = std::this_thread::get_id();

    // While the module is awaited, a key press and a click on Update arrive; the test's
    // timer must keep running, and after a few of its ticks the module wakes.
    InputLog input;
    input.armed = false;
    input.lastCall = [this] { return station.lastCall(); };
    qApp->installEventFilter(&input);
    int ticksWhilePairing = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (!station.pairing())
            return;
        if (ticksWhilePairing++ == 0) {
            input.armed = true;
            queueKeyPress(*window, Qt::Key_5, QStringLiteral("5"));
            queueClick(*window, updateButton());
        } else if (ticksWhilePairing == 5) {
            // The provider thread may take a tick or more to return on a busy machine.
            ticker.stop();
            station.releasePairing();
        }
    });
    ticker.start(10ms);
    QTest::mouseClick(&updateButton(), Qt::LeftButton);
    qApp->removeEventFilter(&input);

    EXPECT_EQ(ticksWhilePairing, 5);
    EXPECT_EQ(shown, std::vector<Message>{messages::updateComplete("RX-LC", 0x12AB)});
    // Both waited for the one point where the update processes events: after the save
    // command, before the reset. The click found the update running and did nothing.
    EXPECT_EQ(input.deliveredAfter,
              (std::map<QEvent::Type, std::string>{{QEvent::KeyPress, "write 55"},
                                                   {QEvent::MouseButtonPress, "write 55"}}));

    window->close();
    EXPECT_EQ(station.calls(),
              (std::vector<std::string>{"create", "probe", "open", "channel", "channel", "pair",
                                        "read 51", "write 55", "write 54", "close", "destroy"}));
    ASSERT_EQ(station.threads().size(), 1u);
    EXPECT_NE(*station.threads().begin(), windowThread);
}

struct CloseCase {
    const char *name;
    uint32_t moduleId;
    const char *closeDuring; // the call during which the window manager asks to close
    Message ending;
};

class CloseDuringAnUpdate : public Waiting, public ::testing::WithParamInterface<CloseCase> {};

QMessageBox *shownBox() {
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible())
            return box;
    return nullptr;
}

// A modal box would drop a close that reached the window only while the final box was up,
// and the operator would have to close it again.
TEST_P(CloseDuringAnUpdate, IsCarriedOutOnceAfterTheFinalMessage) {
    const std::string closeDuring = GetParam().closeDuring;
    QWindow *handle = nullptr;
    start([this, &handle, &closeDuring](QWidget *parent, const Message &message) {
        shown.push_back(message);
        QTimer dismiss;
        QObject::connect(&dismiss, &QTimer::timeout, [&] {
            if (QMessageBox *box = shownBox())
                box->button(QMessageBox::Ok)->click();
        });
        dismiss.start(200ms);
        if (closeDuring == "box")
            QTimer::singleShot(50ms, [handle] { queueClose(handle); });
        return showMessageBox(parent, message);
    });
    handle = window->windowHandle();
    station.gated = false;
    station.moduleId = GetParam().moduleId;
    station.during = [&](const std::string &call) {
        if (call != closeDuring)
            return;
        if (call == "pair") {
            queueClose(handle);
            std::this_thread::sleep_for(200ms);
        } else {
            // Ask once the update has moved on into its pause.
            QMetaObject::invokeMethod(
                qApp, [handle] { QTimer::singleShot(300ms, [handle] { queueClose(handle); }); },
                Qt::QueuedConnection);
        }
    };
    QSignalSpy closed(window.get(), &MainFrm::closed);
    QTest::mouseClick(&updateButton(), Qt::LeftButton);

    EXPECT_EQ(shown, std::vector<Message>{GetParam().ending});
    EXPECT_EQ(closed.count(), 1);
    EXPECT_EQ(window->controller().provider(), nullptr);
    EXPECT_EQ(store.flushes, 1);
    EXPECT_FALSE(window->isVisible());
}

INSTANTIATE_TEST_SUITE_P(Window, CloseDuringAnUpdate,
                         ::testing::Values(CloseCase{"WhilePairingFindsNoModule", 0, "pair",
                                                     messages::notPaired()},
                                           CloseCase{"InThePauseAfterTheSave", 0x12AB, "write 55",
                                                     messages::updateComplete("RX-LC", 0x12AB)},
                                           CloseCase{"WhileTheFinalBoxIsUp", 0x12AB, "box",
                                                     messages::updateComplete("RX-LC", 0x12AB)}),
                         fw::testing::RowName());

TEST(ProviderThread, HandsBackResultsAndErrorStatusesWhole) {
    ProviderThread thread;
    EXPECT_NE(thread.run([] { return std::this_thread::get_id(); }), std::this_thread::get_id());
    EXPECT_EQ(thread.run([] { return std::string("RX-LC"); }), "RX-LC");
    try {
        thread.run([] { throw ProviderError(-2147023729, "The base station was unplugged"); });
        FAIL() << "no error arrived";
    } catch (const ProviderError &error) {
        EXPECT_EQ(error.code(), -2147023729);
        EXPECT_EQ(error.description(), "The base station was unplugged");
    }
}

TEST(PauseFor, LastsItsTimeServingTimersWhileInputWaits) {
    QWidget window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    InputLog input;
    bool paused = true;
    input.lastCall = [&] { return std::string(paused ? "pausing" : "after"); };
    window.installEventFilter(&input);
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20ms);
    queueKeyPress(window, Qt::Key_A, QStringLiteral("a"));

    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpuStart = std::clock();
    pauseFor(300ms);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    const double cpuSeconds = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    paused = false;
    QCoreApplication::processEvents();

    EXPECT_GE(elapsed, 300ms);
    EXPECT_LT(cpuSeconds, 0.05);
    EXPECT_GE(ticks, 5);
    EXPECT_EQ(input.deliveredAfter,
              (std::map<QEvent::Type, std::string>{{QEvent::KeyPress, "after"}}));
}

// A wait that starts inside another (an event served during the first) holds the loop the
// outer one needs: each must end once its own condition holds and a wake comes, in any order.
TEST(EventWaits, EveryWaitEndsWhenItsConditionHoldsAlsoWhenNested) {
    for (const bool outerFirst : {true, false}) {
        SCOPED_TRACE(outerFirst ? "outer done first" : "inner done first");
        std::atomic<bool> outerDone = false;
        std::atomic<bool> innerDone = false;
        std::thread setter([&] {
            for (std::atomic<bool> *flag : outerFirst ? std::array{&outerDone, &innerDone}
                                                      : std::array{&innerDone, &outerDone}) {
                std::this_thread::sleep_for(100ms);
                *flag = true;
                wakeEventWaits();
            }
        });
        bool innerReturned = false;
        QTimer::singleShot(10ms, [&] {
            serveEventsUntil([&] { return innerDone.load(); });
            innerReturned = true;
        });
        const auto start = std::chrono::steady_clock::now();
        serveEventsUntil([&] { return outerDone.load() && innerReturned; },
                         start + std::chrono::seconds(5));
        const auto elapsed = std::chrono::steady_clock::now() - start;
        setter.join();
        EXPECT_TRUE(innerReturned);
        EXPECT_LT(elapsed, std::chrono::seconds(2));
    }
}

TEST(EventWaits, AWaitWhoseConditionNeverHoldsEndsAtItsDeadline) {
    const auto start = std::chrono::steady_clock::now();
    serveEventsUntil([] { return false; }, start + 200ms);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, 200ms);
    EXPECT_LT(elapsed, 1500ms);
}

TEST(UpdateRecord, TheWindowServesItsEventsWhileTheLineWaitsForAnotherProgramsLock) {
    QTemporaryDir dir;
    const QByteArray file = QFile::encodeName(dir.filePath(QStringLiteral("updates.csv")));
    const int holder = ::open(file.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    std::thread release([holder] {
        std::this_thread::sleep_for(400ms);
        ::flock(holder, LOCK_UN);
    });
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(10ms);

    record::UpdateRecord record(file.toStdString(), false, runServingEvents);
    EXPECT_EQ(record.updateEnding({}), std::nullopt);
    release.join();
    ::close(holder);

    EXPECT_GE(ticks, 10);
    QFile written(QFile::decodeName(file));
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll().count('\n'), 2); // the header and the line
}

} // namespace
} // namespace fw::app
