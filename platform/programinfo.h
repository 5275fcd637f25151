#pragma once

#include <QString>

namespace bellboard::platform {

struct Version
{
    int major = 0;
    int minor = 0;
    int build = 0;
    int revision = 0;
};

// The version record compiled into the program.
Version programVersion();

// The folder that holds the program's executable, in native form, without a trailing
// separator unless it is a root ("/" or "C:\").
QString programFolder();

// Tests point the program folder at a temporary folder; an empty text restores the real one.
void setProgramFolderOverride(const QString &folder);

// The separator that the program joins paths with ("\" on Windows, "/" elsewhere).
QString pathSeparator();

} // namespace bellboard::platform
