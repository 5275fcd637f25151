#include "ui/about/form2.h"

#include "app/dialogs.h"
#include "app/picturebutton.h"

#include <QFontMetrics>
#include <QGraphicsDropShadowEffect>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>

#include <algorithm>

namespace bellboard {

namespace {

// The heading's box, sized for the design text "Bellboard".
const QRect kHeading(px(1050), px(210), px(2445), px(555));
// The credit line, centred under the heading; a heading grown taller pushes it down, never
// onto the button.
const QRect kCredit(px(1050), px(900), px(2445), px(240));
const QRect kOk(px(1980), px(1620), px(735), px(270));
// Keeps a grown heading off the window's edges.
constexpr int kEdge = 4;

} // namespace

Form2::Form2(MainWindow &main) : QDialog(main.boardWindow())
{
    setObjectName(QStringLiteral("Form2"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    setFont(windowFont());
    setWindowIcon(QIcon(QStringLiteral(":/pictures/bellboard.ico")));

    // The client area's stored place on the screen, and its fixed size.
    const QPoint screenOrigin = QGuiApplication::primaryScreen()
                                    ? QGuiApplication::primaryScreen()->geometry().topLeft()
                                    : QPoint();
    setGeometry(QRect(screenOrigin + QPoint(px(1800), px(2955)), QSize(px(4500), px(2055))));
    setFixedSize(px(4500), px(2055));

    m_okButton = new PictureButton(QStringLiteral("&Ok"), this);
    m_okButton->setObjectName(QStringLiteral("Command1"));
    m_okButton->setGeometry(kOk);
    m_okButton->setPicture(loadPicture(QStringLiteral(":/pictures/face.bmp")));
    // Not the default button: Enter presses it only while it has the focus.
    m_okButton->setDefault(false);
    connect(m_okButton, &QPushButton::clicked, this, &QDialog::accept);

    m_heading = new QLabel(this);
    m_heading->setObjectName(QStringLiteral("Label1"));
    m_heading->setGeometry(kHeading);
    m_heading->setFont(windowFont(24, true));
    m_heading->setTextFormat(Qt::PlainText);
    m_heading->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_heading->setAutoFillBackground(false);
    // Light text with a shadow, like the button captions: the background is dark.
    QPalette pal = m_heading->palette();
    pal.setColor(QPalette::WindowText, Qt::white);
    m_heading->setPalette(pal);
    auto *shadow = new QGraphicsDropShadowEffect(m_heading);
    shadow->setColor(QColor(0, 0, 0, 200));
    shadow->setOffset(2, 2);
    shadow->setBlurRadius(4);
    m_heading->setGraphicsEffect(shadow);

    // Light text with the same shadow, in the window's font; fixed, so set here once.
    m_credit = new QLabel(QStringLiteral("By Corvilane"), this);
    m_credit->setObjectName(QStringLiteral("Label2"));
    m_credit->setGeometry(kCredit);
    m_credit->setTextFormat(Qt::PlainText);
    m_credit->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_credit->setPalette(pal);
    auto *creditShadow = new QGraphicsDropShadowEffect(m_credit);
    creditShadow->setColor(shadow->color());
    creditShadow->setOffset(1, 1);
    creditShadow->setBlurRadius(2);
    m_credit->setGraphicsEffect(creditShadow);

    m_okButton->setFocus();
    load(main);
}

Form2::~Form2() = default;

void Form2::load(MainWindow &main)
{
    setWindowTitle(main.caption());
    m_heading->setText(main.caption());
    fitHeading();
    setBackgroundPicture(this, main.backgroundPicture());
}

// The title is longer than the design text. The heading grows sideways about its centre
// to hold it on one line, and downwards when the font stands taller than the design's;
// only a title wider than the window wraps, and never onto the credit line.
void Form2::fitHeading()
{
    const QFontMetrics metrics(m_heading->font());
    const int margins = m_heading->width() - m_heading->contentsRect().width();
    const int maxWidth = width() - 2 * kEdge;
    const int wanted
        = metrics.boundingRect(QRect(0, 0, 10000, 10000), Qt::TextSingleLine, m_heading->text())
              .width()
          + margins;

    QRect box = kHeading;
    if (wanted > box.width()) {
        // Grow both sides alike so the centre stays where it was designed.
        const int grow = std::min((wanted - box.width() + 1) / 2, (maxWidth - box.width()) / 2);
        box.adjust(-grow, 0, grow, 0);
    }
    const bool wrap = wanted > box.width();
    m_heading->setWordWrap(wrap);
    const int flags = wrap ? Qt::TextWordWrap : Qt::TextSingleLine;
    const int textHeight
        = metrics.boundingRect(QRect(0, 0, box.width() - margins, 10000), flags, m_heading->text())
              .height();
    const int lowest = kOk.top() - 1 - kCredit.height();
    box.setHeight(std::min(std::max(box.height(), textHeight + margins), lowest - box.top()));
    m_heading->setGeometry(box);
    m_credit->move(kCredit.left(), std::max(kCredit.top(), box.bottom() + 1));
}

void Form2::keyPressEvent(QKeyEvent *event)
{
    // No cancel button: Escape does not close the box.
    if (!pressFocusedButton(this, event))
        QDialog::keyPressEvent(event);
}

} // namespace bellboard
