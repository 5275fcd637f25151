#pragma once

#include "app/mainwindow.h"
#include "app/module1.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QWidget>

#include <array>

namespace bellboard::test {

// A main window with real pad controls, for testing the dialogs without the whole board.
class FakeMainWindow final : public MainWindow
{
public:
    FakeMainWindow()
    {
        for (int i = 0; i < kPadCount; ++i) {
            buttons[i] = new QPushButton(QStringLiteral("..."), &host);
            labels[i] = new QLabel(&host);
        }
        host.setWindowTitle(QStringLiteral("Bellboard 1.2.6"));
        background = QPixmap(672, 462);
        background.fill(QColor(10, 20, 30));
        face = QPixmap(137, 49);
        face.fill(QColor(40, 60, 90));
    }

    qint16 Idx() const override { return idx; }
    QAbstractButton *wave(int i) const override { return buttons.at(i); }
    QLabel *Label1(int i) const override { return labels.at(i); }
    QString caption() const override { return host.windowTitle(); }
    QIcon icon() const override { return host.windowIcon(); }
    QPixmap backgroundPicture() const override { return background; }
    QPixmap clearAllPicture() const override { return face; }
    QWidget *boardWindow() override { return &host; }

    QWidget host;
    qint16 idx = 0;
    std::array<QPushButton *, kPadCount> buttons{};
    std::array<QLabel *, kPadCount> labels{};
    QPixmap background;
    QPixmap face;
};

} // namespace bellboard::test
