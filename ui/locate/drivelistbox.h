#pragma once

#include <QComboBox>

namespace bellboard {

// The drive list: one entry per volume. It signals currentIndexChanged only when another
// volume is chosen, so choosing the one shown again does nothing.
class DriveListBox final : public QComboBox
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DriveListBox)

public:
    explicit DriveListBox(QWidget *parent = nullptr);

    // The root of the volume shown ("/", "/media/stick/", "C:\").
    QString drive() const;
    // Shows the volume with this root, adding it when the list lacks it.
    void setDrive(const QString &root);
};

} // namespace bellboard
