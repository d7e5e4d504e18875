#include "app_setup.h"

#include <QApplication>
#include <QTemporaryDir>
#include <gmock/gmock.h>

// Widget tests need a QApplication; settings go to a private directory, set before the
// first QSettings caches the location.
int main(int argc, char **argv) {
    ::testing::InitGoogleMock(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    fw::app::registerFontSubstitutes();
    return RUN_ALL_TESTS();
}
