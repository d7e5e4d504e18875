#include "app_setup.h"
#include "app_test_support.h"
#include "data_provider.h"
#include "library_provider.h"
#include "main_frm.h"
#include "messages.h"
#include "support/mock_provider.h"
#include "support/named_rows.h"
#include "support/recording_window.h"
#include "x_tab.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStyleFactory>
#include <QStyleOption>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <set>

namespace fw::app {
namespace {

using fw::testing::PrintTo;

using fw::testing::MockProvider;
using ::testing::_;
using ::testing::DoAll;
using ::testing::InSequence;
using ::testing::Invoke;
using ::testing::NiceMock;
using ::testing::Return;
using ::testing::SetArgReferee;

QString settingsPath() {
    return QDir(qEnvironmentVariable("XDG_CONFIG_HOME"))
        .filePath(QStringLiteral("fleetwright/fleetwright.conf"));
}

QByteArray settingsFile() {
    QFile file(settingsPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<absent>");
}

void writeSettings(const QByteArray &content) {
    QDir().mkpath(QFileInfo(settingsPath()).path());
    QFile file(settingsPath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

// Every test starts from an empty store and must leave no window and no pointer behind.
class Window : public ::testing::Test {
protected:
    void SetUp() override { QFile::remove(settingsPath()); }
    void TearDown() override {
        QFile::remove(settingsPath());
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
        for (QWidget *widget : QApplication::topLevelWidgets())
            EXPECT_FALSE(widget->isVisible()) << widget->metaObject()->className();
    }

    std::vector<Message> shown;
    MessageButton answer = MessageButton::Ok; // how the operator dismisses a box
    MessagePresenter recorder = [this](QWidget *, const Message &message) {
        shown.push_back(message);
        return message.secondButton.empty() ? MessageButton::Ok : answer;
    };

    // A base station that opens and stands on the given channel.
    static ProviderFactory baseStationOn(uint8_t channel, MockProvider **handle = nullptr) {
        return [channel, handle]() -> std::unique_ptr<DataProvider> {
            auto provider = std::make_unique<NiceMock<MockProvider>>();
            ON_CALL(*provider, OpenConnection(0, 0)).WillByDefault(Return(0));
            ON_CALL(*provider, GetBaseChannel(1)).WillByDefault(Return(channel));
            if (handle)
                *handle = provider.get();
            return provider;
        };
    }
};

// Positions and sizes in twips as the layout gives them; the window works in pixels at
// 15 twips each.
struct Placement {
    const char *name;
    const char *parent;
    int left, top, width, height;
    const char *family; // resolved face, nullptr for the window's own font
    qreal points;
    bool bold;
    QColor text;
};

const char *const kArial = "Liberation Sans";
const char *const kNarrow = "Liberation Sans Narrow";
const QColor kGrey(128, 128, 128);
const QColor kDark(64, 64, 64);

class Layout : public Window, public ::testing::WithParamInterface<Placement> {};

TEST_P(Layout, PlacesEveryControlWithItsFontAndColour) {
    SettingsStore &store = *new testing::MapStore;
    std::unique_ptr<SettingsStore> owner(&store);
    MainFrm window(store, recorder);
    const Placement &p = GetParam();
    QWidget *widget = &control(window, p.name);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->parentWidget()->objectName(), QLatin1String(p.parent));
    EXPECT_EQ(widget->geometry(), QRect(p.left / 15, p.top / 15, p.width / 15, p.height / 15));
    if (p.family) {
        EXPECT_EQ(QFontInfo(widget->font()).family(), QLatin1String(p.family));
        EXPECT_DOUBLE_EQ(widget->font().pointSizeF(), p.points);
        EXPECT_EQ(widget->font().bold(), p.bold);
    }
    if (p.text.isValid()) {
        const QPalette::ColorRole role =
            qobject_cast<QLabel *>(widget) ? QPalette::WindowText
            : qobject_cast<QRadioButton *>(widget) || qobject_cast<QCheckBox *>(widget)
                ? QPalette::WindowText
                : QPalette::Text;
        EXPECT_EQ(widget->palette().color(QPalette::Active, role), p.text);
        EXPECT_EQ(widget->palette().color(QPalette::Inactive, role), p.text);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Controls, Layout,
    ::testing::Values(
        Placement{"Label1", "MainFrm", 180, 120, 8835, 855, kArial, 9.75, true, Qt::black},
        Placement{"vlabel", "MainFrm", 8700, 60, 735, 255, nullptr, 0, false, kGrey},
        Placement{"Label2", "MainFrm", 5340, 720, 3615, 315, kNarrow, 9.75, false, kGrey},
        Placement{"Direction0", "MainFrm", 240, 1020, 5295, 375, kNarrow, 9.75, false, kDark},
        Placement{"Direction1", "MainFrm", 240, 1440, 4275, 375, kNarrow, 9.75, false, kDark},
        Placement{"RFChannel", "MainFrm", 4500, 1500, 795, 360, kNarrow, 9.75, false, kDark},
        Placement{"XTab", "MainFrm", 180, 1920, 9075, 3315, nullptr, 0, false, {}},
        Placement{"Found", "MainFrm", 120, 5340, 3195, 735, kArial, 24, true,
                  QColor(102, 158, 224)},
        Placement{"Command1", "MainFrm", 7380, 5400, 1875, 615, kNarrow, 9.75, false, {}},
        // Label4 and Label30 are 600 twips wider than the window's original layout, so that their
        // text stays on one line with the faces the package installs.
        Placement{"Label4", "XTab", 2430, 1620, 4215, 315, kNarrow, 9.75, false, kGrey},
        Placement{"Label5", "XTab", 120, 480, 7575, 315, kNarrow, 9.75, false, kGrey},
        Placement{"Shape10", "XTab", 300, 900, 4095, 1935, nullptr, 0, false, {}},
        Placement{"Label30", "XTab", 540, 960, 3615, 255, kArial, 9.75, true, {}},
        Placement{"Label60", "XTab", 900, 1320, 1515, 375, kNarrow, 9.75, false, kDark},
        Placement{"txInterval", "XTab", 2940, 1320, 1155, 375, kNarrow, 9.75, false, kDark},
        Placement{"Label61", "XTab", 900, 1860, 1515, 375, kNarrow, 9.75, false, kDark},
        Placement{"SampleTime", "XTab", 2940, 1860, 1155, 375, kNarrow, 9.75, false, kDark},
        Placement{"Label63", "XTab", 900, 2520, 3195, 255, kNarrow, 9.75, false, kDark},
        Placement{"Shape11", "XTab", 4440, 900, 4695, 1035, nullptr, 0, false, {}},
        Placement{"Label31", "XTab", 4680, 960, 3255, 255, kArial, 9.75, true, {}},
        Placement{"Label62", "XTab", 4860, 1320, 1515, 375, kNarrow, 9.75, false, kDark},
        Placement{"SleepDelay", "XTab", 7080, 1260, 1155, 375, kNarrow, 9.75, false, kDark},
        Placement{"Label64", "XTab", 5340, 1680, 3195, 255, kNarrow, 9.75, false, kDark},
        Placement{"Shape12", "XTab", 4440, 1980, 4695, 855, nullptr, 0, false, {}},
        Placement{"Label32", "XTab", 4680, 2040, 3255, 255, kArial, 9.75, true, {}},
        Placement{"Label65", "XTab", 4800, 2400, 1515, 375, kNarrow, 9.75, false, kDark},
        Placement{"LowPowerMode", "XTab", 7080, 2280, 1335, 315, nullptr, 0, false, kDark},
        Placement{"Command3", "XTab", 8100, 2880, 915, 375, kNarrow, 9.75, false, {}},
        Placement{"VerifyAfterWriting", "XTab", 300, 2895, 3615, 345, kNarrow, 9.75, false, kDark},
        Placement{"ReadCommand", "MainFrm", 5400, 5400, 1875, 615, kNarrow, 9.75, false, {}},
        // The run's controls, in a band of their own below the rest.
        Placement{"PairingPrompt", "MainFrm", 120, 6210, 5100, 300, kNarrow, 9.75, false, kDark},
        Placement{"RunNote", "MainFrm", 120, 6540, 7140, 510, kNarrow, 9.75, false, kDark},
        Placement{"NextModuleAutomatically", "MainFrm", 6540, 6180, 2775, 345, kNarrow, 9.75, false,
                  kDark},
        Placement{"ShowSession", "MainFrm", 7380, 6570, 1875, 405, kNarrow, 9.75, false, {}}),
    fw::testing::RowName());

TEST_F(Window, IsAFixedDialogWithoutMinimizeOrMaximize) {
    testing::MapStore store;
    MainFrm window(store, recorder);
    EXPECT_EQ(window.objectName(), "MainFrm");
    EXPECT_EQ(window.windowTitle(), "Fleetwright");
    EXPECT_EQ(window.size(), QSize(630, 472));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(window.palette().color(QPalette::Window), QColor(Qt::white));
    for (const int size : {16, 24, 32, 48})
        EXPECT_EQ(window.windowIcon().pixmap(size, size).size(), QSize(size, size)) << size;
    EXPECT_EQ(window.windowIcon().availableSizes().size(), 4);
}

TEST_F(Window, OpensInItsDesignTimeState) {
    testing::MapStore store;
    MainFrm window(store, recorder);
    EXPECT_TRUE(window.Direction[0]->isChecked());
    EXPECT_FALSE(window.Direction[1]->isChecked());
    auto *channels = &control<QComboBox>(window, "RFChannel");
    auto *lowPower = &control<QComboBox>(window, "LowPowerMode");
    EXPECT_FALSE(channels->isEnabled());
    for (QComboBox *list : {channels, lowPower}) {
        EXPECT_TRUE(list->isEditable());
        EXPECT_EQ(list->currentIndex(), -1);
        EXPECT_EQ(list->currentText(), "Combo1");
        EXPECT_EQ(listPosition(*list), -1);
    }
    ASSERT_EQ(channels->count(), kChannelCount);
    for (int i = 0; i < channels->count(); ++i)
        EXPECT_EQ(channels->itemText(i), QString::number(i + 1));
    ASSERT_EQ(lowPower->count(), kLowPowerModeCount);
    EXPECT_EQ(lowPower->itemText(0), "Leave As Is");
    EXPECT_EQ(lowPower->itemText(1), "No");
    EXPECT_EQ(lowPower->itemText(2), "Yes");

    EXPECT_EQ(control<QLineEdit>(window, "txInterval").text(), "333");
    EXPECT_EQ(control<QLineEdit>(window, "SampleTime").text(), "5");
    EXPECT_EQ(control<QLineEdit>(window, "SleepDelay").text(), "0");
    const std::pair<const char *, int> limits[] = {
        {"txInterval", 5}, {"SampleTime", 5}, {"SleepDelay", 4}};
    for (const auto &[name, limit] : limits) {
        QLineEdit *box = &control<QLineEdit>(window, name);
        const QString before = box->text();
        box->selectAll();
        QTest::keyClicks(box, "1234567");
        EXPECT_EQ(box->text(), QString("1234567").left(limit)) << name;
        QApplication::clipboard()->setText("9");
        box->paste();
        EXPECT_EQ(box->text().size(), limit) << name;
        box->setText(before);
    }
    auto *found = &control<QLabel>(window, "Found");
    EXPECT_EQ(found->text(), "Ready");
    EXPECT_TRUE(found->alignment() & Qt::AlignHCenter);
    EXPECT_EQ(control<QLabel>(window, "vlabel").text(), "vx.x.x");
    EXPECT_TRUE(control<QLabel>(window, "vlabel").alignment() & Qt::AlignRight);
    EXPECT_EQ(window.entries().tab, 1);
    EXPECT_EQ(control<QPushButton>(window, "Command1").text(), "&Update");
    EXPECT_EQ(control<QPushButton>(window, "Command3").text(), "&Defaults");
    EXPECT_EQ(control(window, "Command1").toolTip(),
              "After clicking this button you have 10 seconds to power cycle the remote module");
    EXPECT_EQ(control(window, "Command3").toolTip(), "Set default values");
    EXPECT_EQ(control<QPushButton>(window, "ReadCommand").text(), "&Read");
    EXPECT_EQ(control(window, "ReadCommand").toolTip(),
              "Shows what a module holds and changes nothing: after clicking this button you "
              "have 10 seconds to power cycle the remote module");
    EXPECT_EQ(control<QCheckBox>(window, "VerifyAfterWriting").text(), "&Verify after writing");
    EXPECT_FALSE(control<QCheckBox>(window, "VerifyAfterWriting").isChecked());
    EXPECT_EQ(control(window, "txInterval").toolTip(), "Transmission interval in milliseconds");
    EXPECT_EQ(control(window, "SampleTime").toolTip(), "Sample Time in milliseconds");
}

TEST_F(Window, TabsShowTheirOwnControlsAndKeepTheRestInPlace) {
    testing::MapStore store;
    MainFrm window(store, recorder);
    auto *tabs = &control<XTab>(window, "XTab");
    QTabBar *headers = tabs->tabBar();
    ASSERT_EQ(headers->count(), 2);
    EXPECT_EQ(headers->tabText(0), "General");
    EXPECT_EQ(headers->tabText(1), "Acquisition Modules");
    for (int i = 0; i < 2; ++i)
        EXPECT_LE(headers->mapTo(tabs, headers->tabRect(i).bottomLeft()).y(), 480 / 15);
    EXPECT_EQ(QFontInfo(XTab::activeTabFont()).family(), kNarrow);
    EXPECT_DOUBLE_EQ(XTab::activeTabFont().pointSizeF(), 9.75);
    EXPECT_DOUBLE_EQ(XTab::inactiveTabFont().pointSizeF(), 8.25);

    const QStringList general{"Label4"};
    const QStringList acquisition{"Command3",     "txInterval", "SampleTime",        "SleepDelay",
                                  "LowPowerMode", "Label5",     "Label60",           "Label61",
                                  "Label62",      "Label30",    "Label31",           "Label32",
                                  "Label63",      "Label64",    "Label65",           "Shape11",
                                  "Shape10",      "Shape12",    "VerifyAfterWriting"};
    const QStringList always{"Direction0", "Direction1", "RFChannel",
                             "Found",      "Command1",   "ReadCommand"};
    for (const int tab : {1, 0, 1}) {
        tabs->setActiveTab(tab);
        EXPECT_EQ(window.entries().tab, tab);
        for (const QString &name : general)
            EXPECT_EQ(control(window, qPrintable(name)).isVisibleTo(&window), tab == 0)
                << name.toStdString();
        for (const QString &name : acquisition)
            EXPECT_EQ(control(window, qPrintable(name)).isVisibleTo(&window), tab == 1)
                << name.toStdString();
        for (const QString &name : always)
            EXPECT_TRUE(control(window, qPrintable(name)).isVisibleTo(&window))
                << name.toStdString();
    }
}

// The contrast ratio of two colours as WCAG defines it, worked out here on its own terms.
double contrastRatio(const QColor &one, const QColor &other) {
    const auto luminance = [](const QColor &c) {
        const auto linear = [](double v) {
            return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const double a = luminance(one);
    const double b = luminance(other);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

TEST(InactiveTabHeader, KeepsGreyTextOnTheLightFaceReadableWhateverTheScheme) {
    struct Scheme {
        const char *name;
        QColor face, grey;
    };
    const Scheme schemes[] = {
        {"classic", QColor(227, 227, 227), QColor(109, 109, 109)},
        {"toolkit", QColor(202, 202, 202), QColor(190, 190, 190)},
        {"alreadyReadable", QColor(240, 240, 240), QColor(80, 80, 80)},
        {"midGrey", QColor(119, 119, 119), QColor(128, 128, 128)},
        {"dark", QColor(60, 60, 60), QColor(90, 90, 90)},
    };
    for (const Scheme &scheme : schemes) {
        SCOPED_TRACE(scheme.name);
        QPalette palette;
        palette.setColor(QPalette::Midlight, scheme.face);
        palette.setColor(QPalette::Disabled, QPalette::WindowText, scheme.grey);
        const XTab::HeaderColours colours = XTab::inactiveTabColours(palette);
        EXPECT_EQ(colours.back, scheme.face);
        EXPECT_GE(contrastRatio(colours.text, colours.back), 4.5);
        EXPECT_TRUE(colours.text.red() == colours.text.green() &&
                    colours.text.green() == colours.text.blue())
            << "not grey: " << colours.text.name().toStdString();
        if (contrastRatio(scheme.grey, scheme.face) >= 4.5) {
            EXPECT_EQ(colours.text, scheme.grey);
        }
    }
}

// A desktop colour scheme the window must read the same under, with the style that draws it.
struct DesktopScheme {
    const char *name;
    QPalette (*palette)();
};

QPalette fusionLight() {
    const std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
    return fusion->standardPalette();
}

// A dark scheme as desktops set it: light text on dark faces, every other role derived
// from the faces the way a palette derives them.
QPalette fusionDark() {
    const QColor face(0x35, 0x35, 0x35);
    QPalette dark(face, face);
    dark.setColor(QPalette::WindowText, Qt::white);
    dark.setColor(QPalette::Base, QColor(0x2a, 0x2a, 0x2a));
    dark.setColor(QPalette::AlternateBase, face);
    dark.setColor(QPalette::Text, Qt::white);
    dark.setColor(QPalette::ButtonText, Qt::white);
    dark.setColor(QPalette::Highlight, QColor(0x2a, 0x82, 0xda));
    dark.setColor(QPalette::HighlightedText, Qt::black);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(QPalette::Disabled, role, QColor(0x7f, 0x7f, 0x7f));
    return dark;
}

// The colour a region is mostly drawn in: its background, where text covers less of it.
QColor mostCommonColour(const QImage &image, const QRect &region) {
    std::map<QRgb, int> counts;
    for (int y = region.top(); y <= region.bottom(); ++y)
        for (int x = region.left(); x <= region.right(); ++x)
            ++counts[image.pixel(x, y)];
    return QColor::fromRgb(
        std::max_element(counts.begin(), counts.end(), [](const auto &a, const auto &b) {
            return a.second < b.second;
        })->first);
}

// The contrast of a region's text: its background against the pixel that stands out most.
double textContrast(const QImage &image, const QRect &region) {
    const QColor back = mostCommonColour(image, region);
    double best = 1;
    for (int y = region.top(); y <= region.bottom(); ++y)
        for (int x = region.left(); x <= region.right(); ++x)
            best = std::max(best, contrastRatio(image.pixelColor(x, y), back));
    return best;
}

// A control's area in the pixels of the window's grab, which are device pixels.
QRect inWindowPixels(const QWidget &window, const QWidget &widget, const QRect &area) {
    const qreal ratio = window.devicePixelRatioF();
    const QRectF inWindow(widget.mapTo(&window, area.topLeft()), area.size());
    return QRectF(inWindow.topLeft() * ratio, inWindow.size() * ratio)
        .toAlignedRect()
        .intersected(QRect(QPoint(), window.size() * ratio));
}

// Where a control draws its text, in the window's device pixels: beside the indicator for
// an option button or a check box, the whole box for a label.
QRect textArea(const QWidget &window, const QWidget &widget) {
    QRect area = widget.rect();
    if (const auto *button = qobject_cast<const QAbstractButton *>(&widget)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        const bool radio = qobject_cast<const QRadioButton *>(button);
        area = widget.style()->subElementRect(
            radio ? QStyle::SE_RadioButtonContents : QStyle::SE_CheckBoxContents, &option, button);
    }
    return inWindowPixels(window, widget, area);
}

// The option button's indicator, in the window's device pixels.
QRect indicatorArea(const QWidget &window, const QRadioButton &button) {
    QStyleOptionButton option;
    option.initFrom(&button);
    const QRect indicator =
        button.style()->subElementRect(QStyle::SE_RadioButtonIndicator, &option, &button);
    return inWindowPixels(window, button, indicator);
}

class UnderScheme : public Window, public ::testing::WithParamInterface<DesktopScheme> {
protected:
    void SetUp() override {
        Window::SetUp();
        QApplication::setStyle(QStringLiteral("Fusion"));
        QApplication::setPalette(GetParam().palette());
    }
    void TearDown() override {
        QApplication::setStyle(style_);
        QApplication::setPalette(palette_);
        Window::TearDown();
    }

private:
    const QString style_ = QApplication::style()->name();
    const QPalette palette_ = QApplication::palette();
};

// The form fixes its light backgrounds, so it must fix every colour drawn on them: text in
// the desktop's colours vanishes on them under a dark scheme. The labels the design draws in
// grey and the status label's blue read as well as those colours allow on white, and no
// worse under either scheme.
TEST_P(UnderScheme, EveryTextReadsOnTheBackgroundTheFormGivesIt) {
    testing::MapStore store;
    MainFrm window(store, recorder);
    const std::map<QString, double> designedBelowReadable = {
        {"vlabel", contrastRatio(kGrey, Qt::white)},
        {"Label2", contrastRatio(kGrey, Qt::white)},
        {"Label4", contrastRatio(kGrey, Qt::white)},
        {"Label5", contrastRatio(kGrey, Qt::white)},
        {"Found", contrastRatio(QColor(102, 158, 224), Qt::white)},
    };
    std::set<QString> checked;
    // The run's lines, in both of their colours.
    window.pairingStarted(std::chrono::seconds(10));
    for (const int tab : {0, 1}) {
        control<XTab>(window, "XTab").setActiveTab(tab);
        window.setNote("ID: 12AB (RX-LC): Update Complete",
                       tab == 0 ? NoteTone::Success : NoteTone::Failure);
        const QImage image = window.grab().toImage();
        for (QWidget *widget : window.findChildren<QWidget *>()) {
            if (!(qobject_cast<QLabel *>(widget) || qobject_cast<QRadioButton *>(widget) ||
                  qobject_cast<QCheckBox *>(widget)) ||
                !widget->isVisibleTo(&window))
                continue;
            const QString name = widget->objectName();
            const auto designed = designedBelowReadable.find(name);
            const double wanted =
                designed == designedBelowReadable.end() ? 4.5 : std::min(4.5, designed->second);
            EXPECT_GE(textContrast(image, textArea(window, *widget)), wanted) << name.toStdString();
            checked.insert(name);
        }
    }
    window.pairingEnded();
    // every label, both option buttons and the two check boxes
    EXPECT_EQ(checked.size(), 21u);
}

TEST_P(UnderScheme, PanelsAreGreyBehindTheirControlsOnAWhiteWindow) {
    testing::MapStore store;
    MainFrm window(store, recorder);
    const QImage image = window.grab().toImage();
    const QPoint xtab(180 / 15, 1920 / 15);
    // Inside Shape10, left of its labels; the window's margin; the tab page below the panels.
    EXPECT_EQ(image.pixelColor(xtab + QPoint(30, 150)), QColor(224, 224, 224));
    EXPECT_EQ(image.pixelColor(QPoint(4, 300)), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(xtab + QPoint(100, 210)), QColor(Qt::white));
}

// The strip keeps the desktop's 3D-light face, light or dark, and the caption on it reads.
TEST_P(UnderScheme, TheInactiveTabIsDrawnInItsReadableColours) {
    testing::MapStore store;
    MainFrm window(store, recorder);
    QTabBar *headers = control<XTab>(window, "XTab").tabBar();
    const XTab::HeaderColours colours = XTab::inactiveTabColours(headers->palette());
    const QImage image = headers->grab().toImage();
    const QRect general = headers->tabRect(0); // inactive: the window opens on the other tab
    const QColor back = image.pixelColor(general.topLeft() + QPoint(1, 1));
    EXPECT_EQ(back.rgb(), colours.back.rgb());
    QColor text = back;
    for (int y = general.top(); y <= general.bottom(); ++y)
        for (int x = general.left(); x <= general.right(); ++x)
            if (contrastRatio(image.pixelColor(x, y), back) > contrastRatio(text, back))
                text = image.pixelColor(x, y);
    EXPECT_EQ(text.rgb(), colours.text.rgb());
    EXPECT_GE(contrastRatio(text, back), 4.5);
}

// The selected option must stand out from the other by its mark, as controls' states must
// (3:1 for what is not text).
TEST_P(UnderScheme, TheSelectedOptionButtonShowsItsMark) {
    testing::MapStore store;
    MainFrm window(store, recorder);
    ASSERT_TRUE(window.Direction[0]->isChecked());
    const QImage image = window.grab().toImage();
    const QColor selected = image.pixelColor(indicatorArea(window, *window.Direction[0]).center());
    const QColor other = image.pixelColor(indicatorArea(window, *window.Direction[1]).center());
    EXPECT_GE(contrastRatio(selected, other), 3.0)
        << selected.name().toStdString() << " " << other.name().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Schemes, UnderScheme,
                         ::testing::Values(DesktopScheme{"LightFusion", fusionLight},
                                           DesktopScheme{"DarkFusion", fusionDark}),
                         fw::testing::RowName());

TEST_F(Window, ControlsCarryTheirAccessibleNames) {
    testing::MapStore store;
    MainFrm window(store, recorder);
    const std::pair<const char *, const char *> names[] = {
        {"txInterval", "TX Interval (ms)"},
        {"SampleTime", "SampleTime (ms)"},
        {"SleepDelay", "SleepDelay (s)"},
        {"LowPowerMode", "Low Power Mode"},
        {"RFChannel", "Radio channel"},
        {"Command1", "Update"},
        {"Command3", "Defaults"},
        {"ReadCommand", "Read"},
        {"VerifyAfterWriting", "Verify after writing"},
        {"NextModuleAutomatically", "Next module automatically"},
        {"ShowSession", "Modules This Session"},
        {"PairingPrompt", "Pairing prompt"},
        {"RunNote", "Last module"},
        {"Direction0", "Leave RF channel settings as they are in the remote module"},
        {"Direction1", "Change the remote module RADIO channel to this one"},
        {"Label2", "Must be used with a Zarvik USB base station"},
        {"Label60", "TX Interval (ms)"},
    };
    for (const auto &[name, accessible] : names) {
        QAccessibleInterface *item = QAccessible::queryAccessibleInterface(&control(window, name));
        ASSERT_NE(item, nullptr) << name;
        EXPECT_EQ(item->text(QAccessible::Name), QLatin1String(accessible)) << name;
    }
    for (QWidget *widget : window.findChildren<QWidget *>()) {
        if (widget->window() == &window && !widget->objectName().startsWith("qt_") &&
            !qobject_cast<QComboBox *>(widget->parentWidget())) {
            EXPECT_FALSE(widget->accessibleName().isEmpty())
                << widget->metaObject()->className() << " " << widget->objectName().toStdString();
        }
    }

    QAccessibleInterface *headers =
        QAccessible::queryAccessibleInterface(control<XTab>(window, "XTab").tabBar());
    ASSERT_NE(headers, nullptr);
    ASSERT_GE(headers->childCount(), 2);
    EXPECT_EQ(headers->child(0)->role(), QAccessible::PageTab);
    EXPECT_EQ(headers->child(0)->text(QAccessible::Name), "General");
    EXPECT_EQ(headers->child(1)->text(QAccessible::Name), "Acquisition Modules");
}

class ShownWindow : public Window {
protected:
    testing::MapStore store;
    MainFrm window{store, recorder};

    void SetUp() override {
        Window::SetUp();
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    void TearDown() override {
        window.hide();
        Window::TearDown();
    }
    QString focused() const {
        QWidget *widget = QApplication::focusWidget();
        if (!widget)
            return "<none>";
        // The tab control takes the focus through its header strip.
        if (qobject_cast<QTabBar *>(widget))
            return widget->parentWidget()->objectName();
        return widget->objectName();
    }
};

TEST_F(ShownWindow, FocusChainFollowsTheFocusOrder) {
    QStringList chain;
    QWidget *widget = window.Direction[0];
    do {
        // An unselected option button is left out of Tab only while its partner is selected.
        if (widget->focusPolicy() != Qt::NoFocus && widget->isVisibleTo(&window))
            chain << (qobject_cast<QTabBar *>(widget) ? widget->parentWidget()->objectName()
                                                      : widget->objectName());
        widget = widget->nextInFocusChain();
    } while (widget != window.Direction[0]);
    chain.removeAll(QString());
    EXPECT_EQ(
        chain.join(' ').toStdString(),
        "Direction0 Direction1 RFChannel Command1 ReadCommand XTab LowPowerMode SleepDelay "
        "SampleTime txInterval Command3 VerifyAfterWriting NextModuleAutomatically ShowSession");
}

TEST_F(ShownWindow, TabKeyLeavesTheOptionButtonsForTheChannelList) {
    window.Direction[1]->click(); // the list takes the focus only while enabled
    window.Direction[1]->setFocus();
    QStringList order{focused()};
    for (int i = 0; i < 9; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order << focused();
    }
    EXPECT_EQ(order.join(' ').toStdString(), "Direction1 RFChannel Command1 ReadCommand XTab "
                                             "LowPowerMode SleepDelay SampleTime txInterval "
                                             "Command3");
}

TEST_F(ShownWindow, TabsAreReachableByKeyboard) {
    control<XTab>(window, "XTab").tabBar()->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
    EXPECT_EQ(window.entries().tab, 0);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
    EXPECT_EQ(window.entries().tab, 1);
}

TEST_F(ShownWindow, AccessKeysClickTheButtons) {
    QSignalSpy update(&control<QPushButton>(window, "Command1"), &QPushButton::clicked);
    // An access key clicks its button after a short press animation.
    QTest::keyClick(&window, Qt::Key_U, Qt::AltModifier);
    EXPECT_TRUE(update.wait(1000));
    EXPECT_EQ(update.count(), 1);
    control<QLineEdit>(window, "txInterval").clear();
    QSignalSpy defaults(&control<QPushButton>(window, "Command3"), &QPushButton::clicked);
    QTest::keyClick(&window, Qt::Key_D, Qt::AltModifier);
    EXPECT_TRUE(defaults.wait(1000));
    EXPECT_EQ(control<QLineEdit>(window, "txInterval").text(), "333");
    QSignalSpy read(&control<QPushButton>(window, "ReadCommand"), &QPushButton::clicked);
    QTest::keyClick(&window, Qt::Key_R, Qt::AltModifier);
    EXPECT_TRUE(read.wait(1000));
    EXPECT_EQ(read.count(), 1);
    QSignalSpy verify(&control<QCheckBox>(window, "VerifyAfterWriting"), &QCheckBox::toggled);
    QTest::keyClick(&window, Qt::Key_V, Qt::AltModifier);
    EXPECT_TRUE(verify.wait(1000));
    EXPECT_TRUE(control<QCheckBox>(window, "VerifyAfterWriting").isChecked());
}

TEST_F(ShownWindow, NumberBoxesTakeDigitsAndEditingKeysOnly) {
    for (const char *name : {"txInterval", "SampleTime", "SleepDelay"}) {
        auto *box = &control<QLineEdit>(window, name);
        box->setFocus();
        box->clear();
        QTest::keyClicks(box, "1a -.,2");
        EXPECT_EQ(box->text(), "12") << name;
        QTest::keyClick(box, Qt::Key_Escape);
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier); // select-all is refused
        QTest::keyClick(box, Qt::Key_Z, Qt::ControlModifier);
        QTest::keyClicks(box, "3");
        EXPECT_EQ(box->text(), "123") << name;
        QTest::keyClick(box, Qt::Key_Left); // keys without a character keep their effect
        QTest::keyClick(box, Qt::Key_Backspace);
        EXPECT_EQ(box->text(), "13") << name;
        QTest::keyClick(box, Qt::Key_Home);
        QTest::keyClick(box, Qt::Key_Delete);
        EXPECT_EQ(box->text(), "3") << name;
        QSignalSpy enter(box, &QLineEdit::returnPressed);
        QTest::keyClick(box, Qt::Key_Return);
        EXPECT_EQ(enter.count(), 1) << name;
    }
}

TEST_F(ShownWindow, ClipboardKeysPassAndPastedTextIsNotFiltered) {
    auto *box = &control<QLineEdit>(window, "txInterval");
    box->setFocus();
    box->setText("45");
    box->selectAll();
    QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "45");
    QTest::keyClick(box, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(box->text(), "");
    QGuiApplication::clipboard()->setText("9,9");
    QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(box->text(), "9,9");
}

TEST_F(Window, DefaultsFillTheParametersAndLeaveTheChannelAlone) {
    testing::MapStore store;
    MainFrm window(store, recorder);
    window.applyEntries({.txInterval = "",
                         .sampleTime = "",
                         .sleepDelay = "7",
                         .changeChannel = true,
                         .rfChannelPosition = 4});
    control<QPushButton>(window, "Command3").click();
    EXPECT_EQ(window.entries().txInterval, "333");
    EXPECT_EQ(window.entries().sampleTime, "5");
    EXPECT_EQ(window.entries().sleepDelay, "0");
    EXPECT_EQ(window.entries().lowPowerModePosition, 2);
    EXPECT_TRUE(window.entries().changeChannel);
    EXPECT_EQ(window.entries().rfChannelPosition, 4);
}

TEST_F(Window, TheChannelListIsEnabledExactlyWhileChangingTheChannel) {
    testing::MapStore store;
    MainFrm window(store, recorder);
    auto *channels = &control<QComboBox>(window, "RFChannel");
    window.selectChannelPosition(6);
    window.Direction[1]->click();
    EXPECT_TRUE(channels->isEnabled());
    EXPECT_TRUE(window.entries().changeChannel);
    window.Direction[0]->click();
    EXPECT_FALSE(channels->isEnabled());
    EXPECT_FALSE(window.entries().changeChannel);
    EXPECT_EQ(window.entries().rfChannelPosition, 6);
}

TEST_F(Window, TypedTextThatIsNotTheSelectedEntryHasNoPosition) {
    testing::MapStore store;
    MainFrm window(store, recorder);
    auto *lowPower = &control<QComboBox>(window, "LowPowerMode");
    lowPower->setCurrentIndex(1);
    EXPECT_EQ(window.entries().lowPowerModePosition, 1);
    lowPower->setEditText("Maybe");
    EXPECT_EQ(window.entries().lowPowerModePosition, -1);
    EXPECT_EQ(lowPower->count(), 3);
}

TEST_F(Window, PointerOverrideStaysBalanced) {
    testing::MapStore store;
    MainFrm window(store, recorder);
    window.setBusyPointer();
    window.setBusyPointer();
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    window.setDefaultPointer();
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    window.setDefaultPointer();
    window.setBusyPointer(); // the window gives back what it still holds when it goes
}

TEST_F(Window, StatusShowsAtOnce) {
    testing::MapStore store;
    MainFrm window(store, recorder);
    window.setStatus("Waiting...");
    EXPECT_EQ(control<QLabel>(window, "Found").text(), "Waiting...");
}

TEST_F(Window, ShowsARealMessageBoxWithTitleTextAndIcon) {
    testing::MapStore store;
    MainFrm window(store); // the production presenter
    bool checked = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        poll.stop();
        EXPECT_EQ(box->windowTitle(), "fleetwright");
        EXPECT_EQ(box->text(), "ZarvikDataProviderCOM.DLL possibly not registered!\nError: "
                               "No such library [Code: 1]");
        EXPECT_EQ(box->icon(), QMessageBox::Critical);
        ASSERT_NE(box->button(QMessageBox::Ok), nullptr);
        EXPECT_EQ(box->buttons().size(), 1);
        checked = true;
        box->button(QMessageBox::Ok)->click();
    });
    poll.start(10);
    window.showMessage(messages::providerNotRegistered("fleetwright", "No such library", 1));
    EXPECT_TRUE(checked);
}

TEST_F(Window, FirstRunRestoresTheDefaultsAndSelectsTheBaseChannel) {
    QSettingsStore store("fleetwright");
    MainFrm window(store, recorder);
    ASSERT_TRUE(window.load(baseStationOn(5), "fleetwright"));
    EXPECT_EQ(control<QLabel>(window, "vlabel").text(), "v1.1.0");
    EXPECT_FALSE(window.entries().changeChannel);
    EXPECT_FALSE(control(window, "RFChannel").isEnabled());
    EXPECT_EQ(window.entries().rfChannelPosition, 4);
    EXPECT_EQ(control<QComboBox>(window, "RFChannel").currentText(), "5");
    EXPECT_EQ(window.entries().txInterval, "333");
    EXPECT_EQ(window.entries().sampleTime, "5");
    EXPECT_EQ(window.entries().sleepDelay, "0");
    EXPECT_EQ(window.entries().lowPowerModePosition, 0);
    EXPECT_EQ(control<QComboBox>(window, "LowPowerMode").currentText(), "Leave As Is");
    EXPECT_EQ(control<QLabel>(window, "Found").text(), "Ready");
    EXPECT_EQ(window.entries().tab, 1);
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(settingsFile(), "<absent>");
}

struct RestoreCase {
    const char *name;
    const char *settings;
    uint8_t baseChannel;
    bool changeChannel;
    int rfChannel;
    int lowPower;
};

class Restore : public Window, public ::testing::WithParamInterface<RestoreCase> {};

TEST_P(Restore, TakesTheStoredChoicesButAlwaysTheBaseStationsChannel) {
    writeSettings(QByteArray("[Settings]\n") + GetParam().settings);
    QSettingsStore store("fleetwright");
    MainFrm window(store, recorder);
    ASSERT_TRUE(window.load(baseStationOn(GetParam().baseChannel), "fleetwright"));
    EXPECT_EQ(window.entries().changeChannel, GetParam().changeChannel);
    EXPECT_EQ(control(window, "RFChannel").isEnabled(), GetParam().changeChannel);
    EXPECT_EQ(window.entries().rfChannelPosition, GetParam().rfChannel);
    EXPECT_EQ(window.entries().lowPowerModePosition, GetParam().lowPower);
}

INSTANTIATE_TEST_SUITE_P(
    Stored, Restore,
    ::testing::Values(
        RestoreCase{"DirectionTrue", "Direction=True\nRFChannel=9\n", 3, true, 2, 0},
        RestoreCase{"DirectionFalse", "Direction=False\n", 16, false, 15, 0},
        RestoreCase{"DirectionNumber", "Direction=-1\nLowPowerMode=1\n", 1, true, 0, 1},
        RestoreCase{"DirectionJunk", "Direction=maybe\nLowPowerMode=x\n", 2, false, 1, 0},
        RestoreCase{"BaseChannelZero", "RFChannel=4\nLowPowerMode=-1\n", 0, false, -1, -1},
        RestoreCase{"BaseChannelAboveTheList", "RFChannel=99\nLowPowerMode=7\n", 17, false, -1, 0}),
    fw::testing::RowName());

// The window tells start-up which store it restores from; the rules are start-up's own.
TEST_F(Window, OnlyAJobProfileThatMovesModulesKeepsItsChannelOverTheBaseStations) {
    testing::MapStore store;
    store.values["Direction"] = "True";
    store.values["RFChannel"] = "6";
    for (const bool profile : {true, false}) {
        SCOPED_TRACE(profile ? "profile" : "per-user store");
        MainFrm window(store, recorder);
        if (profile)
            window.setProfilePath(QStringLiteral("/jobs/bridge.conf"));
        ASSERT_TRUE(window.load(baseStationOn(3), "fleetwright"));
        EXPECT_EQ(control<QComboBox>(window, "RFChannel").currentText(), profile ? "7" : "3");
    }
}

TEST_F(Window, ABlankBoxAndNoSelectionSurviveShutdownAndTheNextStart) {
    MockProvider *dp = nullptr;
    {
        QSettingsStore store("fleetwright");
        MainFrm window(store, recorder);
        ASSERT_TRUE(window.load(baseStationOn(2, &dp), "fleetwright"));
        window.Direction[1]->click();
        control<QLineEdit>(window, "SampleTime").clear();
        control<QComboBox>(window, "LowPowerMode").setCurrentIndex(-1);
        control<QLineEdit>(window, "SleepDelay").setText("1,2");
        // Closing saves the entries before the base station closes.
        EXPECT_CALL(*dp, CloseConnection()).WillOnce(Invoke([] {
            const QSettingsStore written("fleetwright");
            EXPECT_EQ(written.read("Direction"), std::optional<QString>("True"));
            EXPECT_EQ(written.read("RFChannel"), std::optional<QString>("1"));
            EXPECT_EQ(written.read("TXInterval"), std::optional<QString>("333"));
            EXPECT_EQ(written.read("SampleTime"), std::optional<QString>(""));
            EXPECT_EQ(written.read("SleepDelay"), std::optional<QString>("1,2"));
            EXPECT_EQ(written.read("LowPowerMode"), std::optional<QString>("-1"));
            EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
        }));
        QSignalSpy closed(&window, &MainFrm::closed);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(window.close());
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
        EXPECT_EQ(window.controller().provider(), nullptr);
        EXPECT_EQ(closed.count(), 1);
    }
    QSettingsStore store("fleetwright");
    MainFrm window(store, recorder);
    ASSERT_TRUE(window.load(baseStationOn(2), "fleetwright"));
    EXPECT_TRUE(window.entries().changeChannel);
    EXPECT_EQ(window.entries().sampleTime, "");
    EXPECT_EQ(window.entries().sleepDelay, "1,2");
    EXPECT_EQ(window.entries().lowPowerModePosition, -1);
    EXPECT_TRUE(shown.empty());
}

TEST_F(Window, ACloseDuringAnUpdateWaitsForTheUpdateToFinish) {
    MockProvider *dp = nullptr;
    QSettingsStore store("fleetwright");
    MainFrm window(store, recorder);
    ASSERT_TRUE(window.load(baseStationOn(2, &dp), "fleetwright"));
    control<XTab>(window, "XTab").setActiveTab(0);
    ON_CALL(*dp, PairModule(1, 1, 10, _, _)).WillByDefault(SetArgReferee<3>(0x12ABu));
    ON_CALL(*dp, ReadModuleCommand(1, 0x12AB, 51, _))
        .WillByDefault(DoAll(SetArgReferee<3>(std::string("RX-LC")), Return(0)));
    {
        InSequence order;
        // The operator closes the window while the module saves its settings.
        EXPECT_CALL(*dp, WriteModuleCommand(1, 0x12AB, 55, _)).WillOnce(Invoke([&] {
            QMetaObject::invokeMethod(&window, &QWidget::close, Qt::QueuedConnection);
            return int16_t{0};
        }));
        EXPECT_CALL(*dp, WriteModuleCommand(1, 0x12AB, 54, _)).WillOnce(Return(0));
        EXPECT_CALL(*dp, CloseConnection());
    }
    QSignalSpy closed(&window, &MainFrm::closed);
    control<QPushButton>(window, "Command1").click();
    EXPECT_EQ(shown, std::vector<Message>{messages::updateComplete("RX-LC", 0x12AB)});
    EXPECT_EQ(closed.count(), 1);
    EXPECT_EQ(window.controller().provider(), nullptr);
}

TEST_F(Window, AMissingLibraryEndsTheProgramBeforeTheWindowShows) {
    writeSettings("[Settings]\nTXInterval=12\n");
    const QByteArray before = settingsFile();
    const std::string library = "/nonexistent/libnothing-here.so";
    bool windowVisible = false;
    const int status = runFleetwright(
        "fleetwright", [&] { return createDataProvider(library); },
        [&](QWidget *, const Message &message) {
            for (QWidget *widget : QApplication::topLevelWidgets())
                windowVisible = windowVisible || widget->isVisible();
            shown.push_back(message);
            return MessageButton::Ok;
        });
    EXPECT_NE(status, 0);
    EXPECT_FALSE(windowVisible);
    ASSERT_EQ(shown.size(), 1u);
    try {
        createDataProvider(library);
        FAIL() << "the library loaded";
    } catch (const ProviderError &error) {
        EXPECT_EQ(shown[0],
                  messages::providerNotLoaded("fleetwright", error.description(), error.code()));
    }
    EXPECT_EQ(settingsFile(), before);
}

TEST_F(Window, ABaseStationThatWillNotOpenEndsTheProgramWithoutSaving) {
    writeSettings("[Settings]\nTXInterval=12\nLowPowerMode=2\n");
    const QByteArray before = settingsFile();
    MockProvider *dp = nullptr;
    const ProviderFactory unopened = [&]() -> std::unique_ptr<DataProvider> {
        auto provider = std::make_unique<NiceMock<MockProvider>>();
        EXPECT_CALL(*provider, OpenConnection(0, 0)).WillOnce(Return(1));
        EXPECT_CALL(*provider, CloseConnection()).Times(0);
        dp = provider.get();
        return provider;
    };
    const int status = runFleetwright("fleetwright", unopened, recorder);
    EXPECT_NE(status, 0);
    EXPECT_NE(dp, nullptr);
    EXPECT_EQ(shown, std::vector<Message>{messages::cannotOpenUsb()});
    EXPECT_EQ(settingsFile(), before);
}

// ---- aids while typing and waiting ---------------------------------------------------

const QString kIncompatible15And20 =
    QStringLiteral("WARNING: The Sample Time is too large for the selected TX Interval. The "
                   "maximum Sample Time is 15 mS\n");

TEST_F(ShownWindow, AFlaggedEntryCarriesTheUpdatesTextUntilItIsFineAndKeepsTheFocus) {
    auto &tx = control<QLineEdit>(window, "txInterval");
    auto &sample = control<QLineEdit>(window, "SampleTime");
    auto &lowPower = control<QComboBox>(window, "LowPowerMode");
    const QString txTip = tx.toolTip();
    sample.setFocus();
    sample.clear();
    QTest::keyClicks(&sample, "20");
    tx.setText("15");
    lowPower.setCurrentIndex(1);

    for (QWidget *flagged : std::initializer_list<QWidget *>{&tx, &sample, &lowPower}) {
        EXPECT_EQ(flagged->toolTip(), kIncompatible15And20) << flagged->objectName().toStdString();
        EXPECT_EQ(flagged->accessibleDescription(), kIncompatible15And20);
        EXPECT_NE(flagged->palette().color(QPalette::Text), kDark);
    }
    EXPECT_EQ(focused(), "SampleTime");
    EXPECT_EQ(sample.text(), "20") << "no key refused";

    QTest::keyClick(&sample, Qt::Key_Backspace);
    QTest::keyClick(&sample, Qt::Key_Backspace);
    QTest::keyClicks(&sample, "15"); // S = T outside low power passes
    EXPECT_EQ(tx.toolTip(), txTip);
    EXPECT_EQ(tx.accessibleDescription(), "");
    EXPECT_EQ(tx.palette().color(QPalette::Text), kDark);
    EXPECT_EQ(lowPower.palette().color(QPalette::Text), kDark);

    control<QLineEdit>(window, "SleepDelay").setText("3601");
    EXPECT_EQ(control<QLineEdit>(window, "SleepDelay").toolTip(),
              "The valid range for the Sleep Delay is 0 to 3600 s");
    EXPECT_EQ(focused(), "SampleTime");
}

// A flagged combination still goes to the module first, as the update always did.
TEST_F(Window, FlaggingChangesNothingOfWhatTheUpdateDoes) {
    MockProvider *dp = nullptr;
    testing::MapStore store;
    MainFrm window(store, recorder);
    ASSERT_TRUE(window.load(baseStationOn(2, &dp), "fleetwright"));
    control<QLineEdit>(window, "txInterval").setText("15");
    control<QLineEdit>(window, "SampleTime").setText("20");
    control<QComboBox>(window, "LowPowerMode").setCurrentIndex(1);
    EXPECT_CALL(*dp, PairModule(1, 1, 10, _, _)).WillOnce(SetArgReferee<3>(0x12ABu));
    EXPECT_CALL(*dp, ReadModuleCommand(1, 0x12AB, 51, _))
        .WillOnce(DoAll(SetArgReferee<3>(std::string("RX-LC")), Return(0)));
    EXPECT_CALL(*dp, WriteModuleCommand(_, _, _, _)).Times(0);
    control<QPushButton>(window, "Command1").click();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].title, "Incompatible Parameter Values");
    EXPECT_EQ(QString::fromStdString(shown[0].text).replace("\r\n", "\n"), kIncompatible15And20);
}

TEST_F(ShownWindow, AfterARangeRefusalTheRefusedBoxHasTheFocusWithItsTextSelected) {
    ASSERT_TRUE(window.load(baseStationOn(2), "fleetwright"));
    auto &sample = control<QLineEdit>(window, "SampleTime");
    sample.setText("70000");
    control<QPushButton>(window, "Command1").setFocus();
    control<QPushButton>(window, "Command1").click();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].title, "Invalid Parameter Values");
    EXPECT_EQ(focused(), "SampleTime");
    EXPECT_EQ(sample.selectedText(), "70000");
}

TEST_F(ShownWindow, TabEntersTheOptionGroupAtTheSelectedOption) {
    window.applyEntries({.lowPowerModePosition = 2, .changeChannel = true, .rfChannelPosition = 4});
    control(window, "ShowSession").setFocus(); // the last of the focus chain
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(focused(), "Direction1");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_TRUE(window.entries().changeChannel) << "Space keeps the saved strategy";
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    EXPECT_EQ(focused(), "Direction0") << "the arrows still move within the group";
    EXPECT_FALSE(window.entries().changeChannel);
}

TEST_F(ShownWindow, ControlTabAndControlPageKeysSwitchTabsFromAnywhere) {
    struct Press {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
    };
    for (const char *from : {"txInterval", "Command1", "Direction0"}) {
        control(window, from).setFocus();
        for (const Press press : {Press{Qt::Key_Tab, Qt::ControlModifier},
                                  Press{Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier},
                                  Press{Qt::Key_PageDown, Qt::ControlModifier},
                                  Press{Qt::Key_PageUp, Qt::ControlModifier}}) {
            const int before = window.entries().tab;
            QTest::keyClick(QApplication::focusWidget(), press.key, press.modifiers);
            EXPECT_NE(window.entries().tab, before) << from << " key " << press.key;
        }
    }
}

TEST_F(ShownWindow, EditableListsTakeOnlyTheStartOfAnEntry) {
    auto &lowPower = control<QComboBox>(window, "LowPowerMode");
    lowPower.setFocus();
    lowPower.lineEdit()->selectAll();
    QTest::keyClicks(&lowPower, "uu");
    EXPECT_EQ(lowPower.currentText(), "Combo1") << "the caption the program set stays";
    lowPower.lineEdit()->selectAll();
    QTest::keyClicks(&lowPower, "y");
    EXPECT_EQ(lowPower.currentText(), "Yes");
    EXPECT_EQ(window.entries().lowPowerModePosition, 2);
    QTest::keyClicks(&lowPower, "x"); // typed over the selected completion
    EXPECT_EQ(lowPower.currentText(), "Yes");
    lowPower.lineEdit()->selectAll();
    QTest::keyClicks(&lowPower, "LEAVE");
    EXPECT_EQ(window.entries().lowPowerModePosition, 0);
    QTest::keyClick(&lowPower, Qt::Key_End);
    QTest::keyClicks(&lowPower, "u");
    EXPECT_EQ(lowPower.currentText(), "Leave As Is");

    // Backspace takes a character away; the editing's end completes the entry again.
    window.Direction[1]->click();
    auto &channel = control<QComboBox>(window, "RFChannel");
    channel.setFocus();
    channel.lineEdit()->selectAll();
    QTest::keyClicks(&channel, "12");
    EXPECT_EQ(window.entries().rfChannelPosition, 11);
    QTest::keyClick(&channel, Qt::Key_Backspace);
    EXPECT_EQ(channel.currentText(), "1");
    QTest::keyClicks(&channel, "7");
    EXPECT_EQ(channel.currentText(), "1");
    QTest::keyClick(&channel, Qt::Key_Backspace);
    control<QPushButton>(window, "Command3").setFocus();
    EXPECT_EQ(channel.currentText(), "");
    QGuiApplication::clipboard()->setText("99");
    channel.setFocus();
    QTest::keyClick(&channel, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(channel.currentText(), "") << "a paste that matches no entry is taken back";
}

TEST_F(ShownWindow, APasteIntoARestoredTextAlreadyOverItsLimitIsRefused) {
    window.applyEntries({.txInterval = "", .sampleTime = "123456", .sleepDelay = ""});
    auto &sample = control<QLineEdit>(window, "SampleTime");
    EXPECT_EQ(sample.text(), "123456") << "the restored entry stays whole";
    sample.setFocus();
    sample.end(false);
    QGuiApplication::clipboard()->setText("999");
    QTest::keyClick(&sample, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(sample.text(), "123456");
    QTest::keyClick(&sample, Qt::Key_Backspace); // shortening it is still allowed
    EXPECT_EQ(sample.text(), "12345");
    QTest::keyClick(&sample, Qt::Key_Backspace);
    QGuiApplication::clipboard()->setText("9");
    QTest::keyClick(&sample, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(sample.text(), "12349");
}

TEST_F(Window, ThePairingCountdownShowsOnlyWhileThePairingCallWaits) {
    MockProvider *dp = nullptr;
    testing::MapStore store;
    MainFrm window(store, recorder);
    ASSERT_TRUE(window.load(baseStationOn(2, &dp), "fleetwright"));
    auto &bar = control<QProgressBar>(window, "PairingCountdown");
    const QRect found = control<QLabel>(window, "Found").geometry();
    EXPECT_FALSE(bar.isVisibleTo(&window));
    bool shownWhilePairing = false;
    int secondsLeft = -1;
    EXPECT_CALL(*dp, PairModule(1, 1, 10, _, _)).WillOnce(Invoke([&] {
        shownWhilePairing = bar.isVisibleTo(&window);
        secondsLeft = bar.value();
    }));
    control<QPushButton>(window, "Command1").click();
    EXPECT_TRUE(shownWhilePairing);
    EXPECT_EQ(secondsLeft, 10);
    EXPECT_EQ(bar.maximum(), 10);
    EXPECT_EQ(bar.accessibleName(), "Pairing window");
    EXPECT_FALSE(bar.isVisibleTo(&window));
    EXPECT_EQ(bar.y(), found.bottom() + 1) << "just under the status label";
    EXPECT_LE(bar.geometry().bottom(), window.height() - 1);
    EXPECT_EQ(control<QLabel>(window, "Found").geometry(), found);
    EXPECT_EQ(shown, std::vector<Message>{messages::notPaired()});
}

TEST_F(Window, TheCaptionNamesTheProfileAndTheSimulator) {
    testing::MapStore store;
    MainFrm window(store, recorder);
    EXPECT_EQ(window.windowTitle(), "Fleetwright");
    window.setProfilePath(QStringLiteral("/jobs/bridge.conf"));
    window.setSimulatedBaseStation(true);
    EXPECT_EQ(window.windowTitle(),
              QStringLiteral("bridge.conf \u2014 Fleetwright (simulated base station)"));
}

// Staging the list position less one would send "-2" and hold a module of unknown mode to
// the low power rules: no selection keeps the module's own mode, as "Leave As Is" does.
TEST_F(Window, AStoredLowPowerModeWithNoSelectionLeavesTheModulesModeAsItIs) {
    writeSettings("[Settings]\nLowPowerMode=-1\nTXInterval=30\nSampleTime=10\n");
    QSettingsStore store("fleetwright");
    MainFrm window(store, recorder);
    MockProvider *dp = nullptr;
    ASSERT_TRUE(window.load(baseStationOn(2, &dp), "fleetwright"));
    ASSERT_EQ(window.entries().lowPowerModePosition, -1);
    std::vector<int> read;
    std::vector<int> written;
    ON_CALL(*dp, PairModule(1, 1, 10, _, _)).WillByDefault(SetArgReferee<3>(0x12ABu));
    ON_CALL(*dp, ReadModuleCommand(1, 0x12AB, _, _))
        .WillByDefault(Invoke([&](uint8_t, uint32_t, uint8_t command, std::string &value) {
            read.push_back(command);
            value = command == 51 ? "RX-LC" : "0";
            return int16_t{0};
        }));
    ON_CALL(*dp, WriteModuleCommand(1, 0x12AB, _, _))
        .WillByDefault(Invoke([&](uint8_t, uint32_t, uint8_t command, const std::string &) {
            written.push_back(command);
            return int16_t{0};
        }));
    control<QPushButton>(window, "Command1").click();
    EXPECT_EQ(shown, std::vector<Message>{messages::updateComplete("RX-LC", 0x12AB)});
    EXPECT_NE(std::find(read.begin(), read.end(), 75), read.end()) << "the mode is read";
    EXPECT_EQ(std::find(written.begin(), written.end(), 75), written.end()) << "and kept";
}

// ---- Read and verification through the window -------------------------------------------

// A module 12AB that answers the model and the four parameters, and holds what is written.
class ModuleOnTheWindow : public Window {
protected:
    void SetUp() override {
        Window::SetUp();
        ASSERT_TRUE(window.load(baseStationOn(2, &dp), "fleetwright"));
        ON_CALL(*dp, PairModule(1, _, 10, _, _)).WillByDefault(SetArgReferee<3>(0x12ABu));
        ON_CALL(*dp, ReadModuleCommand(1, 0x12AB, _, _))
            .WillByDefault([this](uint8_t, uint32_t, uint8_t command, std::string &value) {
                calls.push_back("read " + std::to_string(command));
                value = held[command];
                return int16_t{0};
            });
        ON_CALL(*dp, WriteModuleCommand(1, 0x12AB, _, _))
            .WillByDefault([this](uint8_t, uint32_t, uint8_t command, const std::string &payload) {
                calls.push_back("write " + std::to_string(command));
                if (payload.size() > 2)
                    held[command] = payload.substr(0, payload.size() - 2);
                return int16_t{0};
            });
    }

    QString entry(const char *name) const { return control<QLineEdit>(window, name).text(); }

    testing::MapStore store;
    MainFrm window{store, recorder};
    MockProvider *dp = nullptr;
    std::map<uint8_t, std::string> held{
        {51, "RX-LC"}, {76, "500"}, {78, "20"}, {77, "10"}, {75, "1"}};
    std::vector<std::string> calls;
};

struct UseCase {
    const char *name;
    MessageButton answer;
    QStringList entries; // txInterval, SampleTime, SleepDelay
    int lowPowerPosition;
};

class ReadOnTheWindow : public ModuleOnTheWindow, public ::testing::WithParamInterface<UseCase> {};

TEST_P(ReadOnTheWindow, UseTheseValuesPutsThemIntoTheEntries) {
    control<QLineEdit>(window, "txInterval").setText("333");
    control<QComboBox>(window, "LowPowerMode").setCurrentIndex(0);
    answer = GetParam().answer;
    control<QPushButton>(window, "ReadCommand").click();

    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0],
              messages::moduleSettings("RX-LC", 0x12AB, std::nullopt, {"500", "20", "10", "1"}));
    EXPECT_EQ((QStringList{entry("txInterval"), entry("SampleTime"), entry("SleepDelay")}),
              GetParam().entries);
    EXPECT_EQ(window.entries().lowPowerModePosition, GetParam().lowPowerPosition);
    EXPECT_EQ(calls, (std::vector<std::string>{"read 51", "read 76", "read 78", "read 77",
                                               "read 75", "write 54"}));
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ReadOnTheWindow,
    ::testing::Values(UseCase{"Ok", MessageButton::Ok, {"333", "5", "0"}, 0},
                      UseCase{"UseTheseValues", MessageButton::Second, {"500", "20", "10"}, 2}),
    fw::testing::RowName());

struct VerifyBoxCase {
    const char *name;
    bool checked;
    std::vector<std::string> calls;
};

class VerifyBox : public ModuleOnTheWindow, public ::testing::WithParamInterface<VerifyBoxCase> {};

TEST_P(VerifyBox, DecidesWhetherTheWrittenValuesAreReadBack) {
    control<QCheckBox>(window, "VerifyAfterWriting").setChecked(GetParam().checked);
    control<QComboBox>(window, "LowPowerMode").setCurrentIndex(1);
    control<QPushButton>(window, "Command1").click();

    EXPECT_EQ(calls, GetParam().calls);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], messages::updateComplete("RX-LC", 0x12AB, GetParam().checked));
}

INSTANTIATE_TEST_SUITE_P(
    Options, VerifyBox,
    ::testing::Values(VerifyBoxCase{"Off",
                                    false,
                                    {"read 51", "write 76", "write 78", "write 77", "write 75",
                                     "write 55", "write 54"}},
                      VerifyBoxCase{"On",
                                    true,
                                    {"read 51", "write 76", "write 78", "write 77", "write 75",
                                     "read 76", "read 78", "read 77", "read 75", "write 55",
                                     "write 54"}}),
    fw::testing::RowName());

struct KeptOptionCase {
    const char *name;
    const char *option;            // its check box, and its key in the options section
    std::optional<QString> stored; // the option as the store holds it at start-up
    bool checkedAtStart;
    bool checkedAtClose;
    QString storedAtClose;
};

class KeptOption : public Window, public ::testing::WithParamInterface<KeptOptionCase> {};

TEST_P(KeptOption, SurvivesTheRunBesideTheSixEntries) {
    const KeptOptionCase &c = GetParam();
    testing::MapStore store;
    const QString key = QStringLiteral("Options/") + QLatin1String(c.option);
    if (c.stored)
        store.values[key] = *c.stored;
    {
        MainFrm window(store, recorder);
        ASSERT_TRUE(window.load(baseStationOn(2), "fleetwright"));
        auto &box = control<QCheckBox>(window, c.option);
        EXPECT_EQ(box.isChecked(), c.checkedAtStart);
        box.setChecked(c.checkedAtClose);
        window.close();
    }
    EXPECT_EQ(store.values[key], c.storedAtClose);
    EXPECT_EQ(store.values.size(), 8u) << "the six entries and the two options, nothing else";
    EXPECT_TRUE(shown.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Stores, KeptOption,
    ::testing::Values(
        KeptOptionCase{"FirstRun", "VerifyAfterWriting", std::nullopt, false, true, "True"},
        KeptOptionCase{"TurnedOnBefore", "VerifyAfterWriting", "True", true, true, "True"},
        KeptOptionCase{"TurnedOff", "VerifyAfterWriting", "True", true, false, "False"},
        KeptOptionCase{"Unreadable", "VerifyAfterWriting", "perhaps", false, false, "False"},
        KeptOptionCase{"RunFirstTime", "NextModuleAutomatically", std::nullopt, false, true,
                       "True"},
        KeptOptionCase{"RunTurnedOff", "NextModuleAutomatically", "True", true, false, "False"}),
    fw::testing::RowName());

} // namespace
} // namespace fw::app
