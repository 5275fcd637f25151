#include "presets/presets.h"

#include "app/dialogs.h"
#include "app/pads.h"
#include "platform/programinfo.h"
#include "presets/presetfile.h"

namespace bellboard {

namespace {

void showFailure(int number)
{
    showMessage(QStringLiteral("File Error#") + QString::number(number));
}

// The failure handler of both operations once the board may have changed.
void reportFailure(int number, const Module1 &module, MainWindow &main)
{
    showFailure(number);
    refreshPads(module, main);
}

} // namespace

void savePreset(const Module1 &module, MainWindow &main, const QString &name)
{
    platform::makePresetFolder();
    if (const int err = writePresetFile(presetPath(name), module.padPaths))
        reportFailure(err, module, main);
}

void loadPreset(Module1 &module, MainWindow &main, const QString &name)
{
    // Read into an empty board, so whatever a failing read does not reach stays empty; a
    // file that cannot be opened at all (a mistyped name) leaves the user's board as it is.
    PadPaths read;
    bool opened = false;
    const int err = readPresetFile(presetPath(name), read, &opened);
    if (!opened) {
        showFailure(err);
        return;
    }
    module.padPaths = read;
    if (err)
        reportFailure(err, module, main);
    else
        refreshPads(module, main);
}

void refreshPads(const Module1 &module, MainWindow &main)
{
    for (int pad = 0; pad < kPadCount; ++pad) {
        const QString &path = module.padPaths[pad];
        // User input stays queued, so no click can start another load half-way.
        if (!path.isEmpty())
            processPendingEvents();
        showPad(main, pad, path);
    }
}

} // namespace bellboard
