#pragma once

#include "app/mainwindow.h"
#include "app/module1.h"

#include <QString>

namespace bellboard {

// Writes the 54 pad paths to the preset `name`. A failure shows "File Error#" and its number
// and refreshes the pads; the preset it would have replaced stays as it was.
void savePreset(const Module1 &module, MainWindow &main, const QString &name);

// Replaces every pad path by the preset `name`'s lines and refreshes the pads. A failure
// shows "File Error#" and its number; when the file was opened the pads are refreshed over
// what was read and the rest are empty, when it could not be opened the board stays as it was.
void loadPreset(Module1 &module, MainWindow &main, const QString &name);

// Applies the pad display rule to pads 0..53, yielding to painting and timers before each
// assigned pad.
void refreshPads(const Module1 &module, MainWindow &main);

} // namespace bellboard
