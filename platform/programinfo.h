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

// Tests point the program folder, and with it the preset folder, at a temporary folder; an
// empty text restores the real one.
void setProgramFolderOverride(const QString &folder);

// Where presets are kept. A portable build keeps them in the program's folder. A build
// installed for the whole system (BELLBOARD_USER_PRESETS) keeps them in userPresetFolder(),
// because the program's folder there is not the user's to write.
QString presetFolder();

// $XDG_DATA_HOME/bellboard, or ~/.local/share/bellboard when that variable is unset, empty or
// not an absolute path (relative ones are invalid by the XDG rules).
QString userPresetFolder();

// Before a save: makes the user's preset folder, and the folders above it, when missing (mode
// 0700, as XDG asks). Does nothing for the program's folder, which is never made. A failure
// is left to the save, which reports it.
void makePresetFolder();

// The separator that the program joins paths with ("\" on Windows, "/" elsewhere).
QString pathSeparator();

} // namespace bellboard::platform
