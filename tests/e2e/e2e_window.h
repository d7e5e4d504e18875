#pragma once

#include "app/app_test_support.h"
#include "data_provider.h"
#include "device/sim_environment.h"
#include "fwsim.h"
#include "library_provider.h"
#include "main_frm.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace fw::app::e2e {

// The simulator's record of the calls made since the last fwsim_clear_call_log().
inline std::string callLog() {
    std::string log(static_cast<size_t>(fwsim_call_log(nullptr, 0)) + 1, '\0');
    log.resize(static_cast<size_t>(fwsim_call_log(log.data(), log.size())));
    return log;
}

inline std::string moduleValue(uint32_t id, uint8_t command, bool saved) {
    char value[64];
    return fwsim_module_value(id, command, saved ? 1 : 0, value, sizeof value) < 0 ? "<unknown>"
                                                                                   : value;
}

// The real window on the simulated base station, loaded through the real loader, with
// every message recorded together with whether the busy pointer was still up.
class SimulatedWindow {
public:
    explicit SimulatedWindow(SettingsStore &store, UpdateObserver *observer = nullptr)
        : window(store, recorder(), observer) {}

    bool load() {
        return window.load([] { return createDataProvider(FW_SIMULATOR); },
                           QStringLiteral("fleetwright"));
    }

    void show() {
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    void clickUpdate() {
        shown.clear();
        pointerAtMessage.clear();
        QTest::mouseClick(&control<QPushButton>(window, "Command1"), Qt::LeftButton);
    }

    QString status() const { return control<QLabel>(window, "Found").text(); }

    MainFrm window;
    std::vector<Message> shown;
    std::vector<bool> pointerAtMessage; // true: an override cursor was up

private:
    MessagePresenter recorder() {
        return [this](QWidget *, const Message &message) {
            shown.push_back(message);
            pointerAtMessage.push_back(QGuiApplication::overrideCursor() != nullptr);
            return MessageButton::Ok;
        };
    }
};

} // namespace fw::app::e2e
