// The window and checked results: a finished output that differs from its source shows
// "Done (warnings)" with what differs, and a batch killed with its window is offered for
// resuming at the next start and converts the files it had not finished.

#include "GuiTestSupport.h"
#include "TestRegistry.h"
#include "app/gui/FileListView.h"
#include "app/gui/ResumeOffer.h"
#include "app/shared/BatchJournal.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <fstream>

using namespace mobivert;
using guitest::Fixture;
using guitest::TShownMessage;
using guitest::TWindowRig;

namespace {

class CheckedResultsTest : public QObject {
    Q_OBJECT
private slots:
    void outputShorterThanItsSourceIsDoneWithWarnings() {
        TWindowRig rig;
        gui::TfrmMain& w =
            rig.OpenReady({Fixture("cut_short.mp4"), Fixture("h264_aac.mp4")}, "AVI Video (*.avi)");
        w.btnConvert->click();
        QVERIFY(rig.WaitForTitle(" [Done]"));
        const QStringList statuses = rig.Statuses();
        QVERIFY2(statuses.value(0).startsWith("Done (warnings): video "), qPrintable(statuses[0]));
        const QString hint = w.lvFiles->item(0, gui::fcStatus)->toolTip();
        QVERIFY2(hint.contains(" s of 4.0 s, audio "), qPrintable(hint));
        QCOMPARE(statuses.value(1), QString("Done"));
        QCOMPARE(rig.OutputFiles().size(), 2);
    }

    void killedBatchIsOfferedAtStartAndConvertsWhatWasLeft() {
        TWindowRig rig;
        const QString out = rig.OutputFolder();
        // The journal of a window killed while converting its second file, whose work file
        // is still there.
        QDir().mkpath(out);
        const std::string leftover = (out + "/.h264_aac (Wave Audio).wav.part").toStdString();
        std::ofstream(leftover) << "half";
        app::TJournalBatch batch;
        batch.Program = "mobivert";
        batch.Settings.PresetText = "Wave Audio (*.wav)";
        batch.Settings.OutputFolder = out.toStdString();
        batch.Files = {
            {Fixture("tone.mp3").toStdString(), "", "", app::TJournalState::Done},
            {Fixture("h264_aac.mp4").toStdString(), "", leftover, app::TJournalState::Pending}};
        app::TBatchJournal journal;
        std::string error;
        QVERIFY2(journal.Begin(batch, error), error.c_str());
        const std::string path = journal.Path();
        journal.End();
        std::ofstream(path) << app::FormatJournal(batch);

        gui::TfrmMain& w = rig.Open();
        rig.dialogs.Answers = {true};
        gui::OfferToResume(w, rig.dialogs);
        const QStringList questions = rig.dialogs.Texts(TShownMessage::Question);
        QCOMPARE(questions.size(), 1);
        QVERIFY2(questions[0].contains("1 file(s)"), qPrintable(questions[0]));
        QCOMPARE(w.selFormat->currentText(), QString("Wave Audio (*.wav)"));
        QVERIFY(rig.WaitForTitle(" [Done]"));
        QCOMPARE(rig.Statuses(), QStringList{"Done"});
        QCOMPARE(rig.OutputFiles().size(), 1);
        QVERIFY(QFile::exists(out + "/h264_aac (Wave Audio).wav"));
        QVERIFY(!QFile::exists(QString::fromStdString(leftover)));
        QVERIFY(!QFile::exists(QString::fromStdString(path)));

        // Nothing is left to offer.
        gui::OfferToResume(w, rig.dialogs);
        QCOMPARE(rig.dialogs.Texts(TShownMessage::Question).size(), 1);
    }
};

} // namespace

MOBIVERT_GUI_TEST(CheckedResultsTest);

#include "CheckedResultsTest.moc"
