#include "app_setup.h"
#include "data_provider.h"

#include <QApplication>

int main(int argc, char **argv) {
    fw::app::ignoreFileSizeSignal();
    QApplication app(argc, argv);
    fw::app::registerFontSubstitutes();
    return fw::app::runFleetwright(
        fw::app::applicationNameOf(argv[0]), [] { return fw::createDataProvider(); },
        fw::app::presenterFromEnvironment());
}
