#include "ui/main/form1.h"

#include "app/dialogs.h"
#include "app/pads.h"
#include "app/picturebutton.h"
#include "platform/pathcodec.h"
#include "platform/programinfo.h"
#include "platform/sound.h"
#include "presets/form4.h"
#include "ui/about/form2.h"
#include "ui/locate/form3.h"
#include "ui/main/marqueelabel.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QCursor>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTimer>

namespace bellboard {

namespace {

constexpr int kRows = 18;
constexpr int kToolTop = 6195;

// Pads 0..17 fill the left column downwards, 18..35 the middle one downwards, and
// 36..53 the right column upwards.
QPoint padCell(int i)
{
    int column = 0;
    int row = 0;
    if (i < kRows) {
        row = i;
    } else if (i < 2 * kRows) {
        column = 1;
        row = i - kRows;
    } else {
        column = 2;
        row = 53 - i;
    }
    return {105 + 3255 * column, 210 + 315 * row};
}

PictureButton *toolButton(QWidget *parent, const char *name, const QString &caption, int left,
                          int width, int height)
{
    auto *b = new PictureButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(px(left), px(kToolTop), px(width), px(height));
    return b;
}

} // namespace

Form1::Form1(Module1 &module, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                          | Qt::WindowCloseButtonHint),
      m_module(module)
{
    buildLayout();
    load();
}

Form1::~Form1() = default;

void Form1::buildLayout()
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Bellboard"));
    setFont(windowFont());
    setFixedSize(px(9810), px(6630));
    setWindowIcon(QIcon(QStringLiteral(":/pictures/bellboard.ico")));
    m_background = loadPicture(QStringLiteral(":/pictures/background.bmp"));
    const QPixmap face = loadPicture(QStringLiteral(":/pictures/face.bmp"));

    for (int i = 0; i < kPadCount; ++i) {
        const QPoint cell = padCell(i);
        auto *button = new PictureButton(this); // no picture: a standard button
        button->setObjectName(QStringLiteral("wave"));
        button->setProperty("index", i);
        button->setGeometry(px(cell.x()), px(cell.y()), px(300), px(270));
        button->installEventFilter(this);
        connect(button, &QPushButton::clicked, this, [this, i] { padClick(i); });
        m_wave[i] = button;

        auto *label = new QLabel(this);
        label->setObjectName(QStringLiteral("Label1"));
        label->setProperty("index", i);
        label->setGeometry(px(cell.x() + 420), px(cell.y()), px(2640), px(270));
        label->setFrameShape(QFrame::Box);
        label->setLineWidth(1);
        label->setAlignment(Qt::AlignCenter);
        label->setTextFormat(Qt::PlainText);
        QPalette pal = label->palette();
        pal.setColor(QPalette::Window, Qt::white);
        pal.setColor(QPalette::WindowText, Qt::black);
        label->setPalette(pal);
        label->setAutoFillBackground(true);
        m_label[i] = label;
        showPad(*this, i, QString());
    }

    m_clearAllButton = toolButton(this, "Command19", QStringLiteral("&Clear all"), 105, 1095, 315);
    m_loadPresetButton
        = toolButton(this, "Command2", QStringLiteral("&Load preset"), 1365, 1095, 315);
    m_savePresetButton
        = toolButton(this, "Command1", QStringLiteral("&Save preset"), 2625, 1095, 315);
    m_aboutButton = toolButton(this, "Command21", QStringLiteral(" &About "), 3885, 1095, 315);
    for (PictureButton *b :
         {m_clearAllButton, m_loadPresetButton, m_savePresetButton, m_aboutButton})
        b->setPicture(face);

    m_display = new MarqueeLabel(this);
    m_display->setObjectName(QStringLiteral("Display"));
    m_display->setGeometry(px(5250), px(kToolTop), px(2955), px(315));
    m_display->setFont(windowFont(9.75, true));
    m_display->setFrameShape(QFrame::Box);
    m_display->setLineWidth(1);
    m_display->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QPalette displayPalette = m_display->palette();
    displayPalette.setColor(QPalette::Window, Qt::black);
    displayPalette.setColor(QPalette::WindowText, QColor(255, 255, 0));
    m_display->setPalette(displayPalette);
    m_display->setAutoFillBackground(true);

    m_stopButton = toolButton(this, "Command3", QString(), 8505, 330, 330);
    m_stopButton->setPicture(loadPicture(QStringLiteral(":/pictures/stop.ico")));
    m_stopButton->setToolTip(QStringLiteral("Stop"));
    m_stopButton->installEventFilter(this);
    m_recordButton = toolButton(this, "Command4", QString(), 8925, 330, 330);
    m_recordButton->setPicture(loadPicture(QStringLiteral(":/pictures/record.ico")));
    m_recordButton->setToolTip(QStringLiteral("Record"));
    m_volumeButton = toolButton(this, "Command6", QString(), 9345, 330, 330);
    m_volumeButton->setPicture(loadPicture(QStringLiteral(":/pictures/volume.bmp")));

    // What a screen reader speaks; the pictures alone say nothing to it.
    setSpoken(m_clearAllButton, withoutAccessKey(m_clearAllButton->text()),
              QStringLiteral("Empties every pad"));
    setSpoken(m_loadPresetButton, withoutAccessKey(m_loadPresetButton->text()),
              QStringLiteral("Opens the presets dialog to load a preset"));
    setSpoken(m_savePresetButton, withoutAccessKey(m_savePresetButton->text()),
              QStringLiteral("Opens the presets dialog to save the pads as a preset"));
    setSpoken(m_aboutButton, withoutAccessKey(m_aboutButton->text()),
              QStringLiteral("Shows the program's name and version"));
    setSpoken(m_stopButton, QStringLiteral("Stop"),
              QStringLiteral("Stops the sound that is playing"));
    setSpoken(m_recordButton, QStringLiteral("Record"),
              QStringLiteral("Starts the sound recorder"));
    setSpoken(m_volumeButton, QStringLiteral("Volume control"),
              QStringLiteral("Opens the system's volume control"));

    connect(m_clearAllButton, &QPushButton::clicked, this, &Form1::clearAll);
    connect(m_loadPresetButton, &QPushButton::clicked, this, &Form1::loadPresetClick);
    connect(m_savePresetButton, &QPushButton::clicked, this, &Form1::savePresetClick);
    connect(m_aboutButton, &QPushButton::clicked, this, &Form1::aboutClick);
    connect(m_stopButton, &QPushButton::clicked, this, &Form1::stopClick);
    connect(m_recordButton, &QPushButton::clicked, this, &Form1::recordClick);
    connect(m_volumeButton, &QPushButton::clicked, this, &Form1::volumeClick);

    // Tabbing follows the screen: down each column, the right one from its top (pad 53).
    QList<QWidget *> order;
    for (int i = 0; i < 2 * kRows; ++i)
        order << m_wave[i];
    for (int i = 53; i >= 2 * kRows; --i)
        order << m_wave[i];
    order << m_clearAllButton << m_loadPresetButton << m_savePresetButton << m_aboutButton
          << m_stopButton << m_recordButton << m_volumeButton;
    for (qsizetype k = 0; k + 1 < order.size(); ++k)
        setTabOrder(order[k], order[k + 1]);
    for (QWidget *w : order)
        w->setFocusPolicy(Qt::StrongFocus);

    m_clear = new QMenu(QStringLiteral("Clear"), this);
    m_clear->setObjectName(QStringLiteral("clear"));
    m_clearbtn = m_clear->addAction(QStringLiteral("Clear .Wav"));
    m_clearbtn->setObjectName(QStringLiteral("clearbtn"));
    connect(m_clearbtn, &QAction::triggered, this, &Form1::clearPad);

    m_timer = new QTimer(this);
    m_timer->setObjectName(QStringLiteral("Timer1"));
    m_timer->setInterval(340);
    connect(m_timer, &QTimer::timeout, this, &Form1::marqueeTick);
    m_timer->start();

    m_wave[0]->setFocus();
}

void Form1::load()
{
    const platform::Version v = platform::programVersion();
    setWindowTitle(QStringLiteral("Bellboard %1.%2.%3").arg(v.major).arg(v.minor).arg(v.revision));
    m_module.marqueeText = windowTitle() + QString(16, QLatin1Char(' '));
    m_module.marqueePos = 1;
    m_module.marqueeStage = 1;
    m_module.presetName = QStringLiteral("Untitled");
    showWholeMessage();
}

// A fixed name: a label without one is renamed, and so announced, on every tick. The whole
// message is its description, which changes only when another message starts.
void Form1::showWholeMessage()
{
    setSpoken(m_display, QStringLiteral("Marquee"), m_module.marqueeText.trimmed());
}

QAbstractButton *Form1::wave(int i) const
{
    return m_wave.at(i);
}

QPushButton *Form1::waveButton(int i) const
{
    return m_wave.at(i);
}

QLabel *Form1::Label1(int i) const
{
    return m_label.at(i);
}

QLabel *Form1::Display() const
{
    return m_display;
}

QPixmap Form1::clearAllPicture() const
{
    return m_clearAllButton->picture();
}

void Form1::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Button));
    p.drawPixmap(0, 0, m_background); // unscaled; what lies beyond the window is not seen
}

// The index of the pad whose button `object` is, else -1.
int Form1::padOf(const QObject *object) const
{
    const QVariant index = object->property("index");
    return object->objectName() == QLatin1String("wave") && index.isValid() ? index.toInt() : -1;
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    const int padIndex = padOf(watched);
    const bool pad = padIndex >= 0;
    if (event->type() == QEvent::MouseButtonPress) {
        const Qt::MouseButton button = static_cast<QMouseEvent *>(event)->button();
        if (button == Qt::LeftButton)
            warmUpFor(watched);
        if (pad)
            padMouseDown(padIndex, button);
    } else if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (!key->isAutoRepeat()
            && (key->key() == Qt::Key_Space || key->key() == Qt::Key_Return
                || key->key() == Qt::Key_Enter || key->key() == Qt::Key_Select))
            warmUpFor(watched);
        // The desktop's keys for a context menu: the Menu key and Shift+F10.
        const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
        if (pad
            && ((key->key() == Qt::Key_Menu && mods == Qt::NoModifier)
                || (key->key() == Qt::Key_F10 && mods == Qt::ShiftModifier))) {
            if (!key->isAutoRepeat())
                openPadMenu(padIndex, true);
            return true;
        }
    } else if (event->type() == QEvent::ContextMenu && pad
               && static_cast<QContextMenuEvent *>(event)->reason()
                      == QContextMenuEvent::Keyboard) {
        // Some window systems turn the Menu key into this event rather than a key press.
        openPadMenu(padIndex, true);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// A press on a pad that plays, or on Stop, comes some 100 ms before the click: time for a
// sleeping sound output to wake, so the click is heard at once.
void Form1::warmUpFor(QObject *watched)
{
    const int pad = padOf(watched);
    if ((pad >= 0 && !m_label.at(pad)->text().isEmpty()) || watched == m_stopButton)
        m_module.warmUpSound();
}

void Form1::keyPressEvent(QKeyEvent *event)
{
    // Push buttons outside a dialog ignore Enter; here it presses them as Space does.
    if (!pressFocusedButton(this, event))
        QWidget::keyPressEvent(event);
}

void Form1::padClick(int index)
{
    m_idx = qint16(index);
    if (m_label.at(m_idx)->text().isEmpty()) {
        Form3 locate(m_module, *this);
        locate.setWindowTitle(QStringLiteral("Locate .wav Files"));
        locate.exec();
        return;
    }
    const QByteArray path = platform::encodePath(m_module.padPaths.at(m_idx));
    m_module.PlaySoundA(path.constData(), nullptr, platform::SND_ASYNC);
    m_stopButton->setFocus();
}

void Form1::padMouseDown(int index, Qt::MouseButton button)
{
    if (button != Qt::RightButton)
        return;
    openPadMenu(index, false);
}

// From the keyboard the menu opens under the pad, as the pointer may be anywhere.
void Form1::openPadMenu(int index, bool fromKeyboard)
{
    m_idx = qint16(index);
    QWidget *pad = m_wave.at(index);
    m_clear->exec(fromKeyboard ? pad->mapToGlobal(QPoint(0, pad->height())) : QCursor::pos());
}

void Form1::clearPad()
{
    const int p = m_idx;
    m_module.padPaths.at(p).clear();
    showPad(*this, p, QString());
}

void Form1::clearAll()
{
    for (int p = 0; p < kPadCount; ++p) {
        showPad(*this, p, QString());
        m_module.padPaths[p].clear();
    }
}

void Form1::marqueeTick()
{
    Module1 &m = m_module;
    ++m.marqueePos;
    if (m.marqueeStage == 1)
        m.marqueeText = windowTitle() + QString(18, QLatin1Char(' '));
    if (m.marqueeStage == 2)
        m.marqueeText = QStringLiteral("By Corvilane") + QString(17, QLatin1Char(' '));
    if (m.marqueeStage == 3) {
        if (m.presetName.isEmpty())
            m.presetName = QStringLiteral("Untitled");
        m.marqueeText
            = QStringLiteral("Preset is: ") + m.presetName + QString(29, QLatin1Char(' '));
        m.marqueeStage = 0;
    }
    showWholeMessage();
    m_display->setText(m.marqueeText.left(m.marqueePos));
    if (m.marqueePos > m.marqueeText.size()) {
        m.marqueePos = 1;
        ++m.marqueeStage;
        m_display->clear();
    }
}

void Form1::savePresetClick()
{
    Form4 presets(m_module, *this);
    presets.modeLabel->setText(QStringLiteral("Save Preset"));
    presets.actionButton->setText(QStringLiteral("&Save"));
    processPendingEvents();
    presets.nameField->setText(m_module.presetName.isEmpty() ? QStringLiteral("Untitled")
                                                             : m_module.presetName);
    presets.exec();
}

void Form1::loadPresetClick()
{
    Form4 presets(m_module, *this);
    presets.modeLabel->setText(QStringLiteral("Load Preset"));
    presets.actionButton->setText(QStringLiteral("&Load"));
    presets.nameField->setText(QString());
    presets.exec();
}

void Form1::aboutClick()
{
    Form2 about(*this);
    about.exec();
}

void Form1::stopClick()
{
    // Joined as is: a program folder at a root gives two separators in a row.
    const QString path
        = platform::programFolder() + platform::pathSeparator() + QStringLiteral("stop.wav");
    const QByteArray bytes = platform::encodePath(path);
    m_module.PlaySoundA(bytes.constData(), nullptr, platform::SND_ASYNC);
}

void Form1::recordClick()
{
    startProgram(QStringLiteral("sndrec32.exe"));
}

void Form1::volumeClick()
{
    startProgram(QStringLiteral("sndvol32.exe"));
}

void Form1::startProgram(const QString &name)
{
    const QString failure = m_module.startProgram(name);
    if (!failure.isEmpty())
        showMessage(failure);
}

} // namespace bellboard
