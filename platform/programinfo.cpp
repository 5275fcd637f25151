#include "platform/programinfo.h"

#include "platform/version.h"

#include <QCoreApplication>
#include <QDir>

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

QString pathSeparator()
{
    return QString(QDir::separator());
}

} // namespace bellboard::platform
