#include "app/heldkeys.h"
#include "app/module1.h"
#include "platform/display.h"
#include "platform/sound.h"
#include "ui/main/form1.h"

#include <QApplication>

#include <algorithm>
#include <cstdio>
#include <cstring>

void bellboardInitPictures();

int main(int argc, char *argv[])
{
    // Qt aborts with a page of advice when it finds no window system; one line says it.
    const bool platformNamed = std::any_of(
        argv, argv + argc, [](const char *a) { return std::strcmp(a, "-platform") == 0; });
    if (!platformNamed && !bellboard::platform::haveDisplay()) {
        std::fputs("bellboard: no display found: neither a Wayland compositor nor an X server "
                   "answers\n",
                   stderr);
        return 1;
    }
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
