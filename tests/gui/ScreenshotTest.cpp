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
#include <QComboBox>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QLineEdit>
#include <QMessageBox>
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
        // Where the keyboard is: the focus is marked on the control that has it.
        w.activateWindow();
        QTest::keyClick(w.selFormat, Qt::Key_Tab);
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.btnOptions));
        QTest::qWait(100);
        Save(w, "focus.png");

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
        // The modern presets' own choices.
        rig.SelectPreset("WebM VP9 (*.webm)");
        w.btnOptions->click();
        QVERIFY(QTest::qWaitForWindowExposed(w.frmOptions));
        QTest::qWait(100);
        Save(*w.frmOptions, "options-modern.png");
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
        QCOMPARE(rig.Statuses().value(1), QString("Failed: the encoder does not take these "
                                                  "settings: bitrate too low: got 16000, need "
                                                  "24000 or higher"));
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
        QVERIFY(QToolTip::text().startsWith("<p>Failed: the encoder does not take these settings"));
        QTest::qWait(300);
        const QPixmap tip = w.screen()->grabWindow(0);
        QVERIFY(tip.save(QDir(MOBIVERT_SCREENSHOT_DIR).filePath("failed-reason-tooltip.png")));
        QToolTip::hideText();

        // Files left out of the list: the box that names them, its details open.
        const QString text = rig.dir.filePath("clip.avi");
        QFile notes(text);
        QVERIFY(notes.open(QIODevice::WriteOnly));
        notes.write("a shopping list\n");
        notes.close();
        const QString cut = rig.dir.filePath("cut.mp4");
        QVERIFY(QFile::copy(Fixture("h264_aac.mp4"), cut));
        QVERIFY(QFile::resize(cut, QFileInfo(cut).size() / 2));
        rig.dialogs.Messages.clear();
        rig.Add({text, cut});
        QCOMPARE(rig.dialogs.Messages.size(), size_t(1));
        std::unique_ptr<QMessageBox> box = gui::InformationDetailsBox(
            &w, rig.dialogs.Messages[0].Text, rig.dialogs.Messages[0].Details);
        box->show();
        QVERIFY(QTest::qWaitForWindowExposed(box.get()));
        for (QAbstractButton* button : box->buttons())
            if (box->buttonRole(button) == QMessageBox::ActionRole)
                button->click(); // "Show Details..."
        QTest::qWait(200);
        Save(*box, "left-out-files.png");
        box->close();

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
