// The second yardstick for startup_bench: the program's own form with no logic behind it,
// MainFrm.ui set up on a dialog with the program's fonts, no provider and no settings. What
// the program takes beyond this is what its start-up costs.
#include "app_setup.h"
#include "main_frm.h"
#include "ui_MainFrm.h"

#include <QApplication>
#include <QDialog>
#include <QScreen>

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    fw::app::registerFontSubstitutes();
    QDialog window(nullptr, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                Qt::WindowCloseButtonHint);
    fw::app::setWindowFont(window);
    Ui::MainFrm form;
    form.setupUi(&window);
    fw::app::applyControlFonts(form);
    window.setFixedSize(630, 410);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        window.move(screen->availableGeometry().center() - window.rect().center());
    QApplication::setQuitOnLastWindowClosed(false);
    fw::app::quitAfterFirstShowIfRequested(window);
    window.show();
    return QApplication::exec();
}
