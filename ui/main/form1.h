#pragma once

#include "app/mainwindow.h"
#include "app/module1.h"

#include <QWidget>

#include <array>

class QLabel;
class QMenu;
class QAction;
class QPushButton;
class QTimer;

namespace bellboard {

class PictureButton;
class MarqueeLabel;

// The pad board: 54 pads, the tool row, the marquee.
class Form1 final : public QWidget, public MainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Form1)

public:
    explicit Form1(Module1 &module, QWidget *parent = nullptr);
    ~Form1() override;

    // MainWindow
    qint16 Idx() const override { return m_idx; }
    QAbstractButton *wave(int i) const override;
    QLabel *Label1(int i) const override;
    QString caption() const override { return windowTitle(); }
    QIcon icon() const override { return windowIcon(); }
    QPixmap backgroundPicture() const override { return m_background; }
    QPixmap clearAllPicture() const override;
    QWidget *boardWindow() override { return this; }

    QPushButton *waveButton(int i) const;
    QLabel *Display() const;
    QTimer *Timer1() const { return m_timer; }
    QMenu *clearMenu() const { return m_clear; }

    // Event handlers, public so tests can drive them as the window system would.
    void padClick(int index);
    void padMouseDown(int index, Qt::MouseButton button);
    void clearPad();
    void clearAll();
    void marqueeTick();
    void savePresetClick();
    void loadPresetClick();
    void aboutClick();
    void stopClick();
    void recordClick();
    void volumeClick();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void buildLayout();
    void load();
    void startProgram(const QString &name);
    void warmUpFor(QObject *watched);
    int padOf(const QObject *object) const;
    void showWholeMessage();
    void openPadMenu(int index, bool fromKeyboard);

    Module1 &m_module;
    qint16 m_idx = 0;
    QPixmap m_background;
    std::array<QPushButton *, kPadCount> m_wave{};
    std::array<QLabel *, kPadCount> m_label{};
    PictureButton *m_clearAllButton = nullptr;
    PictureButton *m_loadPresetButton = nullptr;
    PictureButton *m_savePresetButton = nullptr;
    PictureButton *m_aboutButton = nullptr;
    MarqueeLabel *m_display = nullptr;
    PictureButton *m_stopButton = nullptr;
    PictureButton *m_recordButton = nullptr;
    PictureButton *m_volumeButton = nullptr;
    QTimer *m_timer = nullptr;
    QMenu *m_clear = nullptr;
    QAction *m_clearbtn = nullptr;
};

} // namespace bellboard
