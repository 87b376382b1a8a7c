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
#include <QMimeDatabase>
#include <QPushButton>
#include <QSet>
#include <QSettings>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>
#include <QUrl>

#include "app/gui/HelpViewer.h"
#include "app/shared/Settings.h"

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
        // "Click to select", the 21, a separator, the "Modern formats" heading, the 10 modern.
        QCOMPARE(w.selFormat->count(), 34);
        QCOMPARE(w.selFormat->currentText(), QString("Click to select"));
        QCOMPARE(guitest::Caption(w.btnConvert), QString("Convert!"));
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

    void openDialogFiltersTakeWhatTheDesktopEntryOffers() {
        const QStringList filters = gui::OpenDialogFilters();
        QCOMPARE(filters.size(), 4);
        QVERIFY(filters[0].startsWith("All Supported Files (*.avi *.avm *.asf *.wmv "));
        QVERIFY(filters[1].startsWith("Video Files (*.avi "));
        QVERIFY(filters[2].startsWith("Audio Files (*.mp3 *.aac *.wav *.wma "));
        QCOMPARE(filters[3], QString("All Files (*)"));
        auto patterns = [&filters](int i) {
            const QString& f = filters[i];
            const qsizetype open = f.indexOf('(');
            return f.mid(open + 1, f.size() - open - 2).split(' ');
        };
        const QStringList all = patterns(0);
        // Every pattern once; all supported = video + audio.
        QCOMPARE(QSet<QString>(all.begin(), all.end()).size(), all.size());
        QCOMPARE(all, patterns(1) + patterns(2));
        for (const char* video : {"*.webm", "*.ogv", "*.mkv", "*.m4v", "*.vob", "*.3g2"})
            QVERIFY2(patterns(1).contains(video), video);
        for (const char* audio : {"*.opus", "*.flac", "*.m4a", "*.oga"})
            QVERIFY2(patterns(2).contains(audio), audio);
        // Every media type the desktop entry offers the program is one the dialog lists.
        QFile entry(QString(MOBIVERT_SOURCE_DIR) + "/src/app/gui/resources/mobivert.desktop");
        QVERIFY(entry.open(QIODevice::ReadOnly));
        QStringList types;
        for (const QByteArray& line : entry.readAll().split('\n'))
            if (line.startsWith("MimeType="))
                types = QString(line.mid(9)).split(';', Qt::SkipEmptyParts);
        QVERIFY(types.size() > 20);
        const QMimeDatabase mimes;
        int known = 0;
        for (const QString& type : types) {
            const QMimeType mime = mimes.mimeTypeForName(type);
            if (!mime.isValid() || mime.preferredSuffix().isEmpty())
                continue;
            ++known;
            QVERIFY2(all.contains("*." + mime.preferredSuffix()),
                     qPrintable(type + " -> " + mime.preferredSuffix()));
        }
        QVERIFY(known > 20);
    }

    // Each change goes to the settings file at once: a window that is killed (and so never
    // closes) starts again with the last choices.
    void everyChoiceIsWrittenWhenItChanges() {
        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        auto stored = [&rig] { return app::LoadMainSettings(rig.ConfigPath().toStdString()); };
        rig.SelectPreset("DivX Video (*.avi)");
        QCOMPARE(QString::fromStdString(stored().Preset), QString("DivX Video (*.avi)"));
        w.txtOutput->setText("/media/out");
        QCOMPARE(stored().OutputFolder, std::string("/media/out"));
        w.chkSameFolder->setChecked(true);
        QVERIFY(stored().SameFolder);
        if (w.spnConversions->maximum() > 1) {
            w.spnConversions->setValue(2);
            QCOMPARE(stored().ConversionsAtOnce, 2);
        }
        w.btnOptions->click();
        w.frmOptions->rdgAudioChannel->SetItemIndex(1);
        w.frmOptions->btnOK->click();
        QCOMPARE(stored().Choices.AudioChannelChoice, 1);
        // Cancel stores nothing.
        w.btnOptions->click();
        w.frmOptions->rdgAudioChannel->SetItemIndex(2);
        w.frmOptions->btnCancel->click();
        QCOMPARE(stored().Choices.AudioChannelChoice, 1);
        QVERIFY(!QFile::exists(rig.ConfigPath() + ".tmp"));

        // Another window started meanwhile, as after a kill, shows them all.
        TWindowRig next;
        QVERIFY(QFile::copy(rig.ConfigPath(), next.ConfigPath()) ||
                (QDir().mkpath(QFileInfo(next.ConfigPath()).path()) &&
                 QFile::copy(rig.ConfigPath(), next.ConfigPath())));
        gui::TfrmMain& again = next.Open();
        QCOMPARE(again.selFormat->currentText(), QString("DivX Video (*.avi)"));
        QCOMPARE(again.txtOutput->text(), QString("/media/out"));
        QVERIFY(again.chkSameFolder->isChecked());
        QCOMPARE(again.Choices.AudioChannelChoice, 1);
    }

    // Opening an output, its folder or the help page when the desktop has nothing to open them
    // with: a message naming the path, and the help page in a window of the program's own.
    void actionsTheDesktopCannotTakeSayWhy() {
        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        rig.dialogs.DesktopOpens = false;
        w.txtOutput->setText(rig.dir.path());
        w.btnBrowse->click();
        w.txtOutput->setText(rig.dir.filePath("not yet"));
        w.btnBrowse->click();
        QCOMPARE(
            rig.dialogs.Texts(guitest::TShownMessage::Information),
            (QStringList{"No file manager on this desktop opens this folder:\n" + rig.dir.path(),
                         "The folder does not exist yet; the first conversion into it "
                         "creates it:\n" +
                             rig.dir.filePath("not yet")}));

        // An output that was written: opening it, then its folder.
        w.txtOutput->setText(rig.OutputFolder());
        rig.Add({guitest::Fixture("mono8k.wav")});
        rig.SelectPreset("Wave Audio (*.wav)");
        w.btnConvert->click();
        QVERIFY(rig.WaitForTitle(" [Done]"));
        const QString output = QDir(rig.OutputFolder()).filePath("mono8k (Wave Audio).wav");
        w.OpenOutput(0);
        w.OpenOutputFolder(0);
        const QStringList shown = rig.dialogs.Texts(guitest::TShownMessage::Information);
        QCOMPARE(shown.mid(2),
                 (QStringList{"No program on this desktop opens this file:\n" + output,
                              "No file manager on this desktop opens this folder:\n" +
                                  rig.OutputFolder()}));

        // The help page: shown by the program itself.
        QVERIFY(QFileInfo::exists(w.HelpFile()));
        w.btnHelp->click();
        QVERIFY(w.frmHelp->isVisible());
        QCOMPARE(w.frmHelp->Browser()->source(), QUrl::fromLocalFile(w.HelpFile()));
        QVERIFY(w.frmHelp->Browser()->toPlainText().contains("Corvel Mobivert"));
        QCOMPARE(rig.dialogs.Texts(guitest::TShownMessage::Information).size(), 4);
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
