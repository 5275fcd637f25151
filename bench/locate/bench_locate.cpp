// How the locate dialog copes with big folders: for 1,000, 10,000 and 100,000 .wav files,
// the time from creating the dialog to the first name in the file list, to the last name,
// and the longest time the event loop went without a turn meanwhile (creating and showing
// the dialog included). Each figure is the median of a few openings.

#include "app/mainwindow.h"
#include "app/module1.h"
#include "ui/locate/filelistbox.h"
#include "ui/locate/form3.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

using namespace bellboard;

namespace {

class BenchMainWindow final : public MainWindow
{
public:
    qint16 Idx() const override { return 0; }
    QAbstractButton *wave(int) const override { return nullptr; }
    QLabel *Label1(int) const override { return nullptr; }
    QString caption() const override { return QStringLiteral("Bellboard"); }
    QIcon icon() const override { return {}; }
    QPixmap backgroundPicture() const override { return {}; }
    QPixmap clearAllPicture() const override { return {}; }
    QWidget *boardWindow() override { return nullptr; }
};

struct Run
{
    double firstMs = 0;
    double allMs = 0;
    double stallMs = 0;
    int names = 0;
};

Run openOnce(const QString &folder)
{
    Module1 module;
    module.lastWavFolder = folder;
    BenchMainWindow main;
    Run run;

    QElapsedTimer clock;
    clock.start();
    // The longest gap between two turns of the event loop, from creation to the last name.
    qint64 lastTick = 0;
    qint64 stall = 0;
    // A 1 ms tick rather than a busy 0 ms one, which would take a core from the reader.
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        stall = std::max(stall, now - lastTick);
        lastTick = now;
    });

    Form3 form(module, main);
    auto *file1 = form.findChild<FileListBox *>(QStringLiteral("File1"));
    QEventLoop loop;
    QObject::connect(file1->model(), &QAbstractItemModel::rowsInserted, [&] {
        if (run.firstMs == 0)
            run.firstMs = double(clock.nsecsElapsed()) / 1e6;
    });
    QObject::connect(file1, &FileListBox::listed, [&] {
        run.allMs = double(clock.nsecsElapsed()) / 1e6;
        loop.quit();
    });
    form.setWindowTitle(QStringLiteral("Locate .wav Files"));
    form.show();
    ticker.start();
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    loop.exec();
    const qint64 now = clock.nsecsElapsed();
    stall = std::max(stall, now - lastTick);
    run.stallMs = double(stall) / 1e6;
    run.names = int(file1->names().size());
    return run;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    constexpr int kRuns = 5;

    std::printf("%-9s %13s %13s %15s\n", "files", "first name", "all names", "longest stall");
    for (const int count : {1000, 10000, 100000}) {
        QTemporaryDir dir;
        const QByteArray base = QFile::encodeName(dir.path());
        for (int i = 0; i < count; ++i) {
            const QByteArray path = base + "/sound" + QByteArray::number(i) + ".wav";
            const int fd = ::open(path.constData(), O_CREAT | O_WRONLY, 0644);
            if (fd < 0) {
                std::perror(path.constData());
                return 1;
            }
            ::close(fd);
        }
        std::vector<double> first, all, stall;
        for (int r = 0; r < kRuns; ++r) {
            const Run run = openOnce(dir.path());
            if (run.names != count) {
                std::fprintf(stderr, "listed %d names of %d\n", run.names, count);
                return 1;
            }
            first.push_back(run.firstMs);
            all.push_back(run.allMs);
            stall.push_back(run.stallMs);
        }
        std::printf("%-9d %10.1f ms %10.1f ms %12.1f ms\n", count, median(first), median(all),
                    median(stall));
    }
    return 0;
}
