#include "e2e_window.h"
#include "support/named_rows.h"
#include "update_record.h"
#include "x_tab.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <sys/stat.h>

namespace fw::app::e2e {
namespace {

const char *const kRecordHeader =
    "time,module_id,model,tab,channel,tx_interval_ms,"
    "sample_time_ms,sleep_delay_s,low_power_mode,outcome,message,verified";

using fw::testing::PrintTo;

using fw::testing::SimEnvironment;
using testing::MapStore;

constexpr uint32_t kModule = 0x1A2B3C;
// The base station, the module and the channel the operator picks all differ, so that
// changing the channel sets it and moves the module.
constexpr int kBaseChannel = 1;
constexpr int kModuleChannel = 3;
constexpr int kChosenChannel = 7;
const std::string kFleet = "1A2B3C:RX-LC:3:1000:10:60:0";

const Message kComplete{"Model: RX-LC\r\nID: 1A2B3C\r\nCompleted OK", "Update Complete",
                        MessageIcon::None};

enum class Tab { General, Acquisition };

// The parameter boxes as the operator leaves them; "" is a blank box. lowPower is the
// list position: 0 "Leave As Is", 1 "No", 2 "Yes".
struct Form {
    const char *tx, *sample, *sleep;
    int lowPower;
};
const Form kUntouched{"333", "5", "0", 0};

class Update : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr); }

    // Starts the window on fleet and sets it up; faults apply from the first update on.
    void start(const std::string &fleet, Tab tab, bool changeChannel, const Form &form,
               const std::string &faults = "") {
        sim.set("FLEETWRIGHT_SIM_FLEET", fleet);
        sim.set("FLEETWRIGHT_SIM_CHANNEL", std::to_string(kBaseChannel));
        ui = std::make_unique<SimulatedWindow>(store, observer);
        ASSERT_TRUE(ui->load());
        ui->show();
        const QWidget &window = ui->window;
        ui->window.Direction[changeChannel ? 1 : 0]->click();
        control<QComboBox>(window, "RFChannel").setCurrentIndex(kChosenChannel - 1);
        control<XTab>(window, "XTab").setActiveTab(tab == Tab::General ? 0 : 1);
        control<QLineEdit>(window, "txInterval").setText(form.tx);
        control<QLineEdit>(window, "SampleTime").setText(form.sample);
        control<QLineEdit>(window, "SleepDelay").setText(form.sleep);
        control<QComboBox>(window, "LowPowerMode").setCurrentIndex(form.lowPower);
        ASSERT_EQ(fwsim_set_faults(faults.c_str()), 0) << faults;
        fwsim_clear_call_log();
    }

    // One message, shown under the default pointer, and the window idle again.
    void expectEndedWith(const Message &message) {
        EXPECT_EQ(ui->shown, std::vector<Message>{message});
        EXPECT_EQ(ui->pointerAtMessage, std::vector<bool>{false});
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
        EXPECT_EQ(ui->status(), "");
    }

    SimEnvironment sim;
    MapStore store;
    UpdateObserver *observer = nullptr; // set before start() to watch the updates
    std::unique_ptr<SimulatedWindow> ui;
};

struct Strategy {
    const char *name;
    bool changeChannel;
    int baseChannelAfter;
    int moduleChannelAfter;
};

class GeneralTab : public Update, public ::testing::WithParamInterface<Strategy> {};

TEST_P(GeneralTab, CompletesAndHandlesTheChannelAsChosen) {
    start(kFleet, Tab::General, GetParam().changeChannel, kUntouched);
    ui->clickUpdate();
    expectEndedWith(kComplete);
    EXPECT_EQ(fwsim_base_channel(), GetParam().baseChannelAfter);
    EXPECT_EQ(fwsim_module_channel(kModule), GetParam().moduleChannelAfter);
    EXPECT_EQ(fwsim_is_open(), 1);
}

INSTANTIATE_TEST_SUITE_P(Strategies, GeneralTab,
                         ::testing::Values(Strategy{"Leave", false, kBaseChannel, kModuleChannel},
                                           Strategy{"Change", true, kChosenChannel,
                                                    kChosenChannel}),
                         fw::testing::RowName());

TEST_F(Update, TheAcquisitionTabSavesTheEnteredParametersAndLeavesTheBlankOnes) {
    start("1A2B3C:RX-LC:3:1000:17:45:0", Tab::Acquisition, false, {"0333", "", "", 2});
    ui->clickUpdate();
    expectEndedWith(kComplete);
    const std::vector<std::string> saved{
        moduleValue(kModule, 76, true), moduleValue(kModule, 78, true),
        moduleValue(kModule, 77, true), moduleValue(kModule, 75, true)};
    EXPECT_EQ(saved, (std::vector<std::string>{"333", "17", "45", "1"}));
}

struct Refusal {
    const char *name;
    std::string fleet;
    Form form;
    Message message;
    std::string calls; // everything sent in the update
};

class RefusedUpdate : public Update, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusedUpdate, ShowsItsMessageAndWritesNothing) {
    const Refusal &refusal = GetParam();
    start(refusal.fleet, Tab::Acquisition, false, refusal.form);
    const long writesBefore = fwsim_call_count("zdp_write_module_command");
    ui->clickUpdate();
    EXPECT_EQ(ui->shown, std::vector<Message>{refusal.message});
    EXPECT_EQ(ui->pointerAtMessage, std::vector<bool>{false});
    EXPECT_EQ(callLog(), refusal.calls);
    EXPECT_EQ(fwsim_call_count("zdp_write_module_command"), writesBefore);
}

const std::string kModelRead = "zdp_get_base_channel\n"
                               "zdp_pair_module 1\n"
                               "zdp_read_module_command 51\n";

INSTANTIATE_TEST_SUITE_P(
    Refusals, RefusedUpdate,
    ::testing::Values(
        Refusal{"OutOfRangeBeforeAnyCall",
                kFleet,
                {"4", "", "", 0},
                {"The valid range for the TX Interval is 5 to 60000 ms", "Invalid Parameter Values",
                 MessageIcon::Warning},
                ""},
        Refusal{"UnsupportedModel",
                "5E0002:zx-9:3",
                kUntouched,
                {"The paired module is a ZX-9 which is not supported by this software!", "Warning",
                 MessageIcon::Warning},
                kModelRead},
        Refusal{"SampleTimeAboveTxInterval",
                kFleet,
                {"100", "200", "", 1},
                {"WARNING: The Sample Time is too large for the selected TX Interval. The "
                 "maximum Sample Time is 100 mS\r\n",
                 "Incompatible Parameter Values", MessageIcon::Warning},
                kModelRead + "zdp_read_module_command 77\n"},
        Refusal{"ModuleInLowPowerWithTooShortATxInterval",
                "1A2B3C:RX-LC:3:1000:10:60:1",
                {"30", "", "", 0},
                {"WARNING: The Sample Time is too large for the selected TX Interval. The "
                 "maximum Sample Time is 5 mS\r\nWARNING: In low power mode the TX Interval "
                 "cannot be less than 41 mS!",
                 "Incompatible Parameter Values", MessageIcon::Warning},
                kModelRead + "zdp_read_module_command 78\nzdp_read_module_command 77\n"
                             "zdp_read_module_command 75\n"}),
    fw::testing::RowName());

// A stored entry longer than its box reaches the range check as it was stored, never cut
// to the box's limit into a value the operator did not enter; Direction=1.5 counts as true.
TEST_F(Update, RestoredEntriesReachTheRangeCheckWhole) {
    const auto outOfRange = [](const char *text) {
        return Message{text, "Invalid Parameter Values", MessageIcon::Warning};
    };
    const std::pair<const char *, Message> rows[] = {
        {"TXInterval=123456", outOfRange("The valid range for the TX Interval is 5 to 60000 ms")},
        {"SampleTime=600001", outOfRange("The valid range for the Sample Time is 5 to 60000 ms")},
        {"SleepDelay=36000", outOfRange("The valid range for the Sleep Delay is 0 to 3600 s")},
    };
    sim.set("FLEETWRIGHT_SIM_FLEET", kFleet);
    for (const auto &[stored, message] : rows) {
        SCOPED_TRACE(stored);
        const QString entry = QString::fromLatin1(stored);
        store.values = {{"Direction", "1.5"}, {entry.section('=', 0, 0), entry.section('=', 1)}};
        ui = std::make_unique<SimulatedWindow>(store);
        ASSERT_TRUE(ui->load());
        EXPECT_TRUE(ui->window.Direction[1]->isChecked());
        fwsim_clear_call_log();
        ui->clickUpdate();
        EXPECT_EQ(ui->shown, std::vector<Message>{message});
        EXPECT_EQ(callLog(), "");
        ui.reset();
    }
}

// ---- the fault sweep -----------------------------------------------------------------

Message moduleRefused(const std::string &what) {
    return {what + "\r\nTry again.", "Error", MessageIcon::Critical};
}
Message communicationFailed(const std::string &call, const std::string &detail = "") {
    return {"Communication with the base station failed!\r\nInjected fault: " + call + " fails" +
                detail + " [Code: -3]",
            "Error", MessageIcon::Critical};
}

struct Injection {
    const char *name;
    std::string faults;
    Message message;
};

// One call of an update into the component, and what can go wrong with it.
struct Call {
    std::string logged;
    std::string name;
    std::vector<Injection> injections;
    bool parameter = false;
};

Call moduleCall(bool write, int code, const std::string &what, bool parameter) {
    const std::string number = std::to_string(code);
    const std::string kind = write ? "write" : "read";
    const std::string function = "zdp_" + kind + "_module_command";
    return {function + " " + number,
            (write ? "Write" : "Read") + number,
            {{"FailureFlag", kind + ":" + number, moduleRefused(what)},
             {"ErrorStatus", kind + "-status:" + number,
              communicationFailed(function, " for command code " + number)}},
            parameter};
}

struct Parameter {
    int code;
    const char *name;
    const char *Form::*box; // nullptr: the low power list
};
const Parameter kParameters[] = {{76, "TX Interval", &Form::tx},
                                 {78, "Sample Time", &Form::sample},
                                 {77, "Sleep Delay", &Form::sleep},
                                 {75, "Low Power Mode", nullptr}};

bool blank(const Form &form, const Parameter &parameter) {
    return parameter.box ? *(form.*parameter.box) == '\0' : form.lowPower == 0;
}

// The calls of a whole update, in order.
std::vector<Call> updateCalls(Tab tab, bool changeChannel, const Form &form) {
    std::vector<Call> calls{
        {"zdp_get_base_channel",
         "GetChannel",
         {{"ErrorStatus", "get-channel-status", communicationFailed("zdp_get_base_channel")}}}};
    const Message notSet{"Could not set base station RF channel! Please try again.", "Error",
                         MessageIcon::Warning};
    if (changeChannel) {
        calls.push_back(
            {"zdp_set_base_channel " + std::to_string(kChosenChannel),
             "SetChannel",
             {{"ErrorStatus", "set-channel-status", communicationFailed("zdp_set_base_channel")}}});
        // A refused channel shows only when the channel is read back.
        calls.push_back(
            {"zdp_get_base_channel", "ReadBack", {{"RefusedChannel", "refuse-channel", notSet}}});
    }
    calls.push_back({std::string("zdp_pair_module ") + (changeChannel ? "0" : "1"),
                     "Pair",
                     {{"ModuleIdZero",
                       "nopair",
                       {"Did not pair with a remote module!", "Error", MessageIcon::Warning}},
                      {"ErrorStatus", "pair-status", communicationFailed("zdp_pair_module")}}});
    calls.push_back(moduleCall(false, 51, "Cannot read Model!", false));
    if (tab == Tab::Acquisition) {
        for (const Parameter &parameter : kParameters)
            if (blank(form, parameter))
                calls.push_back(moduleCall(false, parameter.code,
                                           std::string("Cannot read ") + parameter.name + "!",
                                           true));
        for (const Parameter &parameter : kParameters)
            if (!blank(form, parameter))
                calls.push_back(moduleCall(true, parameter.code,
                                           std::string("Cannot write ") + parameter.name + "!",
                                           true));
    }
    calls.push_back(moduleCall(true, 55, "Cannot Save!", false));
    calls.push_back(moduleCall(true, 54, "Cannot Reset!", false));
    return calls;
}

struct SweepRow {
    std::string name;
    Tab tab;
    bool changeChannel;
    Form form;
    std::string faults;
    std::string calls; // what the update sends, up to and including the failing call
    Message message;
};

// Two acquisition forms between them leave every parameter blank once (read) and fill
// it once (written); the calls common to both are swept with the first.
struct Setting {
    const char *name;
    Tab tab;
    Form form;
    bool parametersOnly;
};
const Setting kSettings[] = {
    {"General", Tab::General, kUntouched, false},
    {"BlankTxAndSleep", Tab::Acquisition, {"", "5", "", 2}, false},
    {"BlankSampleAndLowPower", Tab::Acquisition, {"0333", "", "0", 0}, true},
};

std::vector<SweepRow> sweepRows() {
    std::vector<SweepRow> rows;
    for (const Setting &setting : kSettings)
        for (const bool change : {false, true}) {
            const std::vector<Call> calls = updateCalls(setting.tab, change, setting.form);
            std::string sent;
            for (const Call &call : calls) {
                sent += call.logged + "\n";
                if (setting.parametersOnly && !call.parameter)
                    continue;
                for (const Injection &injection : call.injections)
                    rows.push_back({std::string(setting.name) + (change ? "_Change_" : "_Leave_") +
                                        call.name + "_" + injection.name,
                                    setting.tab, change, setting.form, injection.faults, sent,
                                    injection.message});
            }
        }
    return rows;
}

class FaultSweep : public Update, public ::testing::WithParamInterface<SweepRow> {};

TEST_P(FaultSweep, EndsWithOneMessageAndTheNextCleanUpdateSucceeds) {
    const SweepRow &row = GetParam();
    start(kFleet, row.tab, row.changeChannel, row.form, row.faults);
    ui->clickUpdate();
    expectEndedWith(row.message);
    EXPECT_EQ(callLog(), row.calls);

    ASSERT_EQ(fwsim_set_faults(""), 0);
    ui->clickUpdate();
    expectEndedWith(kComplete);
}

INSTANTIATE_TEST_SUITE_P(Calls, FaultSweep, ::testing::ValuesIn(sweepRows()),
                         fw::testing::RowName());

TEST(SimulatorFaults, AMalformedListIsRefusedAndChangesNothing) {
    SimEnvironment sim;
    sim.set("FLEETWRIGHT_SIM_FAULTS", "nopair");
    const auto provider = createDataProvider(FW_SIMULATOR);
    EXPECT_EQ(fwsim_set_faults("read:300"), FWSIM_ERR_BAD_SETTING);
    ASSERT_EQ(provider->OpenConnection(0, 0), 0);
    uint32_t id = 0;
    int32_t extra = 0;
    provider->PairModule(1, 1, 10, id, extra);
    EXPECT_EQ(id, 0u);
}

// ---- the update record -----------------------------------------------------------------

class Recorded : public Update {
protected:
    void SetUp() override { observer = &record; }

    // The record's lines with each time replaced by "T", once it has the form of one.
    QStringList recordLines() const {
        QFile file(QString::fromStdString(record.path()));
        if (!file.open(QIODevice::ReadOnly))
            return {QStringLiteral("<no record>")};
        QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
        static const QRegularExpression time(
            QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d:\\d\\d,"));
        for (QString &line : lines)
            line.replace(time, QStringLiteral("T,"));
        return lines;
    }

    QTemporaryDir dir;
    record::UpdateRecord record{
        dir.filePath(QStringLiteral("state/fleetwright/updates.csv")).toStdString(), true};
};

TEST_F(Recorded, EveryUpdatePastTheEntryCheckLeavesOneLine) {
    start("3C0002:RX,IM:9;1A2B3C:RX-LC:3", Tab::General, false, kUntouched);
    ui->clickUpdate(); // RX,IM on the "General" tab
    expectEndedWith(
        {"Model: RX,IM\r\nID: 3C0002\r\nCompleted OK", "Update Complete", MessageIcon::None});

    control<XTab>(ui->window, "XTab").setActiveTab(1);
    ui->window.Direction[1]->click();
    control<QLineEdit>(ui->window, "SampleTime").setText("");
    control<QComboBox>(ui->window, "LowPowerMode").setCurrentIndex(2);
    ui->clickUpdate(); // RX-LC on the "Acquisition Modules" tab, moved to channel 7
    expectEndedWith(kComplete);

    ASSERT_EQ(fwsim_set_faults("read:51"), 0);
    ui->clickUpdate(); // RX,IM again, whose model cannot be read
    expectEndedWith(moduleRefused("Cannot read Model!"));

    ASSERT_EQ(fwsim_set_faults("nopair"), 0);
    ui->clickUpdate();
    expectEndedWith({"Did not pair with a remote module!", "Error", MessageIcon::Warning});

    // NOLINTBEGIN(bugprone-suspicious-missing-comma): a record line is longer than a source line
    EXPECT_EQ(
        recordLines(),
        (QStringList{kRecordHeader,
                     "T,3C0002,\"RX,IM\",general,kept,,,,,complete,\"Model: RX,IM / ID: 3C0002 / "
                     "Completed OK\",",
                     "T,1A2B3C,RX-LC,acquisition,7,333,,0,1,complete,Model: RX-LC / ID: 1A2B3C / "
                     "Completed OK,",
                     "T,3C0002,,acquisition,7,,,,,failed,Cannot read Model! / Try again.,",
                     "T,,,acquisition,7,,,,,failed,Did not pair with a remote module!,", ""}));
    // NOLINTEND(bugprone-suspicious-missing-comma)
    struct stat folder {};
    ASSERT_EQ(::stat(QFile::encodeName(dir.filePath("state")).constData(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 0777, 0700u); // made for its owner only
}

TEST_F(Recorded, AnUnwritableRecordNeverHoldsUpAnUpdateAndIsToldOnce) {
    QFile blocker(dir.filePath(QStringLiteral("state")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly)); // the record's folder cannot be made
    blocker.close();
    start(kFleet, Tab::Acquisition, false, kUntouched);

    ui->clickUpdate();
    EXPECT_EQ(ui->shown,
              (std::vector<Message>{
                  kComplete,
                  {"Cannot write the update record " + record.path() +
                       "\r\nNot a directory\r\nUpdates go on without it; this warning is not "
                       "repeated until the next start.",
                   "Update record", MessageIcon::Warning}}));
    EXPECT_EQ(moduleValue(kModule, 76, true), "333");

    ui->clickUpdate();
    expectEndedWith(kComplete);
}

} // namespace
} // namespace fw::app::e2e
