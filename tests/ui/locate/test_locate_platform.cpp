#include "platform/folderlist.h"
#include "platform/volumes.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace bellboard;
using platform::Volume;

class TestLocatePlatform final : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_tree = std::make_unique<QTemporaryDir>();
        QVERIFY(m_tree->isValid());
        m_root = platform::normalFolder(m_tree->path());
        QVERIFY(QDir(m_root).mkpath(QStringLiteral("v/inner/a/b")));
        QVERIFY(QDir(m_root).mkpath(QStringLiteral("w")));
        platform::forgetCurrentFolders();
    }
    void cleanup() { platform::setVolumesOverride({}); }

    void volumeRootOf_data();
    void volumeRootOf();
    void currentFolderOn_data();
    void currentFolderOn();
    void nearestExistingFolder_data();
    void nearestExistingFolder();
    void parentFolder_data();
    void parentFolder();
    void realVolumes();
    void newListingDropsTheOldOne();

private:
    std::unique_ptr<QTemporaryDir> m_tree;
    QString m_root;
};

void TestLocatePlatform::volumeRootOf_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("root"); // relative to the tree; "-" for none
    QTest::newRow("the root itself") << "v"
                                     << "v/";
    QTest::newRow("inside") << "v/inner/a"
                            << "v/inner/";
    QTest::newRow("nested volume wins") << "v/inner/a/b"
                                        << "v/inner/";
    QTest::newRow("name that only starts alike") << "vx"
                                                 << "-";
    QTest::newRow("outside every volume") << "w"
                                          << "-";
}

void TestLocatePlatform::volumeRootOf()
{
    QFETCH(QString, path);
    QFETCH(QString, root);
    platform::setVolumesOverride({{m_root + QStringLiteral("/v/"), {}, true},
                                  {m_root + QStringLiteral("/v/inner/"), {}, true}});
    const QString expected
        = root == QStringLiteral("-") ? QString() : m_root + QLatin1Char('/') + root;
    QCOMPARE(platform::volumeRootOf(m_root + QLatin1Char('/') + path), expected);
}

void TestLocatePlatform::currentFolderOn_data()
{
    QTest::addColumn<QString>("remembered"); // "" for none
    QTest::addColumn<QString>("expected");
    QTest::newRow("nothing remembered: the root") << ""
                                                  << "v/";
    QTest::newRow("remembered folder") << "v/inner/a"
                                       << "v/inner/a";
    QTest::newRow("remembered folder deleted") << "v/inner/gone/deeper"
                                               << "v/inner";
    QTest::newRow("remembered elsewhere") << "w"
                                          << "v/";
}

void TestLocatePlatform::currentFolderOn()
{
    QFETCH(QString, remembered);
    QFETCH(QString, expected);
    const QString root = m_root + QStringLiteral("/v/");
    platform::setVolumesOverride({{root, {}, true}});
    if (!remembered.isEmpty())
        platform::setCurrentFolderOn(root, m_root + QLatin1Char('/') + remembered);
    QCOMPARE(platform::currentFolderOn(root), m_root + QLatin1Char('/') + expected);
}

void TestLocatePlatform::nearestExistingFolder_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("existing") << "v/inner"
                              << "v/inner";
    QTest::newRow("trailing separator and dots") << "v/inner/./a/../"
                                                 << "v/inner";
    QTest::newRow("missing leaf") << "v/nothing"
                                  << "v";
    QTest::newRow("missing branch") << "v/no/such/thing"
                                    << "v";
}

void TestLocatePlatform::nearestExistingFolder()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(platform::nearestExistingFolder(m_root + QLatin1Char('/') + path),
             m_root + QLatin1Char('/') + expected);
    QVERIFY(platform::nearestExistingFolder({}).isEmpty());
}

void TestLocatePlatform::parentFolder_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("parent");
    QTest::newRow("root is its own parent") << "/"
                                            << "/";
    QTest::newRow("top folder") << "/media"
                                << "/";
    QTest::newRow("deeper") << "/media/stick/fx"
                            << "/media/stick";
}

void TestLocatePlatform::parentFolder()
{
    QFETCH(QString, folder);
    QFETCH(QString, parent);
    QCOMPARE(platform::parentFolder(folder), parent);
}

void TestLocatePlatform::realVolumes()
{
    // Whatever the machine mounts, "/" is among its volumes and holds the temporary tree
    // unless a deeper mount does.
    const QList<Volume> volumes = platform::mountedVolumes();
    QVERIFY(std::any_of(volumes.cbegin(), volumes.cend(),
                        [](const Volume &v) { return v.root == "/"; }));
    for (const Volume &v : volumes)
        QVERIFY2(v.root.endsWith(QLatin1Char('/')) && platform::isFolder(v.root),
                 qPrintable(v.root));
    const QString root = platform::volumeRootOf(m_root);
    QVERIFY(m_root.startsWith(root));
    QVERIFY(platform::volumeReady(QStringLiteral("/")));
    QVERIFY(!platform::volumeReady(m_root + QStringLiteral("/not-there/")));
}

void TestLocatePlatform::newListingDropsTheOldOne()
{
    for (int i = 0; i < 50; ++i)
        QVERIFY(QFile(m_root + QStringLiteral("/v/%1.wav").arg(i)).open(QIODevice::WriteOnly));
    QVERIFY(QFile(m_root + QStringLiteral("/w/only.WAV")).open(QIODevice::WriteOnly));
    platform::FolderLister lister(platform::FolderLister::Kind::Files, QStringLiteral(".wav"));
    QStringList names;
    connect(&lister, &platform::FolderLister::namesArrived, this,
            [&](const QStringList &n) { names += n; });
    QSignalSpy finished(&lister, &platform::FolderLister::finished);
    lister.list(m_root + QStringLiteral("/v"));
    lister.list(m_root + QStringLiteral("/w"));
    QVERIFY(finished.wait(5000));
    QTest::qWait(50);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(names, QStringList{QStringLiteral("only.WAV")});
    QCOMPARE(finished.at(0).at(0).toString(), QString());

    lister.list(m_root + QStringLiteral("/missing"));
    QVERIFY(finished.wait(5000));
    QVERIFY(!finished.at(1).at(0).toString().isEmpty());
}

QTEST_MAIN(TestLocatePlatform)
#include "test_locate_platform.moc"
