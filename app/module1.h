#pragma once

#include "platform/launcher.h"
#include "platform/sound.h"

#include <QString>

#include <array>
#include <cstdint>
#include <functional>

namespace bellboard {

constexpr int kPadCount = 54;

// The state every window shares for the whole run. One value is made before the main
// window and handed to each window, which reads and writes it directly.
struct Module1
{
    std::array<QString, kPadCount> padPaths; // empty: the pad is unassigned
    QString presetName;
    QString lastWavFolder;
    QString marqueeText;
    qint16 marqueePos = 0;
    qint16 marqueeStage = 0;

    // The sound service. Tests put a recorder in its place.
    std::function<std::int32_t(const char *, void *, std::uint32_t)> PlaySoundA
        = platform::PlaySoundA;
    // Wakes the sound output ahead of a play. Tests put a recorder in its place.
    std::function<void()> warmUpSound = platform::audio::warmUp;

    // Starts a program by name without waiting for it; returns an empty text when it
    // started, else the message to show. Tests put a recorder in its place.
    std::function<QString(const QString &)> startProgram = platform::startProgram;
};

// The label a pad shows for `path`: the text after the last "\" or "/", without its last
// four characters (normally ".wav"); empty when that text is shorter than four characters.
QString padLabel(const QString &path);

} // namespace bellboard
