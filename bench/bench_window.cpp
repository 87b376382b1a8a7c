// The window with a long list: N files added through the Add button, every third row removed
// in one press of Remove, the rest converted to WAV, and the list cleared. Prints the wall time
// of each step, its cost per row, and the longest time the window's event loop went without
// turning during the conversion (a 10 ms timer's largest gap): a window that stays responsive
// has steps that grow with N, not N squared, and no long gaps.
//
// Usage: bench_window N SOURCE_WAV [list]   (run with QT_QPA_PLATFORM=offscreen)
//   list: only add, remove and clear (no conversion)

#include "../tests/gui/GuiTestSupport.h"
#include "app/gui/FileListView.h"
#include "app/shared/HeapPolicy.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QItemSelection>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <string>
#include <unistd.h>

using namespace mobivert;

namespace {

// The largest gap between the ticks of a 10 ms timer while it runs.
class TLoopWatch {
public:
    TLoopWatch() {
        QObject::connect(&timer_, &QTimer::timeout,
                         [this] { largest_ = std::max(largest_, clock_.restart()); });
        timer_.setInterval(10);
    }
    void Start() {
        largest_ = 0;
        clock_.start();
        timer_.start();
    }
    qint64 Stop() {
        timer_.stop();
        return std::max(largest_, clock_.elapsed());
    }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 largest_ = 0;
};

void Report(const char* step, qint64 ms, int rows) {
    std::printf("%-34s %9.2f s %9.1f us/row\n", step, static_cast<double>(ms) / 1000.0,
                rows > 0 ? 1000.0 * static_cast<double>(ms) / rows : 0.0);
}

} // namespace

int main(int argc, char** argv) {
    // As the window program does.
    app::KeepLargeBuffersOffTheHeap();
    QApplication app(argc, argv);
    if (argc != 3 && !(argc == 4 && std::string(argv[3]) == "list")) {
        std::fprintf(stderr, "usage: bench_window N SOURCE_WAV [list]\n");
        return 2;
    }
    const bool convert = argc == 3;
    const int count = std::max(3, std::atoi(argv[1]));
    guitest::TWindowRig rig;
    QStringList files;
    for (int i = 0; i < count; ++i) {
        const QString name = rig.dir.filePath(QString("f%1.wav").arg(i, 6, 10, QChar('0')));
        if (link(argv[2], name.toLocal8Bit().constData()) != 0 && !QFile::copy(argv[2], name)) {
            std::fprintf(stderr, "cannot make %s\n", qPrintable(name));
            return 1;
        }
        files << name;
    }
    gui::TfrmMain& w = rig.Open();
    w.txtOutput->setText(rig.OutputFolder());
    QElapsedTimer clock;

    clock.start();
    rig.Add(files);
    Report("add (probe every file)", clock.elapsed(), count);

    QItemSelection third;
    for (int row = 0; row < w.lvFiles->rowCount(); row += 3)
        third.select(w.lvFiles->model()->index(row, 0), w.lvFiles->model()->index(row, 2));
    w.lvFiles->selectionModel()->select(third, QItemSelectionModel::ClearAndSelect);
    clock.start();
    w.btnRemove->click();
    Report("remove every third row", clock.elapsed(), count / 3);
    const int left = w.lvFiles->rowCount();

    bool done = true;
    qint64 converted = left;
    if (convert) {
        rig.SelectPreset("Wave Audio (*.wav)");
        clock.start();
        w.btnConvert->click();
        Report("convert: set-up (press)", clock.elapsed(), left);
        TLoopWatch watch;
        watch.Start();
        clock.start();
        done = rig.WaitForTitle(" [Done]", 24 * 3600 * 1000);
        const qint64 converting = clock.elapsed();
        const qint64 gap = watch.Stop();
        Report("convert: batch", converting, left);
        const QStringList statuses = rig.Statuses();
        converted = std::count(statuses.begin(), statuses.end(), QString("Done"));
        std::printf("%-34s %9lld of %d\n", "rows Done", static_cast<long long>(converted), left);
        std::printf("%-34s %9lld ms\n", "longest event-loop gap (batch)",
                    static_cast<long long>(gap));
    }

    clock.start();
    w.btnClear->click();
    Report("clear", clock.elapsed(), left);
    return done && converted == left ? 0 : 1;
}
