#include "ui/about/form2.h"

#include "app/picturebutton.h"
#include "support/fakemainwindow.h"
#include "support/modal.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QTest>
#include <QTimer>

using namespace bellboard;

namespace {

PictureButton *okButton(const Form2 &box)
{
    return box.findChild<PictureButton *>(QStringLiteral("Command1"));
}

QLabel *heading(const Form2 &box)
{
    return box.findChild<QLabel *>(QStringLiteral("Label1"));
}

QLabel *credit(const Form2 &box)
{
    return box.findChild<QLabel *>(QStringLiteral("Label2"));
}

// What the label actually shows of its text fits inside it, on as many lines as it uses.
bool showsWholeText(const QLabel &label)
{
    const QRect room = label.contentsRect();
    const QFontMetrics metrics(label.font());
    const int flags = label.wordWrap() ? Qt::TextWordWrap : Qt::TextSingleLine;
    const QRect needed = metrics.boundingRect(QRect(room.topLeft(), QSize(room.width(), 10000)),
                                              flags, label.text());
    return needed.width() <= room.width() && needed.height() <= room.height();
}

} // namespace

class TestForm2 final : public QObject
{
    Q_OBJECT

private slots:
    void layout();
    void headingShowsTheCaption_data();
    void headingShowsTheCaption();
    void borrowsTheMainWindowsBackground();
    void reopeningLoadsAgain();
    void closes_data();
    void closes();
    void escapeDoesNotClose();
};

void TestForm2::layout()
{
    test::FakeMainWindow main;
    Form2 box(main);

    QCOMPARE(box.size(), QSize(300, 137));
    QCOMPARE(box.minimumSize(), box.maximumSize());
    // A child of the board, so a compositor keeps it over the board.
    QCOMPARE(box.parentWidget(), &main.host);
    QVERIFY(box.isWindow());
    QCOMPARE(box.geometry().topLeft() - box.screen()->geometry().topLeft(), QPoint(120, 197));
    QVERIFY(!(box.windowFlags() & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(box.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(box.windowFlags() & Qt::WindowCloseButtonHint);

    // The program's icon, with its 32 x 32 image.
    QVERIFY(box.windowIcon().availableSizes().contains(QSize(32, 32)));

    PictureButton *ok = okButton(box);
    QVERIFY(ok);
    QCOMPARE(ok->text(), QStringLiteral("&Ok"));
    QCOMPARE(ok->geometry(), QRect(132, 108, 49, 18));
    QVERIFY(!ok->isDefault());
    QCOMPARE(ok->focusPolicy() & Qt::TabFocus, Qt::TabFocus);
    // Its own copy of the face picture, not the one the main window lends.
    const QImage face(QStringLiteral(":/pictures/face.bmp"));
    QCOMPARE(face.size(), QSize(137, 49));
    QCOMPARE(ok->picture().toImage().convertToFormat(QImage::Format_RGB32),
             face.convertToFormat(QImage::Format_RGB32));

    QLabel *by = credit(box);
    QVERIFY(by);
    QCOMPARE(by->text(), QStringLiteral("By Corvilane"));
    QCOMPARE(by->geometry(), QRect(70, 60, 163, 16));
    QCOMPARE(by->font(), box.font());

    QLabel *label = heading(box);
    QVERIFY(label);
    QCOMPARE(label->font().families().value(0), QStringLiteral("MS Sans Serif"));
    QCOMPARE(label->font().pointSize(), 24);
    QCOMPARE(label->font().weight(), QFont::Bold);
    QCOMPARE(label->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    QVERIFY(!label->autoFillBackground());
    QCOMPARE(label->focusPolicy(), Qt::NoFocus);
}

void TestForm2::headingShowsTheCaption_data()
{
    QTest::addColumn<QString>("caption");

    QTest::newRow("the program's caption") << QStringLiteral("Bellboard 1.2.6");
    QTest::newRow("longer version") << QStringLiteral("Bellboard 10.20.300");
    QTest::newRow("shorter than the box") << QStringLiteral("Bb");
    QTest::newRow("wider than the window") << QStringLiteral("Bellboard 1.2.6 (a longer title)");
}

void TestForm2::headingShowsTheCaption()
{
    QFETCH(QString, caption);

    test::FakeMainWindow main;
    main.host.setWindowTitle(caption);
    Form2 box(main);
    QLabel *label = heading(box);

    QCOMPARE(box.windowTitle(), caption);
    QCOMPARE(label->text(), caption);

    QVERIFY2(
        showsWholeText(*label),
        qPrintable(
            QStringLiteral("%1 in %2 x %3").arg(caption).arg(label->width()).arg(label->height())));
    // It wraps only when one line would not fit inside the window.
    const int advance = QFontMetrics(label->font()).horizontalAdvance(caption);
    const bool oneLine = advance < box.width() - 8;
    QCOMPARE(label->wordWrap(), !oneLine);
    QVERIFY(box.rect().contains(label->geometry()));
    // Heading, credit line and button, top to bottom, each whole and apart.
    QLabel *by = credit(box);
    QCOMPARE(by->text(), QStringLiteral("By Corvilane"));
    QVERIFY(showsWholeText(*by));
    QVERIFY(by->geometry().top() > label->geometry().bottom());
    QVERIFY(by->geometry().bottom() < okButton(box)->geometry().top());

    // The heading keeps the design box's top, and keeps at least its size.
    QCOMPARE(label->y(), 14);
    QVERIFY(label->width() >= 163);
    QVERIFY(label->height() >= 37);
    if (oneLine) {
        // Grown alike on both sides: its centre stays the design box's centre.
        QVERIFY2(std::abs(2 * label->x() + label->width() - (2 * 70 + 163)) <= 1,
                 qPrintable(QString::number(label->x())));
        // A text that fits the design box leaves it as designed.
        const QFontMetrics metrics(label->font());
        if (metrics.horizontalAdvance(caption) < 163 && metrics.height() <= 37)
            QCOMPARE(label->geometry(), QRect(70, 14, 163, 37));
    }
}

void TestForm2::borrowsTheMainWindowsBackground()
{
    test::FakeMainWindow main;
    main.background.fill(QColor(1, 2, 3));
    Form2 box(main);

    QVERIFY(box.autoFillBackground());
    QCOMPARE(box.palette().brush(QPalette::Window).texture().toImage(), main.background.toImage());
}

void TestForm2::reopeningLoadsAgain()
{
    test::FakeMainWindow main;
    {
        Form2 box(main);
        test::whenModal([](QWidget *w) { w->close(); });
        box.exec();
    }
    main.host.setWindowTitle(QStringLiteral("Bellboard 9.8.7"));
    main.background.fill(QColor(200, 100, 50));

    Form2 again(main);
    QCOMPARE(again.windowTitle(), QStringLiteral("Bellboard 9.8.7"));
    QCOMPARE(heading(again)->text(), QStringLiteral("Bellboard 9.8.7"));
    QCOMPARE(again.palette().brush(QPalette::Window).texture().toImage(),
             main.background.toImage());
}

void TestForm2::closes_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Ok clicked") << QStringLiteral("click");
    QTest::newRow("Alt+O") << QStringLiteral("alt+o");
    QTest::newRow("space on the focused Ok") << QStringLiteral("space");
    QTest::newRow("close box") << QStringLiteral("close");
}

void TestForm2::closes()
{
    QFETCH(QString, how);

    test::FakeMainWindow main;
    Form2 box(main);
    bool ran = false;
    QWidget *focused = nullptr;
    test::whenModal([&](QWidget *w) {
        ran = true;
        focused = w->focusWidget();
        if (how == QLatin1String("click"))
            QTest::mouseClick(okButton(box), Qt::LeftButton);
        else if (how == QLatin1String("alt+o")) {
            w->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(w));
            QTest::keyClick(w, Qt::Key_O, Qt::AltModifier);
        } else if (how == QLatin1String("space"))
            QTest::keyClick(w->focusWidget(), Qt::Key_Space);
        else
            w->close();
        // Anything that failed to close it must not hang the test. The access key clicks
        // the button a moment later, as a mouse click would.
        QTimer::singleShot(2000, w, [w] {
            if (w->isVisible()) {
                w->setProperty("stuck", true);
                w->close();
            }
        });
    });
    box.exec();

    QVERIFY(ran);
    QCOMPARE(focused, okButton(box));
    QVERIFY(!box.property("stuck").toBool());
    QVERIFY(!box.isVisible());
}

void TestForm2::escapeDoesNotClose()
{
    test::FakeMainWindow main;
    Form2 box(main);
    bool stayedOpen = false;
    test::whenModal([&](QWidget *w) {
        QTest::keyClick(w, Qt::Key_Escape);
        stayedOpen = w->isVisible();
        QTest::mouseClick(okButton(box), Qt::LeftButton);
    });
    box.exec();
    QVERIFY(stayedOpen);
    QVERIFY(!box.isVisible());
}

QTEST_MAIN(TestForm2)
#include "test_form2.moc"
