// The yardstick for startup_bench: an empty window of the same size, flags and font set-up
// as the program's, shown the same way.
#include "app_setup.h"

#include <QApplication>
#include <QScreen>
#include <QWidget>

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    fw::app::registerFontSubstitutes();
    QWidget window(nullptr, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                Qt::WindowCloseButtonHint);
    window.setWindowTitle(QStringLiteral("Fleetwright"));
    window.setFixedSize(630, 410);
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, Qt::white);
    window.setPalette(palette);
    window.setAutoFillBackground(true);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        window.move(screen->availableGeometry().center() - window.rect().center());
    QApplication::setQuitOnLastWindowClosed(false);
    fw::app::quitAfterFirstShowIfRequested(window);
    window.show();
    return QApplication::exec();
}
