#include "platform/programinfo.h"

#include "platform/version.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace bellboard::platform {

namespace {
QString &folderOverride()
{
    static QString folder;
    return folder;
}
} // namespace

Version programVersion()
{
    return {BELLBOARD_VERSION_MAJOR, BELLBOARD_VERSION_MINOR, BELLBOARD_VERSION_PATCH,
            BELLBOARD_VERSION_TWEAK};
}

QString programFolder()
{
    if (!folderOverride().isEmpty())
        return folderOverride();
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
}

void setProgramFolderOverride(const QString &folder)
{
    folderOverride() = folder;
}

QString presetFolder()
{
#ifdef BELLBOARD_USER_PRESETS
    if (folderOverride().isEmpty())
        return userPresetFolder();
#endif
    return programFolder();
}

QString userPresetFolder()
{
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty() || QDir::isRelativePath(data))
        data = QDir::homePath() + QStringLiteral("/.local/share");
    return QDir::toNativeSeparators(QDir::cleanPath(data + QStringLiteral("/bellboard")));
}

void makePresetFolder()
{
#ifdef BELLBOARD_USER_PRESETS
    const QString folder = presetFolder();
    QStringList missing;
    for (QString f = QDir::cleanPath(folder); !QFileInfo::exists(f);) {
        missing.prepend(f);
        const QString up = QFileInfo(f).path();
        if (up == f)
            break;
        f = up;
    }
    const auto owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    for (const QString &f : std::as_const(missing))
        if (!QDir().mkdir(f, owner))
            return;
#endif
}

QString pathSeparator()
{
    return QString(QDir::separator());
}

} // namespace bellboard::platform
