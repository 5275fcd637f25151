#include "app/heldkeys.h"
#include "app/module1.h"
#include "platform/sound.h"
#include "ui/main/form1.h"

#include <QApplication>

void bellboardInitPictures();

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("bellboard"));
    // Ties the window to the menu entry on Wayland, as StartupWMClass does on X11.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.bellboard.Bellboard"));
    bellboardInitPictures();
    bellboard::pressHeldKeysOnce();
    // In the background, while the window comes up: the first click finds the output there.
    bellboard::platform::audio::prepare();

    // The shared state exists before the main window and outlives it.
    bellboard::Module1 module;
    bellboard::Form1 form(module);
    QApplication::setWindowIcon(form.windowIcon());
    form.show();
    return app.exec();
}
