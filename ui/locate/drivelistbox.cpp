#include "ui/locate/drivelistbox.h"

#include "platform/volumes.h"

namespace bellboard {

namespace {
QString display(const platform::Volume &v)
{
    return v.name.isEmpty() ? v.root : v.root + QStringLiteral(" [") + v.name + QLatin1Char(']');
}
} // namespace

DriveListBox::DriveListBox(QWidget *parent) : QComboBox(parent)
{
    for (const platform::Volume &v : platform::mountedVolumes())
        addItem(display(v), v.root);
}

QString DriveListBox::drive() const
{
    return currentData().toString();
}

void DriveListBox::setDrive(const QString &root)
{
    int i = findData(root);
    if (i < 0) {
        addItem(root, root);
        i = count() - 1;
    }
    setCurrentIndex(i);
}

} // namespace bellboard
