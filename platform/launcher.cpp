#include "platform/launcher.h"

#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

#include <vector>

namespace bellboard::platform {

namespace {

struct Command
{
    QString program;
    QStringList arguments;
};

struct Role
{
    QString windowsName;           // the name the program asks for
    QString description;           // for the message when nothing starts
    QString package;               // the Debian package the message suggests
    std::vector<Command> programs; // tried in this order
    QStringList terminalPrograms;  // then these, in a terminal
};

// Linux has no sndrec32/sndvol32, so each role falls back to the desktop's own program.
// The order puts the programs that work on any desktop first, then the desktop-specific
// ones, and a terminal program last because it is the least friendly.
const std::vector<Role> &roles()
{
    static const std::vector<Role> table = {
        {
            QStringLiteral("sndrec32.exe"),
            QStringLiteral("sound recorder"),
            QStringLiteral("gnome-sound-recorder"),
            {
                {QStringLiteral("gnome-sound-recorder"), {}}, // GNOME, also common elsewhere
                {QStringLiteral("krecorder"), {}},            // KDE
                {QStringLiteral("audio-recorder"), {}},       // desktop-neutral
                {QStringLiteral("audacity"), {}},             // the editor everyone has
            },
            // No terminal recorder: it would have to pick a file name behind the user's back.
            {},
        },
        {
            QStringLiteral("sndvol32.exe"),
            QStringLiteral("volume control (mixer)"),
            QStringLiteral("pavucontrol"),
            {
                {QStringLiteral("pavucontrol"), {}}, // PulseAudio and PipeWire, any desktop
                {QStringLiteral("gnome-control-center"), {QStringLiteral("sound")}},
                {QStringLiteral("pavucontrol-qt"), {}},                                 // LXQt
                {QStringLiteral("kmix"), {}},                                           // older KDE
                {QStringLiteral("systemsettings"), {QStringLiteral("kcm_pulseaudio")}}, // Plasma
                {QStringLiteral("xfce4-mixer"), {}},
                {QStringLiteral("mate-volume-control"), {}},
                {QStringLiteral("cinnamon-settings"), {QStringLiteral("sound")}},
            },
            {QStringLiteral("pulsemixer"), QStringLiteral("alsamixer")},
        },
    };
    return table;
}

// Terminals and the option after which each takes the command to run. Debian's
// x-terminal-emulator is the one the system chose, so it comes first.
const std::vector<Command> &terminals()
{
    static const std::vector<Command> table = {
        {QStringLiteral("x-terminal-emulator"), {QStringLiteral("-e")}},
        {QStringLiteral("gnome-terminal"), {QStringLiteral("--")}},
        {QStringLiteral("konsole"), {QStringLiteral("-e")}},
        {QStringLiteral("xfce4-terminal"), {QStringLiteral("-x")}},
        {QStringLiteral("xterm"), {QStringLiteral("-e")}},
    };
    return table;
}

const Role *roleFor(const QString &name)
{
    for (const Role &role : roles()) {
        // Windows names are case-insensitive.
        if (name.compare(role.windowsName, Qt::CaseInsensitive) == 0)
            return &role;
    }
    return nullptr;
}

// Starts `program` when it is on the search path; false when it is not or fails to start.
bool tryStart(const QString &program, const QStringList &arguments)
{
    const QString path = QStandardPaths::findExecutable(program);
    return !path.isEmpty() && QProcess::startDetached(path, arguments);
}

bool startInTerminal(const QString &program)
{
    const QString path = QStandardPaths::findExecutable(program);
    if (path.isEmpty())
        return false;
    for (const Command &terminal : terminals()) {
        if (tryStart(terminal.program, terminal.arguments + QStringList{path}))
            return true;
    }
    return false;
}

} // namespace

QString startProgram(const QString &name)
{
    if (tryStart(name, {}))
        return {};

    const Role *role = roleFor(name);
    if (!role)
        return QStringLiteral("Could not start %1.").arg(name);

    for (const Command &command : role->programs) {
        if (tryStart(command.program, command.arguments))
            return {};
    }
    for (const QString &program : role->terminalPrograms) {
        if (startInTerminal(program))
            return {};
    }

    QStringList tried;
    for (const Command &command : role->programs)
        tried << command.program;
    for (const QString &program : role->terminalPrograms)
        tried << program + QStringLiteral(" (in a terminal)");
    // The Windows name is tried first too, but it means nothing to the user here.
    return QStringLiteral("No %1 was found. Bellboard looked for: %2.\n\n"
                          "To install one on Debian or Ubuntu:\nsudo apt install %3")
        .arg(role->description, tried.join(QStringLiteral(", ")), role->package);
}

} // namespace bellboard::platform
