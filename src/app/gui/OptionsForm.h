#pragma once
// The output options dialog: the user's overrides of the chosen preset (channels, sample rate,
// aspect, frame rate, bit rates, size) for every file of the following batches. It only stores
// the choices; the conversion driver applies them.

#include "app/gui/Dialogs.h"
#include "app/shared/Presets.h"
#include "app/shared/StoredChoices.h"

#include <QDialog>
#include <QGroupBox>
#include <functional>
#include <optional>
#include <vector>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace mobivert::gui {

// A titled group of radio buttons laid out in columns; ItemIndex is the checked one.
class TRadioGroup : public QGroupBox {
public:
    TRadioGroup(const QString& caption, const std::vector<std::string>& items, int columns,
                QWidget* parent = nullptr);
    int ItemIndex() const;
    void SetItemIndex(int index);
    int Count() const;
    QString Item(int index) const;

private:
    QButtonGroup* buttons_;
};

class TfrmOptions : public QDialog {
    Q_OBJECT
public:
    // The choices live in the main window; the dialog reads them on every showing and writes
    // them on OK.
    TfrmOptions(app::TStoredChoices& choices, TDialogs& dialogs, QWidget* parent = nullptr);

    // Whether the output has video: for audio outputs the aspect, frame rate, video bit rate and
    // size cannot be chosen (what is stored for them stays for video outputs).
    void SetVideoApplies(bool applies);
    // The preset the choices are for: a modern preset shows its own lists (sizes, frame rates,
    // rates and channels of today, "Same as source") and the quality or bit-rate choice; the
    // 21 (or none) show theirs. What is stored for the other family is kept.
    void SetPreset(const app::TPreset* preset);
    bool ShowsModernChoices() const { return modern_; }

    TRadioGroup* rdgAudioChannel;
    TRadioGroup* rdgAudioSampleRate;
    TRadioGroup* rdgVideoAspectRatio;
    TRadioGroup* rdgVideoFrameRate;
    QLineEdit* txtVideoBitRate;
    QCheckBox* chkVideoBitRateSame;
    QLineEdit* txtAudioBitRate;
    QCheckBox* chkAudioBitRateSame;
    QLabel* lblWidth;
    QComboBox* txtResolutionWidth;
    QLabel* lblWidthPixels;
    QLabel* lblHeight;
    QComboBox* txtResolutionHeight;
    QLabel* lblHeightPixels;
    QCheckBox* chkResolutionSame;
    QGroupBox* grpVideoBitRate;
    QGroupBox* grpVideoResolution;
    QPushButton* btnOK;
    QPushButton* btnCancel;
    // Presets of the user's own: the main window keeps them.
    QPushButton* btnSavePreset;
    QPushButton* btnImportPreset;
    QPushButton* btnExportPreset;
    // Saves the choices as typed with the chosen preset under a name the window asks for; true
    // when it was saved (the dialog then stores the choices and closes).
    std::function<bool(const app::TStoredChoices&)> OnSaveAsPreset;
    std::function<void()> OnImportPreset;
    std::function<void()> OnExportPreset;
    // Export applies only when the format chosen is a preset of the user's own.
    void SetExportApplies(bool applies);

    // The modern presets' controls.
    TRadioGroup* rdgModernAudioChannel;
    TRadioGroup* rdgModernSampleRate;
    TRadioGroup* rdgModernFrameRate;
    QGroupBox* grpModernResolution;
    QComboBox* selModernSize;
    QGroupBox* grpRateControl;
    QRadioButton* rdoQuality;
    QSpinBox* spnQuality;
    QCheckBox* chkQualitySame;
    QRadioButton* rdoBitRate;
    QRadioButton* rdoTargetSize;
    QLineEdit* txtTargetSize;
    QCheckBox* chkHardware;

public slots:
    void FormShow();
    void btnOKClick();
    void chkVideoBitRateSameClick();
    void chkAudioBitRateSameClick();
    void chkResolutionSameClick();
    void RateControlClick();
    void btnSavePresetClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void ShowVideoApplies();
    void ShowFamily();
    // The choices as the controls hold them, or nothing after showing why they cannot be kept.
    std::optional<app::TStoredChoices> TypedChoices();
    void FitSize();

    app::TStoredChoices& choices_;
    TDialogs& dialogs_;
    bool videoApplies_ = true;
    bool modern_ = false;
    int defaultQuality_ = 0;
    bool targetSizeApplies_ = false;
    bool hardwareApplies_ = false;
};

} // namespace mobivert::gui
