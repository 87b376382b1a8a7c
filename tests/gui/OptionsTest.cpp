// The output options dialog: its initial state, the Default boxes, OK's three checks in order
// with their messages and focus, storing, Cancel, and when the main window lets it open.

#include "GuiTestSupport.h"
#include "TestRegistry.h"
#include "app/gui/OptionsForm.h"
#include "app/shared/UserPresets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QTest>
#include <fstream>
#include <sstream>

using namespace mobivert;
using guitest::TShownMessage;
using guitest::TWindowRig;

class OptionsTest : public QObject {
    Q_OBJECT
private slots:
    void optionsButtonFollowsThePreset() {
        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        QVERIFY(w.btnOptions->isEnabled()); // "Click to select"
        rig.SelectPreset("3GPP 128*96 (*.3gp)");
        QVERIFY(!w.btnOptions->isEnabled());
        rig.SelectPreset("3GPP2 128*96 (*.3g2)");
        QVERIFY(w.btnOptions->isEnabled());
        rig.SelectPreset("3GPP 176*144 (*.3gp)");
        QVERIFY(!w.btnOptions->isEnabled());
        rig.SelectPreset("Wave Audio (*.wav)");
        QVERIFY(w.btnOptions->isEnabled());
    }

    void showsAllDefaultsWithTheDependentControlsOff() {
        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        gui::TfrmOptions& d = *w.frmOptions;
        w.btnOptions->click();
        QVERIFY(d.isVisible());
        QCOMPARE(d.windowTitle(), QString("Output Options"));
        QVERIFY(d.isModal());

        for (gui::TRadioGroup* g :
             {d.rdgAudioChannel, d.rdgAudioSampleRate, d.rdgVideoAspectRatio, d.rdgVideoFrameRate})
            QCOMPARE(g->ItemIndex(), 0);
        QVERIFY(d.chkVideoBitRateSame->isChecked() && !d.txtVideoBitRate->isEnabled());
        QVERIFY(d.chkAudioBitRateSame->isChecked() && !d.txtAudioBitRate->isEnabled());
        QVERIFY(d.chkResolutionSame->isChecked());
        for (QWidget* c :
             std::initializer_list<QWidget*>{d.lblWidth, d.txtResolutionWidth, d.lblWidthPixels,
                                             d.lblHeight, d.txtResolutionHeight, d.lblHeightPixels})
            QVERIFY(!c->isEnabled());

        d.chkVideoBitRateSame->click();
        QVERIFY(d.txtVideoBitRate->isEnabled());
        QVERIFY(!d.txtAudioBitRate->isEnabled());
        d.chkResolutionSame->click();
        QVERIFY(d.txtResolutionHeight->isEnabled() && d.lblHeightPixels->isEnabled());
        d.btnCancel->click();
        QVERIFY(!d.isVisible());
    }

    // Centred on the window wherever it is; the video choices are off for an audio format; a
    // width alone is taken (the height follows the source's shape).
    void opensOverTheWindowWithWhatAppliesToTheFormat() {
        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        gui::TfrmOptions& d = *w.frmOptions;
        w.move(30, 20);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.btnOptions->click();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        const QPoint off = d.frameGeometry().center() - w.frameGeometry().center();
        auto text = [](const QRect& r) {
            return QString("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
        };
        QVERIFY2(off.manhattanLength() <= 4,
                 qPrintable(text(d.frameGeometry()) + " over " + text(w.frameGeometry())));
        d.reject();
        // Near the screen's edge it stays on the screen (but for the width of a frame, which
        // this test platform adds on its own).
        const QRect screen = w.screen()->availableGeometry();
        w.move(screen.right() - 100, 20);
        w.btnOptions->click();
        QVERIFY2(screen.adjusted(-8, -8, 8, 8).contains(d.frameGeometry()),
                 qPrintable(text(d.frameGeometry()) + " on " + text(screen)));
        QVERIFY(d.frameGeometry().center().x() < w.frameGeometry().center().x() - 50);
        d.reject();

        const QList<QWidget*> video{d.rdgVideoAspectRatio, d.rdgVideoFrameRate,
                                    d.txtVideoBitRate->parentWidget(),
                                    d.txtResolutionWidth->parentWidget()};
        rig.SelectPreset("MP3 MPEG Layer-3 (*.mp3)");
        w.btnOptions->click();
        for (QWidget* c : video)
            QVERIFY2(!c->isEnabled(), qPrintable(c->metaObject()->className()));
        QVERIFY(!d.chkResolutionSame->isEnabled());
        QVERIFY(d.rdgAudioChannel->isEnabled() && d.chkAudioBitRateSame->isEnabled());
        d.reject();
        rig.SelectPreset("AVI Video (*.avi)");
        w.btnOptions->click();
        for (QWidget* c : video)
            QVERIFY(c->isEnabled());
        QVERIFY(!d.txtVideoBitRate->isEnabled()); // still behind its Default box

        d.chkResolutionSame->click();
        d.txtResolutionWidth->setEditText("320");
        d.txtResolutionHeight->setEditText("");
        d.btnOK->click();
        QVERIFY(rig.dialogs.Messages.empty());
        QVERIFY(!d.isVisible());
        QCOMPARE(w.Choices.WidthText, std::string("320"));
        QCOMPARE(w.lblOverrides->text(), QString("Options: width 320"));
    }

    void okChecksInOrderThenStores() {
        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        gui::TfrmOptions& d = *w.frmOptions;
        d.show();
        d.rdgAudioChannel->SetItemIndex(2);
        d.rdgAudioSampleRate->SetItemIndex(3);
        d.rdgVideoFrameRate->SetItemIndex(4);
        d.chkResolutionSame->click();
        d.chkVideoBitRateSame->click();
        d.chkAudioBitRateSame->click();
        d.txtResolutionWidth->setEditText("320");
        d.txtResolutionHeight->setEditText("2x0");
        d.txtVideoBitRate->setText("12a");
        d.txtAudioBitRate->setText("96 kbit");

        d.btnOK->click();
        QCOMPARE(rig.dialogs.Texts(TShownMessage::Information),
                 QStringList{"The width and height of the video must be integers"});
        QCOMPARE(d.focusWidget(), d.chkResolutionSame);
        QVERIFY(d.isVisible());

        d.txtResolutionHeight->setEditText("240");
        d.btnOK->click();
        QCOMPARE(rig.dialogs.Texts(TShownMessage::Information).value(1),
                 QString("The video bit rate must be an integer value"));
        QCOMPARE(d.focusWidget(), d.txtVideoBitRate);
        QVERIFY(d.isVisible());

        d.txtVideoBitRate->setText("800");
        d.btnOK->click();
        QCOMPARE(rig.dialogs.Texts(TShownMessage::Information).value(2),
                 QString("The audio bit rate must be an integer value"));
        QCOMPARE(d.focusWidget(), d.txtAudioBitRate);
        QVERIFY(d.isVisible());
        // Nothing was stored by the refused attempts.
        QCOMPARE(w.Choices.AudioChannelChoice, 0);
        QVERIFY(w.Choices.ResolutionDefault);

        d.txtAudioBitRate->setText("96");
        d.btnOK->click();
        QVERIFY(!d.isVisible());
        QCOMPARE(rig.dialogs.Messages.size(), size_t(3));
        QCOMPARE(w.Choices.AudioChannelChoice, 2);
        QCOMPARE(w.Choices.SampleRateChoice, 3);
        QCOMPARE(w.Choices.AspectChoice, 0);
        QCOMPARE(w.Choices.FrameRateChoice, 4);
        QCOMPARE(w.Choices.VideoBitRateText, std::string("800"));
        QCOMPARE(w.Choices.AudioBitRateText, std::string("96"));
        QVERIFY(!w.Choices.VideoBitRateDefault && !w.Choices.AudioBitRateDefault);
        QCOMPARE(w.Choices.WidthText, std::string("320"));
        QCOMPARE(w.Choices.HeightText, std::string("240"));
        QVERIFY(!w.Choices.ResolutionDefault);

        // The next showing brings the stored choices back, with their controls enabled.
        d.show();
        QCOMPARE(d.rdgAudioChannel->ItemIndex(), 2);
        QCOMPARE(d.txtResolutionWidth->currentText(), QString("320"));
        QVERIFY(d.txtVideoBitRate->isEnabled() && d.txtResolutionWidth->isEnabled());
        d.reject();
    }

    void videoBitRateWithALetterIsRefused() {
        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        gui::TfrmOptions& d = *w.frmOptions;
        d.show();
        d.chkVideoBitRateSame->click();
        d.txtVideoBitRate->setText("12a");
        d.btnOK->click();
        QCOMPARE(rig.dialogs.Texts(TShownMessage::Information),
                 QStringList{"The video bit rate must be an integer value"});
        QVERIFY(d.isVisible());
        QVERIFY(w.Choices.VideoBitRateDefault);
        QCOMPARE(w.Choices.VideoBitRateText, std::string());
        d.reject();
    }

    void cancelKeepsTheStoredChoice() {
        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        gui::TfrmOptions& d = *w.frmOptions;
        d.show();
        d.rdgAudioChannel->SetItemIndex(1); // Mono
        d.chkAudioBitRateSame->click();
        d.txtAudioBitRate->setText("64");
        d.btnCancel->click();
        QVERIFY(!d.isVisible());
        QCOMPARE(w.Choices.AudioChannelChoice, 0);
        QVERIFY(w.Choices.AudioBitRateDefault);

        d.show();
        QCOMPARE(d.rdgAudioChannel->ItemIndex(), 0);
        QVERIFY(d.chkAudioBitRateSame->isChecked());
        QVERIFY(!d.txtAudioBitRate->isEnabled());
        QCOMPARE(d.txtAudioBitRate->text(), QString());
        d.reject();
    }

    // The modern presets sit under a heading that cannot be chosen; their dialog shows the
    // lists of today and Quality or Bit rate, stored apart from the 21's choices.
    void modernPresetsShowTheirOwnChoicesAndQualityOrBitRate() {
        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        gui::TfrmOptions& d = *w.frmOptions;
        const int heading = w.selFormat->findText("Modern formats");
        QCOMPARE(heading, 23);
        QCOMPARE(w.selFormat->itemText(24), QString("MP4 H.264 (*.mp4)"));
        QCOMPARE(w.selFormat->itemText(33), QString("OGG Vorbis (*.ogg)"));
        QVERIFY(!(w.selFormat->model()->flags(w.selFormat->model()->index(heading, 0)) &
                  Qt::ItemIsEnabled));

        rig.SelectPreset("WebM VP9 (*.webm)");
        w.btnOptions->click();
        QVERIFY(d.ShowsModernChoices() && d.rdgModernAudioChannel->isVisible());
        QVERIFY(!d.rdgAudioChannel->isVisible() && !d.grpVideoResolution->isVisible());
        QCOMPARE(d.rdgModernAudioChannel->Item(4), QString("7.1"));
        QCOMPARE(d.selModernSize->itemText(1), QString("3840x2160"));
        // Quality by default at the preset's own number; Bit rate enables the bit-rate group.
        QVERIFY(d.rdoQuality->isChecked() && !d.grpVideoBitRate->isEnabled());
        QCOMPARE(d.spnQuality->value(), 32);
        QCOMPARE(d.spnQuality->maximum(), 63);
        d.chkQualitySame->click();
        d.spnQuality->setValue(40);
        d.rdgModernAudioChannel->SetItemIndex(3);
        d.btnOK->click();
        QCOMPARE(w.Choices.QualityText, std::string("40"));
        QCOMPARE(w.Choices.ModernChannelChoice, 3);
        QCOMPARE(w.Choices.AudioChannelChoice, 0);
        QCOMPARE(w.lblOverrides->text(), QString("Options: 5.1, quality 40"));

        w.btnOptions->click();
        d.rdoBitRate->click();
        QVERIFY(d.grpVideoBitRate->isEnabled() && !d.spnQuality->isEnabled());
        d.btnOK->click();
        QCOMPARE(w.Choices.RateControlChoice, 1);
        // A preset of the 21 shows its own lists again, with its own choices untouched.
        rig.SelectPreset("AVI Video (*.avi)");
        w.btnOptions->click();
        QVERIFY(!d.ShowsModernChoices() && d.rdgAudioChannel->isVisible());
        QVERIFY(!d.grpRateControl->isVisible() && d.grpVideoBitRate->isEnabled());
        QCOMPARE(d.rdgAudioChannel->ItemIndex(), 0);
        d.btnCancel->click();
    }

    // "Target size" takes a size as the command line does and leaves the encoding to the
    // software encoder; "Hardware encoding" applies to MP4 H.264 and H.265 only; VP9 and AV1
    // offer a target size too.
    void targetSizeAndHardwareEncodingAreChosenWhereTheyApply() {
        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        gui::TfrmOptions& d = *w.frmOptions;
        rig.SelectPreset("MP4 H.264 (*.mp4)");
        w.btnOptions->click();
        QVERIFY(d.chkHardware->isVisible() && d.chkHardware->isEnabled());
        QVERIFY(d.chkHardware->isChecked() && !d.txtTargetSize->isEnabled());
        d.rdoTargetSize->click();
        QVERIFY(d.txtTargetSize->isEnabled() && !d.chkHardware->isEnabled());
        QVERIFY(!d.grpVideoBitRate->isEnabled());
        d.txtTargetSize->setText("25 MBytes");
        d.btnOK->click();
        QVERIFY(d.isVisible());
        QCOMPARE(rig.dialogs.Texts(TShownMessage::Information),
                 QStringList{app::MSG_TARGET_SIZE_NOT_SIZE});
        d.txtTargetSize->setText("25MB");
        d.btnOK->click();
        QVERIFY(!d.isVisible());
        QCOMPARE(w.Choices.RateControlChoice, app::RATE_TARGET_SIZE);
        QCOMPARE(w.Choices.TargetSizeText, std::string("25MB"));
        QCOMPARE(w.lblOverrides->text(), QString("Options: target size 25MB"));

        w.btnOptions->click();
        QVERIFY(d.rdoTargetSize->isChecked() && d.txtTargetSize->text() == "25MB");
        d.rdoQuality->click();
        QVERIFY(d.chkHardware->isEnabled());
        d.chkHardware->click();
        d.btnOK->click();
        QVERIFY(!w.Choices.HardwareEncoding);

        rig.SelectPreset("WebM VP9 (*.webm)");
        w.btnOptions->click();
        QVERIFY(!d.chkHardware->isEnabled() && d.rdoTargetSize->isEnabled());
        d.btnCancel->click();
        rig.SelectPreset("WebM AV1 (*.webm)");
        w.btnOptions->click();
        QVERIFY(!d.chkHardware->isEnabled() && d.rdoTargetSize->isEnabled());
        d.btnCancel->click();
    }

    // "Save as preset..." keeps the format with the typed choices under "My presets"; choosing
    // it brings them back; it exports to a file; a damaged file is set aside with a message.
    void presetsOfYourOwnAreSavedListedChosenAndExported() {
        TWindowRig rig;
        QDir().mkpath(rig.dir.filePath("config/presets"));
        std::ofstream(rig.dir.filePath("config/presets/bad.preset").toStdString()) << "x\n";
        gui::TfrmMain& w = rig.Open();
        gui::TfrmOptions& d = *w.frmOptions;
        QCOMPARE(rig.dialogs.Texts(TShownMessage::Information).size(), 1);
        QVERIFY(QFile::exists(rig.dir.filePath("config/presets/bad.preset.damaged")));
        QCOMPARE(w.selFormat->findText("My presets"), -1);

        rig.SelectPreset("MP4 H.265 (*.mp4)");
        w.btnOptions->click();
        QVERIFY(!d.btnExportPreset->isEnabled());
        d.rdgModernFrameRate->SetItemIndex(5);
        rig.dialogs.TextToGive = "Sixty";
        d.btnSavePreset->click();
        QVERIFY(!d.isVisible());
        QCOMPARE(w.selFormat->currentText(), QString("Sixty"));
        QCOMPARE(w.selFormat->itemText(w.selFormat->currentIndex() - 1), QString("My presets"));
        QCOMPARE(w.SelectedPresetText(), std::string("MP4 H.265 (*.mp4)"));

        rig.SelectPreset("AVI Video (*.avi)");
        w.Choices.ModernFrameRateChoice = 0;
        rig.SelectPreset("Sixty");
        QCOMPARE(w.Choices.ModernFrameRateChoice, 5);
        QCOMPARE(w.lblOverrides->text(), QString("Options: 60 fps"));
        w.btnOptions->click();
        QVERIFY(d.ShowsModernChoices() && d.btnExportPreset->isEnabled());
        rig.dialogs.FileToSave = rig.dir.filePath("sixty.preset");
        d.btnExportPreset->click();
        d.btnCancel->click();
        std::string reason;
        app::TUserPreset exported;
        std::ifstream in(rig.dialogs.FileToSave.toStdString());
        std::stringstream text;
        text << in.rdbuf();
        QVERIFY2(app::ParseUserPreset(text.str(), exported, reason), reason.c_str());
        QCOMPARE(exported.Name, std::string("Sixty"));
        QCOMPARE(exported.Choices.ModernFrameRateChoice, 5);
    }
};

MOBIVERT_GUI_TEST(OptionsTest);

#include "OptionsTest.moc"
