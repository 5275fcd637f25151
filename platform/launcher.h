#pragma once

#include <QString>

namespace bellboard::platform {

// Starts the program `name` ("sndrec32.exe", "sndvol32.exe") detached, in a normal window,
// without waiting for it or watching it. When no program of that name is on the search
// path, the system's own program for the same role is started instead. Returns an empty
// text when a program was started, else the message to show the user.
QString startProgram(const QString &name);

} // namespace bellboard::platform
