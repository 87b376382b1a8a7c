// The real window on an X server (run under Xvfb): two fixture files are added and converted
// with a preset, and pictures of the idle window, the running batch, the options dialog and the
// finished list, at its usual and its smallest size, are saved into the build tree (screenshots/)
// for people to look at.

#include "GuiTestSupport.h"
#include "TestRegistry.h"
#include "app/gui/FileListView.h"
#include "app/gui/Look.h"
#include "app/gui/OptionsForm.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QToolTip>

using namespace mobivert;
using guitest::Fixture;
using guitest::TWindowRig;

namespace {

void Save(QWidget& widget, const char* name) {
    QDir().mkpath(MOBIVERT_SCREENSHOT_DIR);
    const QString path = QDir(MOBIVERT_SCREENSHOT_DIR).filePath(name);
    const QPixmap picture = widget.grab();
    QCOMPARE(picture.size(), widget.size());
    QVERIFY2(picture.save(path), qPrintable(path));
    QVERIFY(QImage(path).size() == widget.size());
}

} // namespace

class ScreenshotTest : public QObject {
    Q_OBJECT
private slots:
    void realWindowConvertsTwoFiles() {
        if (QGuiApplication::platformName() != "xcb")
            QSKIP("needs an X server (the test is run under xvfb-run)");
        qApp->setStyleSheet(gui::StyleSheet());

        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        w.txtOutput->setText(rig.OutputFolder());
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        rig.Add({Fixture("sample.mp4"), Fixture("h264_aac.mp4")});
        rig.SelectPreset("MPEG-4 Video (*.mp4)");
        QTest::qWait(100);
        Save(w, "idle.png");

        w.btnConvert->click();
        QDeadlineTimer deadline(20000);
        while (!w.lvFiles->Status(0).startsWith("{|") && !w.windowTitle().endsWith("[Done]") &&
               !deadline.hasExpired())
            QTest::qWait(5);
        Save(w, "running.png");

        QVERIFY(rig.WaitForTitle(" [Done]"));
        QCOMPARE(rig.Statuses(), (QStringList{"Done", "Done"}));
        QCOMPARE(rig.OutputFiles(),
                 (QStringList{"h264_aac (MPEG-4 Video).mp4", "sample (MPEG-4 Video).mp4"}));
        QTest::qWait(100);
        Save(w, "finished.png");
        // What the X server shows of it.
        const QPixmap screen = w.screen()->grabWindow(w.winId());
        QVERIFY(!screen.isNull());
        QVERIFY(screen.save(QDir(MOBIVERT_SCREENSHOT_DIR).filePath("finished-screen.png")));

        // The smallest size the window takes.
        w.resize(631, 433);
        QTest::qWait(100);
        Save(w, "minimum.png");

        w.btnOptions->click();
        QVERIFY(QTest::qWaitForWindowExposed(w.frmOptions));
        QTest::qWait(100);
        Save(*w.frmOptions, "options.png");
        w.frmOptions->reject();
    }

    void realWindowShowsTheBatchInItsStatusBarAndAFailedRowWithItsReason() {
        if (QGuiApplication::platformName() != "xcb")
            QSKIP("needs an X server (the test is run under xvfb-run)");
        qApp->setStyleSheet(gui::StyleSheet());

        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        w.txtOutput->setText(rig.OutputFolder());
        w.Choices.AudioChannelChoice = 1;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        // The WMA v2 encoder takes 24 kbit/s or more: with 16 both files fail, saying why.
        w.Choices.AudioBitRateDefault = false;
        w.Choices.AudioBitRateText = "16";
        rig.Add({Fixture("h264_aac.mp4"), Fixture("tone.mp3")});
        rig.SelectPreset("Windows Media Audio (*.wma)");
        w.btnConvert->click();
        QVERIFY(rig.WaitForTitle(" [Done]"));
        QVERIFY(rig.Statuses().value(1).startsWith("Failed: Error while opening codec"));
        QVERIFY(
            rig.Statuses().value(1).endsWith("bitrate too low: got 16000, need 24000 or higher"));
        w.lvFiles->selectRow(1);
        QTest::qWait(100);
        Save(w, "failed-row.png");
        // The whole reason, in the tooltip of the cell, as the X server shows it.
        const QRect cell = w.lvFiles->visualItemRect(w.lvFiles->item(1, gui::fcStatus));
        QHelpEvent hover(QEvent::ToolTip, cell.center(),
                         w.lvFiles->viewport()->mapToGlobal(cell.center()));
        QCoreApplication::sendEvent(w.lvFiles->viewport(), &hover);
        QTRY_VERIFY(QToolTip::isVisible());
        QVERIFY(QToolTip::text().contains("Error while opening codec"));
        QVERIFY(QToolTip::text().contains("need 24000 or higher"));
        QTest::qWait(300);
        const QPixmap tip = w.screen()->grabWindow(0);
        QVERIFY(tip.save(QDir(MOBIVERT_SCREENSHOT_DIR).filePath("failed-reason-tooltip.png")));
        QToolTip::hideText();

        // A slower preset: a running row with its speed and time left, the batch in the status
        // bar.
        w.btnClear->click();
        w.Choices.AudioBitRateDefault = true;
        w.Choices.ResolutionDefault = false; // bigger pictures take long enough to be measured
        w.Choices.WidthText = "1280";
        w.Choices.HeightText = "720";
        for (int round = 0; round < 2; ++round)
            rig.Add({Fixture("h264_aac.mp4"), Fixture("sample.mp4"), Fixture("fps30.mp4"),
                     Fixture("h264_mp3.flv"), Fixture("fps15.mp4")});
        rig.SelectPreset("MPEG-4 Video (*.mp4)");
        w.btnConvert->click();
        const QRegularExpression figures(R"(^\{\|\d+\|.+x)");
        QDeadlineTimer deadline(60000);
        while (!QStringList(rig.Statuses()).filter(figures).size() &&
               !w.windowTitle().endsWith("[Done]") && !deadline.hasExpired())
            QTest::qWait(2);
        QVERIFY2(w.sbStatus->currentMessage().startsWith("Converting: "),
                 qPrintable(w.sbStatus->currentMessage()));
        Save(w, "batch-running.png");
        QVERIFY(rig.WaitForTitle(" [Done]"));
    }
};

MOBIVERT_GUI_TEST(ScreenshotTest);

#include "ScreenshotTest.moc"
