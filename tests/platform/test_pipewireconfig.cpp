// What the native output learns from the installed PipeWire configuration.

#include "platform/audio/pipewireconfig.h"

#include <QTest>

using namespace bellboard::platform::audio;

class TestPipeWireConfig final : public QObject
{
    Q_OBJECT

private slots:
    void layerMinQuantum_data()
    {
        QTest::addColumn<QString>("section");
        QTest::addColumn<int>("frames");
        QTest::newRow("the documented default")
            << "    #pulse.min.quantum      = 128/48000     # 2.7ms\n"
            << 128;
        QTest::newRow("a set value wins over the default")
            << "    #pulse.min.quantum = 256/48000\n    pulse.min.quantum = 512/48000 # 10.6ms\n"
            << 512;
        QTest::newRow("quoted, at another rate") << "pulse.min.quantum = \"441/44100\"\n" << 480;
        QTest::newRow("another key is not it") << "    #pulse.min.req = 128/48000\n" << 256;
        QTest::newRow("nothing readable") << "pulse.min.quantum = soon\n" << 256;
    }
    void layerMinQuantum()
    {
        QFETCH(QString, section);
        QFETCH(int, frames);
        QCOMPARE(minQuantumIn(section.toStdString()), frames);
    }
};

QTEST_GUILESS_MAIN(TestPipeWireConfig)
#include "test_pipewireconfig.moc"
