// The presets dialog: its look, its list, its name field and its three buttons.
#include "support/fakemainwindow.h"
#include "support/files.h"
#include "support/messages.h"

#include "app/picturebutton.h"
#include "platform/programinfo.h"
#include "presets/form4.h"
#include "presets/presetfile.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace bellboard;
using namespace bellboard::test;
using bellboard::test::FakeMainWindow;
using bellboard::test::MessageCatcher;

namespace {

QStringList items(const QListWidget *list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

QPoint centreOf(QListWidget *list, const QString &text)
{
    const QList<QListWidgetItem *> found = list->findItems(text, Qt::MatchExactly);
    return found.isEmpty() ? QPoint(-1, -1) : list->visualItemRect(found.first()).center();
}

} // namespace

class TestForm4 final : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QVERIFY(m_dir->isValid());
        platform::setProgramFolderOverride(m_dir->path());
        m_module = Module1{};
        m_module.presetName = QStringLiteral("Untitled");
        m_main.reset(new FakeMainWindow);
        // Three presets, each with its own first pad, and things that are not presets.
        for (const char *name : {"Jazz", "Rock", "Soul"})
            QVERIFY(writeBytes(m_dir->filePath(QString::fromLatin1(name) + ".pst"),
                               "/" + QByteArray(name).toLower() + ".wav\r\n" + crlfs(53)));
        QVERIFY(writeBytes(m_dir->filePath("notes.txt"), "x"));
        QVERIFY(writeBytes(m_dir->filePath("Loud.PST"), crlfs(54)));
    }
    void cleanup() { platform::setProgramFolderOverride(QString()); }

    void layout_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("text");
        QTest::newRow("Label1") << "Label1" << QRect(35, 7, 127, 22) << "Action";
        QTest::newRow("Text1") << "Text1" << QRect(35, 35, 127, 19) << QString();
        QTest::newRow("List1") << "List1" << QRect(14, 63, 162, 225) << QString();
        QTest::newRow("Command1") << "Command1" << QRect(14, 301, 50, 22) << "Action";
        QTest::newRow("command3") << "command3" << QRect(70, 301, 50, 22) << "Delete";
        QTest::newRow("Command2") << "Command2" << QRect(126, 301, 50, 22) << "&Cancel";
    }
    void layout()
    {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        QFETCH(QString, text);
        Form4 dlg(m_module, *m_main);
        QCOMPARE(dlg.size(), QSize(193, 335));
        QVERIFY(
            !(dlg.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        auto *w = dlg.findChild<QWidget *>(name);
        QVERIFY(w);
        QCOMPARE(w->geometry(), geometry);
        if (auto *label = qobject_cast<QLabel *>(w))
            QCOMPARE(label->text(), text);
        if (auto *b = qobject_cast<QPushButton *>(w)) {
            QCOMPARE(b->text(), text);
            QVERIFY(!b->autoDefault() && !b->isDefault()); // no default button
        }
    }

    // The look is the main window's, taken when the dialog is made.
    void look()
    {
        QPixmap iconPicture(32, 32);
        iconPicture.fill(Qt::red);
        m_main->host.setWindowIcon(QIcon(iconPicture));
        m_main->host.setWindowTitle(QStringLiteral("Bellboard 9.8.7"));
        Form4 dlg(m_module, *m_main);
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Bellboard 9.8.7"));
        QCOMPARE(dlg.windowIcon().pixmap(32, 32).toImage().pixelColor(5, 5), QColor(Qt::red));
        QCOMPARE(dlg.palette().brush(QPalette::Window).texture().cacheKey(),
                 m_main->background.cacheKey());
        for (PictureButton *b : {dlg.actionButton, dlg.deleteButton, dlg.cancelButton})
            QCOMPARE(b->picture().cacheKey(), m_main->face.cacheKey());
        QCOMPARE(dlg.modeLabel->font().family(), QStringLiteral("MS Sans Serif"));
        QCOMPARE(dlg.modeLabel->font().pointSize(), 12);
        QVERIFY(dlg.modeLabel->font().bold());
        QVERIFY(dlg.modeLabel->alignment() & Qt::AlignHCenter);
        QVERIFY(!dlg.modeLabel->autoFillBackground());
    }

    void focusAndTabOrder()
    {
        Form4 dlg(m_module, *m_main);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(dlg.actionButton));
        const QList<QWidget *> order{dlg.deleteButton, dlg.cancelButton, dlg.nameField,
                                     dlg.presetList, dlg.actionButton};
        for (QWidget *next : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
    }

    void list()
    {
        Form4 dlg(m_module, *m_main);
        QCOMPARE(items(dlg.presetList), listPresets(m_dir->path())); // the listing's own order
        QStringList sorted = items(dlg.presetList);
        sorted.sort();
        QCOMPARE(sorted, (QStringList{"Jazz", "Rock", "Soul"}));
        QVERIFY(dlg.presetList->selectedItems().isEmpty());
        QCOMPARE(dlg.nameField->text(), QStringLiteral("Untitled"));
    }

    // A folder that cannot be listed: an empty list, and the dialog still works.
    void unlistableFolder()
    {
        platform::setProgramFolderOverride(m_dir->filePath("gone"));
        Form4 dlg(m_module, *m_main);
        QCOMPARE(dlg.presetList->count(), 0);
        dlg.actionButton->setText(QStringLiteral("&Save"));
        dlg.show();
        QTest::mouseClick(dlg.deleteButton, Qt::LeftButton);
        QVERIFY(dlg.isVisible());
        MessageCatcher messages;
        QTest::mouseClick(dlg.actionButton, Qt::LeftButton);
        QCOMPARE(messages.texts, QStringList{"File Error#76"});
        QVERIFY(!dlg.isVisible());
    }

    void nameFollowsField_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("expected");
        QTest::newRow("load step") << "open"
                                   << "Funk";
        QTest::newRow("caller") << "caller"
                                << "";
        QTest::newRow("typing") << "type"
                                << "FunkX";
        QTest::newRow("list click") << "click"
                                    << "Rock";
        QTest::newRow("keyboard selection") << "keys" << QString(); // the first entry, read below
    }
    void nameFollowsField()
    {
        QFETCH(QString, how);
        QFETCH(QString, expected);
        m_module.presetName = QStringLiteral("Funk");
        Form4 dlg(m_module, *m_main);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        if (how == "caller") {
            dlg.nameField->setText(QString());
        } else if (how == "type") {
            dlg.nameField->setFocus();
            dlg.nameField->end(false);
            QTest::keyClicks(dlg.nameField, QStringLiteral("X"));
        } else if (how == "click") {
            QTest::mouseClick(dlg.presetList->viewport(), Qt::LeftButton, {},
                              centreOf(dlg.presetList, "Rock"));
        } else if (how == "keys") {
            dlg.presetList->setFocus();
            QTest::keyClick(dlg.presetList, Qt::Key_Down); // from no entry to the first
            QVERIFY(dlg.presetList->count() > 0);
            if (!dlg.presetList->selectedItems().isEmpty())
                expected = dlg.presetList->selectedItems().first()->text();
            QVERIFY(!expected.isEmpty());
        }
        QCOMPARE(dlg.nameField->text(), expected);
        QCOMPARE(m_module.presetName, expected);
    }

    // The mode is the action button's caption, compared exactly.
    void action_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("loads");
        QTest::newRow("&Load") << "&Load" << true;
        QTest::newRow("&Save") << "&Save" << false;
        QTest::newRow("&load is not load") << "&load" << false;
        QTest::newRow("Load without & is not load") << "Load" << false;
    }
    void action()
    {
        QFETCH(QString, caption);
        QFETCH(bool, loads);
        m_module.padPaths[0] = QStringLiteral("/board.wav");
        Form4 dlg(m_module, *m_main);
        dlg.actionButton->setText(caption);
        dlg.nameField->setText(QStringLiteral("Rock"));
        dlg.show();
        MessageCatcher messages;
        QTest::mouseClick(dlg.actionButton, Qt::LeftButton);
        QCOMPARE(messages.texts, QStringList());
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        if (loads) {
            QCOMPARE(m_module.padPaths[0], QStringLiteral("/rock.wav"));
            QCOMPARE(m_main->Label1(0)->text(), QStringLiteral("rock"));
            QCOMPARE(m_main->wave(0)->text(), QStringLiteral(">"));
        } else {
            QCOMPARE(readBytes(m_dir->filePath("Rock.pst")), "/board.wav\r\n" + crlfs(53));
        }
    }

    void failureStillCloses()
    {
        m_module.padPaths[2] = QStringLiteral("/kept.wav");
        m_main->Label1(2)->setText(QStringLiteral("kept"));
        m_main->wave(2)->setText(QStringLiteral(">"));
        Form4 dlg(m_module, *m_main);
        dlg.actionButton->setText(QStringLiteral("&Load"));
        dlg.nameField->setText(QStringLiteral("Nope"));
        dlg.show();
        MessageCatcher messages;
        QTest::mouseClick(dlg.actionButton, Qt::LeftButton);
        QCOMPARE(messages.texts, QStringList{"File Error#53"});
        QVERIFY(!dlg.isVisible());
        QCOMPARE(m_module.presetName, QStringLiteral("Nope"));
        QCOMPARE(m_module.padPaths[2], QStringLiteral("/kept.wav"));
        QCOMPARE(m_main->Label1(2)->text(), QStringLiteral("kept"));
        QCOMPARE(m_main->wave(2)->text(), QStringLiteral(">"));
    }

    void doubleClick_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::newRow("load mode loads the entry") << "&Load";
        QTest::newRow("save mode overwrites the entry") << "&Save";
    }
    void doubleClick()
    {
        QFETCH(QString, caption);
        m_module.padPaths[4] = QStringLiteral("/four.wav");
        Form4 dlg(m_module, *m_main);
        dlg.actionButton->setText(caption);
        dlg.nameField->setText(QString());
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        const QPoint at = centreOf(dlg.presetList, "Soul");
        QTest::mouseClick(dlg.presetList->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(dlg.presetList->viewport(), Qt::LeftButton, {}, at);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(m_module.presetName, QStringLiteral("Soul"));
        if (caption == "&Load") {
            QCOMPARE(m_module.padPaths[0], QStringLiteral("/soul.wav"));
            QCOMPARE(m_module.padPaths[4], QString());
        } else {
            QCOMPARE(readBytes(m_dir->filePath("Soul.pst")),
                     crlfs(4) + "/four.wav\r\n" + crlfs(49));
        }
    }

    // The list only fills the field: an edited field loads by its text, Delete by the entry.
    void editedAfterSelecting()
    {
        Form4 dlg(m_module, *m_main);
        dlg.actionButton->setText(QStringLiteral("&Load"));
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QTest::mouseClick(dlg.presetList->viewport(), Qt::LeftButton, {},
                          centreOf(dlg.presetList, "Jazz"));
        dlg.nameField->setText(QStringLiteral("Rock"));
        QTest::mouseClick(dlg.deleteButton, Qt::LeftButton);
        QVERIFY(!QFile::exists(m_dir->filePath("Jazz.pst")));
        QVERIFY(QFile::exists(m_dir->filePath("Rock.pst")));
        QTest::mouseClick(dlg.actionButton, Qt::LeftButton);
        QCOMPARE(m_module.padPaths[0], QStringLiteral("/rock.wav"));
    }

    void deleteEntry()
    {
        Form4 dlg(m_module, *m_main);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QTest::mouseClick(dlg.presetList->viewport(), Qt::LeftButton, {},
                          centreOf(dlg.presetList, "Rock"));
        dlg.nameField->setText(QStringLiteral("Kept"));
        MessageCatcher messages;
        QTest::mouseClick(dlg.deleteButton, Qt::LeftButton);
        QVERIFY(!QFile::exists(m_dir->filePath("Rock.pst")));
        QVERIFY(!items(dlg.presetList).contains("Rock"));
        QCOMPARE(dlg.presetList->count(), 2);
        QVERIFY(dlg.presetList->selectedItems().isEmpty());
        QCOMPARE(dlg.nameField->text(), QStringLiteral("Kept"));
        QCOMPARE(m_module.presetName, QStringLiteral("Kept"));
        QVERIFY(dlg.isVisible());

        // Nothing is selected now, so a second Delete does nothing.
        QTest::mouseClick(dlg.deleteButton, Qt::LeftButton);
        QCOMPARE(dlg.presetList->count(), 2);
        QVERIFY(QFile::exists(m_dir->filePath("Jazz.pst"))
                && QFile::exists(m_dir->filePath("Soul.pst")));
        QCOMPARE(messages.texts, QStringList());
    }

    void deleteWithNothingSelected()
    {
        Form4 dlg(m_module, *m_main);
        dlg.show();
        const QStringList before = items(dlg.presetList);
        MessageCatcher messages;
        QTest::mouseClick(dlg.deleteButton, Qt::LeftButton);
        QCOMPARE(items(dlg.presetList), before);
        for (const QString &name : before)
            QVERIFY(QFile::exists(m_dir->filePath(name + ".pst")));
        QCOMPARE(messages.texts, QStringList());
        QVERIFY(dlg.isVisible());
    }

    void deleteRefused_data()
    {
        QTest::addColumn<QString>("why");
        QTest::addColumn<QString>("message");
        QTest::newRow("read-only") << "readonly"
                                   << "File Error#75";
        QTest::newRow("already gone") << "gone"
                                      << "File Error#53";
    }
    void deleteRefused()
    {
        QFETCH(QString, why);
        QFETCH(QString, message);
        Form4 dlg(m_module, *m_main);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        const QString file = m_dir->filePath("Soul.pst");
        if (why == "readonly")
            QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadOther));
        else
            QVERIFY(QFile::remove(file));
        QTest::mouseClick(dlg.presetList->viewport(), Qt::LeftButton, {},
                          centreOf(dlg.presetList, "Soul"));
        MessageCatcher messages;
        QTest::mouseClick(dlg.deleteButton, Qt::LeftButton);
        QCOMPARE(messages.texts, QStringList{message});
        QCOMPARE(messages.malformed, QStringList());
        QVERIFY(items(dlg.presetList).contains("Soul"));
        QCOMPARE(QFile::exists(file), why == "readonly");
        QVERIFY(dlg.isVisible());
    }

    // Opened and cancelled as the main window's buttons open it.
    void cancel_data()
    {
        QTest::addColumn<bool>("loadMode");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::newRow("load mode empties presetName") << true << "Jazz"
                                                      << "";
        QTest::newRow("save mode keeps the name") << false << "Jazz"
                                                  << "Jazz";
        QTest::newRow("save mode fills an empty name") << false << ""
                                                       << "Untitled";
    }
    void cancel()
    {
        QFETCH(bool, loadMode);
        QFETCH(QString, before);
        QFETCH(QString, after);
        m_module.presetName = before;
        m_module.padPaths[1] = QStringLiteral("/one.wav");
        Form4 dlg(m_module, *m_main);
        dlg.modeLabel->setText(loadMode ? QStringLiteral("Load Preset")
                                        : QStringLiteral("Save Preset"));
        dlg.actionButton->setText(loadMode ? QStringLiteral("&Load") : QStringLiteral("&Save"));
        if (loadMode)
            dlg.nameField->setText(QString());
        else
            dlg.nameField->setText(m_module.presetName.isEmpty() ? QStringLiteral("Untitled")
                                                                 : m_module.presetName);
        QTimer::singleShot(0, dlg.cancelButton,
                           [&dlg] { QTest::mouseClick(dlg.cancelButton, Qt::LeftButton); });
        QCOMPARE(dlg.exec(), int(QDialog::Rejected));
        QCOMPARE(m_module.presetName, after);
        QCOMPARE(m_module.padPaths[1], QStringLiteral("/one.wav"));
        QCOMPARE(readBytes(m_dir->filePath("Jazz.pst")), "/jazz.wav\r\n" + crlfs(53));
    }

    // No default and no cancel button: only the focused button answers Enter.
    void keys_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("closes");
        QTest::newRow("Enter on the action button saves")
            << "Command1" << int(Qt::Key_Return) << true;
        QTest::newRow("Enter in the name field does nothing")
            << "Text1" << int(Qt::Key_Return) << false;
        QTest::newRow("Escape does nothing") << "Command1" << int(Qt::Key_Escape) << false;
    }
    void keys()
    {
        QFETCH(QString, focus);
        QFETCH(int, key);
        QFETCH(bool, closes);
        Form4 dlg(m_module, *m_main);
        dlg.actionButton->setText(QStringLiteral("&Save"));
        dlg.nameField->setText(QStringLiteral("Keyed"));
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        auto *target = dlg.findChild<QWidget *>(focus);
        target->setFocus();
        QTest::keyClick(target, Qt::Key(key));
        QCOMPARE(!dlg.isVisible(), closes);
        QCOMPARE(QFile::exists(m_dir->filePath("Keyed.pst")), closes);
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    Module1 m_module;
    std::unique_ptr<FakeMainWindow> m_main;
};

QTEST_MAIN(TestForm4)
#include "tst_form4.moc"
