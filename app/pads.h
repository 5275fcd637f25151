#pragma once

#include "app/mainwindow.h"

#include <QString>

namespace bellboard {

// Shows pad `pad` (0..53) as the pad display rule gives it for `path`: the label, the button
// caption, and the name and description a screen reader speaks for both. The caller keeps
// the path itself.
void showPad(MainWindow &main, int pad, const QString &path);

} // namespace bellboard
