// Running batches through the window with real conversions of the fixture media: the state of
// the controls while converting, pausing, stopping, progress, the end of every task and of the
// batch, failures, refused outputs, converting the same list again, and the hand-over of the
// component's events to the window's thread.

#include "GuiTestSupport.h"
#include "TestRegistry.h"
#include "app/gui/FileListView.h"
#include "app/gui/OptionsForm.h"
#include "converter/AVProbe.h"
#include "converter/FFmpegTask.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QThread>
#include <chrono>
#include <cmath>
#include <map>
#include <thread>

using namespace mobivert;
using guitest::Fixture;
using guitest::TShownMessage;
using guitest::TWindowRig;

namespace {

// A 640x480 H.264 clip of the given length made by GStreamer into the rig's folder: long enough
// for its row to be seen converting whatever the machine's speed (the fixtures take a fraction
// of a second with several codec threads).
QString LongClip(TWindowRig& rig, int seconds) {
    const QString path = rig.dir.filePath("long.mp4");
    const QString pipeline =
        QString("videotestsrc num-buffers=%1 pattern=ball ! "
                "video/x-raw,width=640,height=480,framerate=25/1 ! "
                "x264enc speed-preset=ultrafast ! mp4mux ! filesink location=%2")
            .arg(seconds * 25)
            .arg(path);
    QProcess gst;
    gst.start("gst-launch-1.0", QStringList{"-q"} + QProcess::splitCommand(pipeline));
    gst.waitForFinished(60000);
    return path;
}

// Every text the Status cells take, row by row, in the order they took them.
class TStatusHistory {
public:
    explicit TStatusHistory(gui::TfrmMain& w) {
        QObject::connect(w.lvFiles, &QTableWidget::itemChanged, w.lvFiles,
                         [this](QTableWidgetItem* item) {
                             // A cell's mark and colour change with its text: one entry per text.
                             QStringList& texts = rows[item->row()];
                             if (item->column() == gui::fcStatus &&
                                 (texts.isEmpty() || texts.last() != item->text()))
                                 texts << item->text();
                         });
    }
    std::map<int, QStringList> rows;
};

QWidgetList BusyControls(gui::TfrmMain& w) {
    return {w.btnOpen,    w.btnClear,  w.btnRemove, w.btnFolderChange,
            w.btnOptions, w.selFormat, w.txtOutput, w.chkSameFolder};
}

void VerifyIdle(gui::TfrmMain& w) {
    QCOMPARE(w.State(), gui::TWindowState::Idle);
    QCOMPARE(guitest::Caption(w.btnConvert), QString("Convert!"));
    QVERIFY(w.btnConvert->isEnabled());
    QVERIFY(w.btnPause->isHidden());
    for (QWidget* c : BusyControls(w))
        if (c != w.btnOptions)
            QVERIFY2(c->isEnabled(), qPrintable(c->objectName()));
    QVERIFY(w.actAdd->isEnabled() && w.actRemove->isEnabled() && w.actClear->isEnabled());
}

void VerifyBusy(gui::TfrmMain& w) {
    QCOMPARE(guitest::Caption(w.btnConvert), QString("Stop"));
    QVERIFY(!w.btnPause->isHidden());
    for (QWidget* c : BusyControls(w))
        QVERIFY2(!c->isEnabled(), qPrintable(c->objectName()));
    QVERIFY(!w.actAdd->isEnabled() && !w.actRemove->isEnabled() && !w.actClear->isEnabled());
}

} // namespace

class BatchTest : public QObject {
    Q_OBJECT
private slots:
    void convertRefusesWithoutFilesOrFormat() {
        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        rig.SelectPreset("Wave Audio (*.wav)");
        w.btnConvert->click();
        QCOMPARE(rig.dialogs.Texts(TShownMessage::Information),
                 QStringList{"Please choose a file."});
        VerifyIdle(w);

        rig.Add({Fixture("tone.mp3")});
        w.selFormat->setCurrentIndex(0);
        w.btnConvert->click();
        QCOMPARE(rig.dialogs.Texts(TShownMessage::Information).value(1),
                 QString("Please choose an output format."));
        VerifyIdle(w);
        QCOMPARE(w.windowTitle(), QString("Corvel Mobivert [Ready]"));
        QCOMPARE(rig.Statuses(), QStringList{"Ready"});
    }

    void batchConvertsEveryFileThenAsksBeforeConvertingAgain() {
        TWindowRig rig;
        gui::TfrmMain& w =
            rig.OpenReady({Fixture("mono8k.wav"), Fixture("sample.mp4")}, "Wave Audio (*.wav)");
        TStatusHistory history(w);

        w.btnConvert->click();
        QCOMPARE(w.State(), gui::TWindowState::Converting);
        QCOMPARE(w.windowTitle(), QString("Corvel Mobivert [Converting...]"));
        QCOMPARE(guitest::Caption(w.btnPause), QString("Pause"));
        VerifyBusy(w);
        QVERIFY(rig.WaitForTitle(" [Done]"));

        VerifyIdle(w);
        QCOMPARE(rig.Statuses(), (QStringList{"Done", "Done"}));
        QCOMPARE(w.Converter().TaskCount(), 0);
        QCOMPARE(rig.OutputFiles(),
                 (QStringList{"mono8k (Wave Audio).wav", "sample (Wave Audio).wav"}));
        // Each row went through progress figures that never fell and ended with "Done".
        for (auto& [row, texts] : history.rows) {
            QCOMPARE(texts.last(), QString("Done"));
            int last = -1;
            for (int i = 0; i + 1 < texts.size(); ++i) {
                QVERIFY2(texts[i].startsWith("{|"), qPrintable(texts.join(',')));
                int percent = texts[i].mid(2).toInt();
                QVERIFY(percent >= last && percent <= 100);
                last = percent;
            }
        }
        QVERIFY(rig.dialogs.Messages.empty());

        // The same list to the same preset: the question, and No leaves everything.
        w.btnConvert->click();
        QCOMPARE(rig.dialogs.Texts(TShownMessage::Question),
                 QStringList{"File(s) from the list was already converted to this format\n"
                             "Wave Audio (*.wav)\nDo you wish to convert agin?"});
        QCOMPARE(w.windowTitle(), QString("Corvel Mobivert [Done]"));
        QCOMPARE(rig.Statuses(), (QStringList{"Done", "Done"}));
        QCOMPARE(w.Converter().TaskCount(), 0);
        VerifyIdle(w);
        QCOMPARE(rig.OutputFiles().size(), 2);

        // Yes converts the list again, next to the first outputs.
        rig.dialogs.Answers = {true};
        w.btnConvert->click();
        QCOMPARE(rig.dialogs.Texts(TShownMessage::Question).size(), 2);
        QCOMPARE(w.State(), gui::TWindowState::Converting);
        QCOMPARE(rig.Statuses(), (QStringList{"Ready", "Ready"}));
        QVERIFY(rig.WaitForTitle(" [Done]"));
        QCOMPARE(rig.Statuses(), (QStringList{"Done", "Done"}));
        QVERIFY(rig.OutputFiles().contains("mono8k (Wave Audio [1]).wav"));
        QCOMPARE(rig.OutputFiles().size(), 4);

        // A different preset asks nothing.
        rig.SelectPreset("AMR Audio (*.amr)");
        w.btnConvert->click();
        QCOMPARE(rig.dialogs.Texts(TShownMessage::Question).size(), 2);
        QVERIFY(rig.WaitForTitle(" [Done]"));

        // Add after a finished batch starts a new list.
        rig.Add({Fixture("tone.mp3")});
        QCOMPARE(w.lvFiles->rowCount(), 1);
        QCOMPARE(rig.Statuses(), QStringList{"Ready"});
        QCOMPARE(w.Converter().TaskCount(), 1);
    }

    void stopDuringTheFirstOfThreeCancelsAll() {
        TWindowRig rig;
        gui::TfrmMain& w =
            rig.OpenReady({Fixture("sample.mp4"), Fixture("h264_aac.mp4"), Fixture("fps30.mp4")},
                          "AVI Video (*.avi)");

        w.btnConvert->click();
        w.btnPause->click();
        QCOMPARE(w.State(), gui::TWindowState::Paused);
        QCOMPARE(guitest::Caption(w.btnPause), QString("Resume"));
        QCOMPARE(w.windowTitle(), QString("Corvel Mobivert [Paused]"));
        VerifyBusy(w);
        // Held: nothing ends while paused.
        QTest::qWait(400);
        QCOMPARE(w.State(), gui::TWindowState::Paused);
        QVERIFY(!rig.Statuses().contains("Done"));
        // An end report in the middle of a batch leaves the batch's controls as they are.
        w.ConverterTerminate(7, true, false, QString());
        VerifyBusy(w);

        w.btnConvert->click();
        QCOMPARE(w.State(), gui::TWindowState::Stopping);
        QVERIFY(w.Cancelled);
        QVERIFY(!w.btnConvert->isEnabled());
        QVERIFY(rig.WaitForTitle(" [Job Canceled]"));
        QCOMPARE(rig.Statuses(), (QStringList{"Canceled", "Canceled", "Canceled"}));
        VerifyIdle(w);
        // The late end reports of the stopped batch change nothing.
        QTest::qWait(300);
        QCOMPARE(w.windowTitle(), QString("Corvel Mobivert [Job Canceled]"));
        QCOMPARE(rig.Statuses(), (QStringList{"Canceled", "Canceled", "Canceled"}));
        QVERIFY(w.Cancelled);

        // Add after a stopped batch starts a new list.
        rig.Add({Fixture("tone.mp3")});
        QCOMPARE(w.lvFiles->rowCount(), 1);
        QVERIFY(!w.Cancelled);
        QCOMPARE(w.Converter().TaskCount(), 1);
    }

    void pausedBatchResumesAndFinishes() {
        TWindowRig rig;
        gui::TfrmMain& w = rig.OpenReady(
            {Fixture("mono8k.wav"), Fixture("tone.mp3"), Fixture("sine_stereo_44k.wav")},
            "Wave Audio (*.wav)");
        w.btnConvert->click();
        w.btnPause->click();
        // A file may have ended before the pause reached it (its report comes late); after
        // that nothing ends while paused.
        QTest::qWait(300);
        const QStringList paused = rig.Statuses();
        QVERIFY(paused.count("Done") < 3);
        QTest::qWait(400);
        QCOMPARE(rig.Statuses(), paused);
        w.btnPause->click();
        QCOMPARE(w.State(), gui::TWindowState::Converting);
        QCOMPARE(guitest::Caption(w.btnPause), QString("Pause"));
        QCOMPARE(w.windowTitle(), QString("Corvel Mobivert [Converting...]"));
        QVERIFY(rig.WaitForTitle(" [Done]"));
        QCOMPARE(rig.Statuses(), (QStringList{"Done", "Done", "Done"}));
        QCOMPARE(rig.OutputFiles().size(), 3);
    }

    void failedConversionShowsFailedWithItsReason() {
        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        w.txtOutput->setText(rig.OutputFolder());
        // The WMA v2 encoder takes 24 kbit/s or more; the chosen 16 reaches it for both sources
        // and it refuses to open, saying why in its log.
        rig.Add({Fixture("tone.mp3"), Fixture("h264_aac.mp4")});
        rig.SelectPreset("Windows Media Audio (*.wma)");
        gui::TfrmOptions& d = *w.frmOptions;
        d.show();
        d.chkAudioBitRateSame->click();
        d.txtAudioBitRate->setText("16");
        d.btnOK->click();
        w.btnConvert->click();
        QVERIFY(rig.WaitForTitle(" [Done]"));
        // The reason in plain words with what the library refused, in the cell (cut to the
        // column); the tooltip says the same, then the engine's message followed by the
        // library's own, whole.
        for (int row : {0, 1}) {
            const QString status = w.lvFiles->Status(row);
            QCOMPARE(status, QString("Failed: the encoder does not take these settings: bitrate "
                                     "too low: got 16000, need 24000 or higher"));
            const QString hint = w.lvFiles->item(row, gui::fcStatus)->toolTip();
            QVERIFY2(hint.startsWith(status + "\n\nDetails: Error while opening codec for output "
                                              "stream #0.0"),
                     qPrintable(hint));
            QVERIFY2(hint.endsWith(": bitrate too low: got 16000, need 24000 or higher"),
                     qPrintable(hint));
        }
        QVERIFY(rig.dialogs.Messages.empty());
        // The window is not the active one: the desktop is told how the batch went.
        QCOMPARE(rig.dialogs.Notifications,
                 QStringList{"Conversion finished: 0 files converted, 2 failed"});
        QVERIFY(w.sbStatus->currentMessage().startsWith("0 files converted, 2 failed in 0:"));
    }

    void oddWidthRefusesEveryTaskWithVideo() {
        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        w.txtOutput->setText(rig.OutputFolder());
        gui::TfrmOptions& d = *w.frmOptions;
        d.show();
        d.chkResolutionSame->click();
        d.txtResolutionWidth->setEditText("321");
        d.txtResolutionHeight->setEditText("240");
        d.btnOK->click();
        QVERIFY(!d.isVisible());

        // The audio source gets no video, so the size does not concern it.
        rig.Add({Fixture("h264_aac.mp4"), Fixture("mono8k.wav"), Fixture("fps30.mp4")});
        rig.SelectPreset("AVI Video (*.avi)");
        QCOMPARE(w.lblOverrides->text(), QString("Options: 321x240"));
        QVERIFY(!w.lblOverrides->isHidden());
        w.btnConvert->click();
        // One box for the press, naming each refused file with its reason.
        const QString reason = w.lvFiles->Status(0).mid(QString("Failed: ").size());
        QVERIFY(!reason.isEmpty());
        QVERIFY2(!reason.contains('/'), qPrintable(reason));
        QCOMPARE(rig.dialogs.Texts(TShownMessage::Plain),
                 QStringList{"Error found\n\nh264_aac.mp4: " + reason + "\nfps30.mp4: " + reason});
        QVERIFY(rig.WaitForTitle(" [Done]"));
        QCOMPARE(rig.Statuses(), (QStringList{"Failed: " + reason, "Done", "Failed: " + reason}));
        QCOMPARE(rig.OutputFiles(), QStringList{"mono8k (AVI Video).avi"});

        // When every task is refused nothing runs and the window stays idle.
        w.btnClear->click();
        rig.Add({Fixture("h264_aac.mp4"), Fixture("fps30.mp4")});
        w.btnConvert->click();
        QCOMPARE(rig.dialogs.Texts(TShownMessage::Plain).size(), 2);
        QCOMPARE(rig.Statuses(), (QStringList{"Failed: " + reason, "Failed: " + reason}));
        VerifyIdle(w);
        QCOMPARE(w.windowTitle(), QString("Corvel Mobivert [Ready]"));
        QCOMPARE(w.Converter().TaskCount(), 0);
        QCOMPARE(rig.OutputFiles().size(), 1);
    }

    void storedOptionsDoNotReachPresetsWhoseOptionsAreLocked() {
        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        w.txtOutput->setText(rig.OutputFolder());
        w.Choices.ResolutionDefault = false;
        w.Choices.WidthText = "321";
        w.Choices.HeightText = "240";
        w.Choices.FrameRateChoice = 4;
        w.Choices.VideoBitRateDefault = false;
        w.Choices.VideoBitRateText = "900";
        rig.Add({Fixture("h264_aac.mp4")});
        rig.SelectPreset("3GPP 176*144 (*.3gp)");
        QVERIFY(!w.btnOptions->isEnabled());
        QVERIFY(w.lblOverrides->isHidden());
        w.btnConvert->click();
        QVERIFY(rig.WaitForTitle(" [Done]"));
        QCOMPARE(rig.Statuses(), QStringList{"Done"});
        QVERIFY(rig.dialogs.Messages.empty());
        converter::TAVProbe probe;
        QVERIFY(probe.Open(
            QDir(rig.OutputFolder()).filePath("h264_aac (3GPP 176x144).3gp").toStdString()));
        QCOMPARE(probe.VideoInfo().Width, 176);
        QCOMPARE(probe.VideoInfo().Height, 144);

        // The same choices show under an unlocked preset, the video ones only with video.
        rig.SelectPreset("3GPP2 176*144 (*.3g2)");
        QCOMPARE(w.lblOverrides->text(), QString("Options: 30 fps, 321x240, video 900 kbit/s"));
        QVERIFY(!w.lblOverrides->isHidden());
        rig.SelectPreset("Wave Audio (*.wav)");
        QVERIFY(w.lblOverrides->isHidden());
    }

    void chosenOptionsReachTheOutputs() {
        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        w.txtOutput->setText(rig.OutputFolder());
        w.Choices.AudioChannelChoice = 1;
        w.Choices.ResolutionDefault = false;
        w.Choices.WidthText = "320";
        w.Choices.HeightText = "240";
        rig.Add({Fixture("h264_aac.mp4")});
        rig.SelectPreset("AVI Video (*.avi)");
        w.btnConvert->click();
        QVERIFY(rig.WaitForTitle(" [Done]"));
        QCOMPARE(rig.Statuses(), QStringList{"Done"});

        converter::TAVProbe probe;
        QVERIFY(probe.Open(
            QDir(rig.OutputFolder()).filePath("h264_aac (AVI Video).avi").toStdString()));
        QCOMPARE(probe.VideoInfo().Width, 320);
        QCOMPARE(probe.VideoInfo().Height, 240);
        QCOMPARE(probe.AudioInfo().Channels, 1);
        QCOMPARE(probe.AudioInfo().SampleRate, 44100);
    }

    void eventsReachTheWindowInOrderWithoutHoldingUpTheBatch() {
        TWindowRig rig;
        gui::TfrmMain& w = rig.OpenReady({Fixture("mono8k.wav"), Fixture("sine_stereo_44k.wav")},
                                         "Wave Audio (*.wav)");
        TStatusHistory history(w);
        w.btnConvert->click();

        // The window's thread handles no events now. The second task starts only after the
        // first one's end report returned, so its output grows only if no report waits for
        // this thread.
        const QString second =
            QDir(rig.OutputFolder()).filePath("sine_stereo_44k (Wave Audio).wav");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (QFileInfo(second).size() < 352800 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        QVERIFY(QFileInfo(second).size() >= 352800);
        QCOMPARE(rig.Statuses(), (QStringList{"Ready", "Ready"}));
        QCOMPARE(w.State(), gui::TWindowState::Converting);

        QVERIFY(rig.WaitForTitle(" [Done]"));
        QCOMPARE(rig.Statuses(), (QStringList{"Done", "Done"}));
        for (auto& [row, texts] : history.rows)
            QCOMPARE(texts.last(), QString("Done"));
    }

    void closingTheWindowDuringABatchAsksThenStopsGracefully() {
        TWindowRig rig;
        gui::TfrmMain& w =
            rig.OpenReady({Fixture("sample.mp4"), Fixture("h264_aac.mp4")}, "AVI Video (*.avi)");
        w.show();
        w.btnConvert->click();
        QTest::qWait(30);
        // No: the batch goes on.
        QVERIFY(!w.close());
        QCOMPARE(rig.dialogs.Texts(TShownMessage::Question),
                 QStringList{"A conversion is running.\nStop it and close the window?"});
        QCOMPARE(w.State(), gui::TWindowState::Converting);
        // Yes: the window stays until the running output is complete, then closes.
        rig.dialogs.Answers = {true};
        QVERIFY(!w.close());
        QCOMPARE(w.State(), gui::TWindowState::Stopping);
        QVERIFY(!w.close()); // a second close while stopping asks nothing
        QCOMPARE(rig.dialogs.Texts(TShownMessage::Question).size(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), 60000);
        QVERIFY(QFile::exists(rig.ConfigPath()));
        for (const QString& status : rig.Statuses())
            QVERIFY2(status == "Done" || status == "Canceled", qPrintable(status));
        QVERIFY(rig.dialogs.Notifications.isEmpty());
        rig.window.reset();
    }

    void closingWithoutABatchAndDroppingTheWindowMidBatchNeedNoQuestion() {
        TWindowRig rig;
        gui::TfrmMain& w =
            rig.OpenReady({Fixture("sample.mp4"), Fixture("h264_aac.mp4")}, "AVI Video (*.avi)");
        w.btnConvert->click();
        QTest::qWait(30);
        // Destroying the window (the program ends) stops and waits for the workers.
        rig.window.reset();
        QTest::qWait(300);
        TWindowRig second;
        second.Open();
        QVERIFY(second.window->close());
        QVERIFY(QFile::exists(second.ConfigPath()));
        QVERIFY(second.dialogs.Messages.empty());
    }

    void runningRowsShowSpeedAndTimeLeftAndTheStatusBarTheBatch() {
        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        rig.Add({Fixture("tone.mp3"), Fixture("mono8k.wav")});
        // 1.2 s of output in at least 0.6 s: at most twice real time, and the 8.3 s left take
        // the time that speed gives.
        w.ConverterProgress(1, 500, 10000);
        QCOMPARE(rig.Statuses().value(1), QString("{|5"));
        QElapsedTimer wall;
        wall.start();
        QTest::qWait(600);
        w.ConverterProgress(1, 1700, 10000);
        const double slowest = 1200.0 / static_cast<double>(wall.elapsed());
        const QRegularExpressionMatch figures =
            QRegularExpression(R"(^\{\|17\|(\d+\.\d)x, 0:(\d\d) left$)")
                .match(rig.Statuses().value(1));
        QVERIFY2(figures.hasMatch(), qPrintable(rig.Statuses().value(1)));
        const double speed = figures.captured(1).toDouble();
        QVERIFY2(speed <= 2.05 && speed >= slowest - 0.05, qPrintable(figures.captured(0)));
        QVERIFY(std::abs(figures.captured(2).toInt() - 8.3 / speed) <= 1.0);

        // A real batch: the status bar counts the files and the time, paused rows say so.
        w.btnClear->click();
        w.txtOutput->setText(rig.OutputFolder());
        rig.Add({LongClip(rig, 20), Fixture("h264_aac.mp4")});
        QCOMPARE(w.lvFiles->rowCount(), 2);
        rig.SelectPreset("MPEG-4 Video (*.mp4)");
        w.btnConvert->click();
        QVERIFY(w.sbStatus->currentMessage().startsWith(
            "Converting: 0 of 2 files done, 0%, 0:00 elapsed"));
        QTRY_VERIFY_WITH_TIMEOUT(w.lvFiles->Status(0).startsWith("{|"), 60000);
        w.btnPause->click();
        QVERIFY2(QRegularExpression(R"(^\{\|\d+\|Paused$)").match(w.lvFiles->Status(0)).hasMatch(),
                 qPrintable(w.lvFiles->Status(0)));
        QVERIFY2(w.sbStatus->currentMessage().startsWith("Paused: 0 of 2 files done, "),
                 qPrintable(w.sbStatus->currentMessage()));
        w.btnPause->click();
        QVERIFY(!w.lvFiles->Status(0).contains("Paused"));
        QTRY_VERIFY_WITH_TIMEOUT(
            w.sbStatus->currentMessage().startsWith("Converting: 1 of 2 files done, "), 60000);
        QVERIFY(rig.WaitForTitle(" [Done]"));
        QVERIFY2(QRegularExpression(R"(^2 files converted in \d+:\d\d$)")
                     .match(w.sbStatus->currentMessage())
                     .hasMatch(),
                 qPrintable(w.sbStatus->currentMessage()));
    }

    void conversionsAtOnceRunTogetherAndTheirRowsEndApart() {
        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        w.txtOutput->setText(rig.OutputFolder());
        QCOMPARE(w.spnConversions->value(), 1);
        QCOMPARE(w.spnConversions->maximum(), std::max(1, QThread::idealThreadCount()));
        rig.Add({Fixture("sample.mp4"), Fixture("h264_aac.mp4"), Fixture("tone.mp3")});
        rig.SelectPreset("AVI Video (*.avi)");
        // One at a time: the second task has not started when Convert returns.
        w.btnConvert->click();
        QVERIFY(!w.Converter().Tasks(1)->Running && !w.Converter().Tasks(1)->Terminated);
        QVERIFY(rig.WaitForTitle(" [Done]"));
        if (w.spnConversions->maximum() < 2)
            QSKIP("one core: one conversion at a time");
        w.spnConversions->setValue(2);
        TStatusHistory history(w);
        rig.dialogs.Answers = {true};
        w.btnConvert->click();
        // The longest two start (3 s and 2.06 s); the 2 s file waits for one of them.
        QVERIFY(w.Converter().Tasks(2)->Running || w.Converter().Tasks(2)->Terminated);
        QVERIFY(!w.Converter().Tasks(1)->Running && !w.Converter().Tasks(1)->Terminated);
        QVERIFY(rig.WaitForTitle(" [Done]"));
        QCOMPARE(rig.Statuses(), (QStringList{"Done", "Done", "Done"}));
        for (auto& [row, texts] : history.rows)
            QCOMPARE(texts.last(), QString("Done"));
        QCOMPARE(rig.OutputFiles().size(), 6);
    }

    void progressCellNeedsAKnownLength() {
        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        rig.Add({Fixture("tone.mp3"), Fixture("mono8k.wav")});
        w.ConverterProgress(1, 500, 0);
        w.ConverterProgress(1, 500, -1);
        QCOMPARE(rig.Statuses(), (QStringList{"Ready", "Ready"}));
        w.ConverterProgress(1, 500, 1000);
        QCOMPARE(rig.Statuses(), (QStringList{"Ready", "{|50"}));
        w.ConverterProgress(1, 1999, 2000);
        QCOMPARE(rig.Statuses().value(1), QString("{|99"));
        // Audio may run past the stated length.
        w.ConverterProgress(0, 2060, 2000);
        QCOMPARE(rig.Statuses().value(0), QString("{|100"));
        // An index without a row is ignored.
        w.ConverterProgress(7, 10, 100);
        QCOMPARE(rig.Statuses(), (QStringList{"{|100", "{|99"}));
    }
};

MOBIVERT_GUI_TEST(BatchTest);

#include "BatchTest.moc"
