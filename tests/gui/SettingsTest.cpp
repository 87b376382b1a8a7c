// Start-up, the settings file, the window's size limits, the output folder controls and the
// help page.

#include "GuiTestSupport.h"
#include "TestRegistry.h"
#include "app/gui/FileListView.h"
#include "app/gui/OptionsForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QToolButton>

using namespace mobivert;
using guitest::TWindowRig;

namespace {

void WriteFile(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class SettingsTest : public QObject {
    Q_OBJECT
private slots:
    void firstStartWithoutConfigUsesDefaultsAndWritesBothKeysAtClose() {
        TWindowRig rig;
        const QByteArray home = qgetenv("HOME");
        qputenv("HOME", rig.dir.path().toUtf8());
        gui::TfrmMain& w = rig.Open();
        qputenv("HOME", home);

        QCOMPARE(w.txtOutput->text(), rig.dir.filePath("CorvelVideo"));
        QVERIFY(!w.chkSameFolder->isChecked());
        QVERIFY(w.txtOutput->isEnabled() && w.txtOutput->isReadOnly());
        QVERIFY(w.btnFolderChange->isEnabled());
        QVERIFY(w.btnBrowse->isEnabled());
        QCOMPARE(w.windowTitle(), QString("Corvel Mobivert"));
        QCOMPARE(w.selFormat->count(), 22);
        QCOMPARE(w.selFormat->currentText(), QString("Click to select"));
        QCOMPARE(w.btnConvert->text(), QString("Convert!"));
        QVERIFY(w.btnPause->isHidden());
        QVERIFY(!QFile::exists(rig.ConfigPath()));

        w.close();
        QVERIFY(QFile::exists(rig.ConfigPath()));
        QSettings ini(rig.ConfigPath(), QSettings::IniFormat);
        QCOMPARE(ini.value("Main/strOutput").toString(), rig.dir.filePath("CorvelVideo"));
        QCOMPARE(ini.value("Main/booSameFolder").toString(), QString("0"));
    }

    void sameFolderFromConfigDisablesTheFolderControls() {
        TWindowRig rig;
        WriteFile(rig.ConfigPath(), "[Main]\nstrOutput=/srv/media out\nbooSameFolder=1\n");
        gui::TfrmMain& w = rig.Open();
        QCOMPARE(w.txtOutput->text(), QString("/srv/media out"));
        QVERIFY(w.chkSameFolder->isChecked());
        QVERIFY(!w.txtOutput->isEnabled());
        QVERIFY(!w.btnFolderChange->isEnabled());
        QVERIFY(!w.btnBrowse->isEnabled());

        w.chkSameFolder->click();
        QVERIFY(w.txtOutput->isEnabled());
        QVERIFY(w.btnFolderChange->isEnabled());
        QVERIFY(w.btnBrowse->isEnabled());

        w.close();
        const QByteArray saved = ReadFile(rig.ConfigPath());
        QVERIFY2(saved.contains("booSameFolder=0"), saved.constData());
        QVERIFY2(saved.contains("strOutput=/srv/media out"), saved.constData());
    }

    void sizeLimits() {
        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.size(), QSize(732, 556));

        w.resize(631, 433);
        QCOMPARE(w.size(), QSize(631, 433));
        w.resize(630, 600);
        QCOMPARE(w.width(), 631);
        w.resize(700, 432);
        QCOMPARE(w.height(), 433);

        QVERIFY(gui::TfrmMain::FormCanResize(631, 433));
        QVERIFY(!gui::TfrmMain::FormCanResize(630, 600));
        QVERIFY(!gui::TfrmMain::FormCanResize(800, 432));
    }

    void folderPickerBrowseAndHelp() {
        TWindowRig rig;
        WriteFile(rig.ConfigPath(), "[Main]\nstrOutput=/first\n");
        gui::TfrmMain& w = rig.Open();

        // Cancelling the picker keeps the folder.
        w.btnFolderChange->click();
        QCOMPARE(rig.dialogs.LastPrompt, QString("Select an Output Folder:"));
        QCOMPARE(w.txtOutput->text(), QString("/first"));

        rig.dialogs.FolderToChoose = "/second/folder";
        w.btnFolderChange->click();
        QCOMPARE(w.txtOutput->text(), QString("/second/folder"));

        // A double click on the folder opens the picker too.
        rig.dialogs.FolderToChoose = "/third";
        QTest::mouseDClick(w.txtOutput, Qt::LeftButton);
        QCOMPARE(w.txtOutput->text(), QString("/third"));

        w.btnBrowse->click();
        QCOMPARE(rig.dialogs.Opened, QStringList{"/third"});

        w.btnHelp->click();
        QCOMPARE(rig.dialogs.Opened.size(), 2);
        QVERIFY(rig.dialogs.Opened[1].endsWith("/help.html"));
        QCOMPARE(rig.dialogs.Opened[1], w.HelpFile());
        QVERIFY(rig.dialogs.Messages.empty());
    }

    void openDialogHasTheFourFilters() {
        const QStringList filters = gui::OpenDialogFilters();
        QCOMPARE(filters.size(), 4);
        QCOMPARE(filters[0],
                 QString("All Supported Files (*.avi *.avm *.asf *.wmv *.avs *.flv *.mkv *.mov "
                         "*.3gp *.mp4 *.mpg *.mpeg *.dat *.ogm *.vob *.rm *.rmvb *.ts *.tp *.ifo "
                         "*.nsv *.vob *.mp3 *.aac *.wav *.wma *.cda *.flac *.m4a *.mid *.mka *.mp2 "
                         "*.mpa *.mpc *.ape *.ofr *.ogg *.ra *.wv *.tta *.ac3 *.dts *.amr)"));
        QCOMPARE(filters[1], QString("Video Files (*.avi *.avm *.asf *.wmv *.avs *.flv *.mkv "
                                     "*.mov *.3gp *.mp4 *.mpg *.mpeg *.dat *.ogm *.vob *.rm "
                                     "*.rmvb *.ts *.tp *.ifo *.nsv *.vob)"));
        QCOMPARE(filters[2], QString("Audio Files (*.mp3 *.aac *.wav *.wma *.cda *.flac *.m4a "
                                     "*.mid *.mka *.mp2 *.mpa *.mpc *.ape *.ofr *.ogg *.ra *.wv "
                                     "*.tta *.ac3 *.dts *.amr)"));
        QCOMPARE(filters[3], QString("All Files (*)"));
    }

    void presetChoicesAndConversionsAtOnceAreKeptForTheNextStart() {
        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        rig.SelectPreset("DivX Video (*.avi)");
        w.spnConversions->setValue(std::min(2, w.spnConversions->maximum()));
        w.frmOptions->show();
        w.frmOptions->rdgAudioChannel->SetItemIndex(2);
        w.frmOptions->chkResolutionSame->click();
        w.frmOptions->txtResolutionWidth->setEditText("320");
        w.frmOptions->txtResolutionHeight->setEditText("240");
        w.frmOptions->btnOK->click();
        QCOMPARE(w.lblOverrides->text(), QString("Options: Stereo, 320x240"));
        QVERIFY(w.close());
        const QByteArray stored = ReadFile(rig.ConfigPath());
        QVERIFY2(stored.contains("strPreset=DivX Video (*.avi)\n"), stored.constData());
        QVERIFY2(stored.contains("[Options]\nintAudioChannel=2\n"), stored.constData());

        rig.window.reset();
        gui::TfrmMain& again = rig.Open();
        QCOMPARE(again.selFormat->currentText(), QString("DivX Video (*.avi)"));
        QCOMPARE(again.spnConversions->value(), std::min(2, again.spnConversions->maximum()));
        QCOMPARE(again.Choices.AudioChannelChoice, 2);
        QVERIFY(!again.Choices.ResolutionDefault);
        QCOMPARE(again.lblOverrides->text(), QString("Options: Stereo, 320x240"));
        again.frmOptions->show();
        QCOMPARE(again.frmOptions->rdgAudioChannel->ItemIndex(), 2);
        QCOMPARE(again.frmOptions->txtResolutionWidth->currentText(), QString("320"));
        again.frmOptions->reject();

        // A preset the program no longer offers and more conversions than cores start plainly.
        WriteFile(rig.ConfigPath(), "[Main]\nstrPreset=Betamax (*.bm)\nintConversions=999\n");
        rig.window.reset();
        gui::TfrmMain& third = rig.Open();
        QCOMPARE(third.selFormat->currentIndex(), 0);
        QCOMPARE(third.spnConversions->value(), third.spnConversions->maximum());
    }
};

MOBIVERT_GUI_TEST(SettingsTest);

#include "SettingsTest.moc"
