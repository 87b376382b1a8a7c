#include "app/gui/OptionsForm.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

namespace mobivert::gui {

using app::TStoredChoices;

TRadioGroup::TRadioGroup(const QString& caption, const std::vector<std::string>& items, int columns,
                         QWidget* parent)
    : QGroupBox(caption, parent), buttons_(new QButtonGroup(this)) {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(10, 6, 10, 4);
    grid->setHorizontalSpacing(12);
    for (int i = 0; i < static_cast<int>(items.size()); ++i) {
        auto* button = new QRadioButton(QString::fromStdString(items[i]), this);
        buttons_->addButton(button, i);
        grid->addWidget(button, i / columns, i % columns);
    }
    for (int c = 0; c < columns; ++c)
        grid->setColumnStretch(c, 1);
    SetItemIndex(0);
}

int TRadioGroup::ItemIndex() const {
    return buttons_->checkedId();
}

void TRadioGroup::SetItemIndex(int index) {
    if (QAbstractButton* button = buttons_->button(index))
        button->setChecked(true);
}

int TRadioGroup::Count() const {
    return static_cast<int>(buttons_->buttons().size());
}

QString TRadioGroup::Item(int index) const {
    QAbstractButton* button = buttons_->button(index);
    return button ? button->text() : QString();
}

namespace {

QComboBox* SizeCombo(const QStringList& items, QWidget* parent) {
    auto* combo = new QComboBox(parent);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->addItems(items);
    combo->setCurrentIndex(-1);
    combo->setEditText(QString());
    combo->setMinimumWidth(90);
    return combo;
}

} // namespace

TfrmOptions::TfrmOptions(TStoredChoices& choices, TDialogs& dialogs, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint | Qt::WindowTitleHint),
      choices_(choices), dialogs_(dialogs) {
    setObjectName("frmOptions");
    setWindowTitle("Output Options");
    setModal(true);

    auto* tabs = new QTabWidget(this);
    auto* page = new QWidget(tabs);
    tabs->addTab(page, "General");
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(10, 10, 10, 10);
    column->setSpacing(8);

    rdgAudioChannel = new TRadioGroup(" Audio Channel ", app::AudioChannelItems(), 3, page);
    rdgAudioSampleRate = new TRadioGroup(" Audio Sample Rate ", app::SampleRateItems(), 5, page);
    rdgVideoAspectRatio = new TRadioGroup(" Video Aspect Ratio ", app::AspectItems(), 6, page);
    rdgVideoFrameRate =
        new TRadioGroup(" Video Frame Rate (Frames Per Second) ", app::FrameRateItems(), 6, page);
    rdgModernAudioChannel = new TRadioGroup(" Audio Channel ", app::ModernChannelItems(), 5, page);
    rdgModernSampleRate =
        new TRadioGroup(" Audio Sample Rate ", app::ModernSampleRateItems(), 4, page);
    rdgModernFrameRate = new TRadioGroup(" Video Frame Rate (Frames Per Second) ",
                                         app::ModernFrameRateItems(), 6, page);
    for (QWidget* group :
         {rdgAudioChannel, rdgModernAudioChannel, rdgAudioSampleRate, rdgModernSampleRate,
          rdgVideoAspectRatio, rdgVideoFrameRate, rdgModernFrameRate})
        column->addWidget(group);

    // Constant quality, or the bit rate of the group below.
    grpRateControl = new QGroupBox(" Video Quality ", page);
    auto* rateRow = new QHBoxLayout(grpRateControl);
    rateRow->setContentsMargins(10, 6, 10, 4);
    rdoQuality = new QRadioButton("Quality", grpRateControl);
    spnQuality = new QSpinBox(grpRateControl);
    spnQuality->setAccessibleName("Quality");
    spnQuality->setToolTip("Larger numbers give smaller files of lower quality");
    chkQualitySame = new QCheckBox("Default Value", grpRateControl);
    rdoBitRate = new QRadioButton("Bit rate (below)", grpRateControl);
    // A size for the whole output, reached in two passes (WebM AV1: in one, coded again while
    // it misses).
    rdoTargetSize = new QRadioButton("Target size", grpRateControl);
    txtTargetSize = new QLineEdit(grpRateControl);
    txtTargetSize->setAccessibleName("Target size");
    txtTargetSize->setPlaceholderText("25MB");
    txtTargetSize->setMaximumWidth(90);
    txtTargetSize->setToolTip("The output's size, such as 25MB, 700MB or 1.5GB (1 MB = 1000000 "
                              "bytes; MiB and GiB count in powers of two); the video is coded "
                              "in two passes (WebM AV1: in one)");
    chkHardware = new QCheckBox("Hardware encoding", page);
    chkHardware->setToolTip("MP4 H.264 and H.265 use the machine's hardware encoder (VAAPI, "
                            "NVIDIA, Intel Quick Sync) when one works, else the software one");
    chkHardware->setChecked(true);
    auto* rateButtons = new QButtonGroup(grpRateControl);
    rateButtons->addButton(rdoQuality, 0);
    rateButtons->addButton(rdoBitRate, 1);
    rateButtons->addButton(rdoTargetSize, 2);
    rdoQuality->setChecked(true);
    chkQualitySame->setChecked(true);
    rateRow->addWidget(rdoQuality);
    rateRow->addWidget(spnQuality);
    rateRow->addWidget(chkQualitySame);
    rateRow->addSpacing(20);
    rateRow->addWidget(rdoBitRate);
    rateRow->addSpacing(20);
    rateRow->addWidget(rdoTargetSize);
    rateRow->addWidget(txtTargetSize);
    rateRow->addStretch(1);
    column->addWidget(grpRateControl);
    column->addWidget(chkHardware);

    auto bitRateGroup = [page](const QString& caption, QLineEdit*& edit, QCheckBox*& same) {
        auto* group = new QGroupBox(caption, page);
        auto* row = new QHBoxLayout(group);
        row->setContentsMargins(10, 6, 10, 4);
        edit = new QLineEdit(group);
        edit->setMaximumWidth(120);
        row->addWidget(edit);
        row->addWidget(new QLabel("kbit/s", group));
        row->addSpacing(20);
        same = new QCheckBox("Default Value", group);
        same->setChecked(true);
        row->addWidget(same);
        row->addStretch(1);
        edit->setEnabled(false);
        return group;
    };
    auto* bitRates = new QHBoxLayout();
    bitRates->setSpacing(8);
    grpVideoBitRate = bitRateGroup(" Video Bit Rate ", txtVideoBitRate, chkVideoBitRateSame);
    bitRates->addWidget(grpVideoBitRate);
    bitRates->addWidget(bitRateGroup(" Audio Bit Rate ", txtAudioBitRate, chkAudioBitRateSame));
    column->addLayout(bitRates);

    auto* resolution = new QGroupBox(" Video Resolution ", page);
    grpVideoResolution = resolution;
    auto* sizeRow = new QHBoxLayout(resolution);
    sizeRow->setContentsMargins(10, 6, 10, 4);
    lblWidth = new QLabel("Width:", resolution);
    txtResolutionWidth =
        SizeCombo({"128", "176", "320", "480", "640", "720", "1280", "1920"}, resolution);
    lblWidthPixels = new QLabel("Pixels", resolution);
    lblHeight = new QLabel("Height:", resolution);
    txtResolutionHeight =
        SizeCombo({"96", "144", "240", "320", "480", "406", "720", "1080"}, resolution);
    lblHeightPixels = new QLabel("Pixels", resolution);
    chkResolutionSame = new QCheckBox("Default Value", resolution);
    chkResolutionSame->setChecked(true);
    sizeRow->addWidget(lblWidth);
    sizeRow->addWidget(txtResolutionWidth);
    sizeRow->addWidget(lblWidthPixels);
    sizeRow->addSpacing(18);
    sizeRow->addWidget(lblHeight);
    sizeRow->addWidget(txtResolutionHeight);
    sizeRow->addWidget(lblHeightPixels);
    sizeRow->addSpacing(20);
    sizeRow->addWidget(chkResolutionSame);
    sizeRow->addStretch(1);
    column->addWidget(resolution);

    grpModernResolution = new QGroupBox(" Video Resolution ", page);
    auto* modernSizeRow = new QHBoxLayout(grpModernResolution);
    modernSizeRow->setContentsMargins(10, 6, 10, 4);
    selModernSize = new QComboBox(grpModernResolution);
    selModernSize->setAccessibleName("Video resolution");
    for (const std::string& item : app::ModernSizeItems())
        selModernSize->addItem(QString::fromStdString(item));
    modernSizeRow->addWidget(new QLabel("At most:", grpModernResolution));
    modernSizeRow->addWidget(selModernSize);
    modernSizeRow->addWidget(new QLabel(
        "Pixels (the picture keeps its shape and is never enlarged)", grpModernResolution));
    modernSizeRow->addStretch(1);
    column->addWidget(grpModernResolution);
    column->addStretch(1);

    btnOK = new QPushButton("&OK", this);
    btnOK->setDefault(true);
    btnCancel = new QPushButton("&Cancel", this);
    btnOK->setMinimumWidth(86);
    btnCancel->setMinimumWidth(86);
    btnSavePreset = new QPushButton("&Save as preset...", this);
    btnImportPreset = new QPushButton("&Import...", this);
    btnExportPreset = new QPushButton("&Export...", this);
    btnSavePreset->setToolTip("Keep the format with these options under a name of your own");
    btnImportPreset->setToolTip("Add a preset file to your presets");
    btnExportPreset->setToolTip("Write the chosen preset of your own to a file");
    btnExportPreset->setEnabled(false);
    auto* buttons = new QHBoxLayout();
    buttons->addWidget(btnSavePreset);
    buttons->addWidget(btnImportPreset);
    buttons->addWidget(btnExportPreset);
    buttons->addStretch(1);
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(10, 10, 10, 10);
    outer->addWidget(tabs);
    outer->addLayout(buttons);

    connect(chkVideoBitRateSame, &QCheckBox::toggled, this, &TfrmOptions::chkVideoBitRateSameClick);
    connect(chkAudioBitRateSame, &QCheckBox::toggled, this, &TfrmOptions::chkAudioBitRateSameClick);
    connect(chkResolutionSame, &QCheckBox::toggled, this, &TfrmOptions::chkResolutionSameClick);
    connect(rdoQuality, &QRadioButton::toggled, this, &TfrmOptions::RateControlClick);
    connect(rdoTargetSize, &QRadioButton::toggled, this, &TfrmOptions::RateControlClick);
    connect(chkQualitySame, &QCheckBox::toggled, this, &TfrmOptions::RateControlClick);
    connect(btnOK, &QPushButton::clicked, this, &TfrmOptions::btnOKClick);
    connect(btnSavePreset, &QPushButton::clicked, this, &TfrmOptions::btnSavePresetClick);
    connect(btnImportPreset, &QPushButton::clicked, this, [this] {
        if (OnImportPreset)
            OnImportPreset();
    });
    connect(btnExportPreset, &QPushButton::clicked, this, [this] {
        if (OnExportPreset)
            OnExportPreset();
    });
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    chkResolutionSameClick();
    ShowFamily();
}

void TfrmOptions::FitSize() {
    // The client area of 563 x 469 unless the fonts (or the modern presets' groups) need more.
    layout()->activate();
    setFixedSize(sizeHint().expandedTo(QSize(563, 469)));
}

void TfrmOptions::SetPreset(const app::TPreset* preset) {
    modern_ = preset && preset->Modern;
    if (modern_ && preset->DefaultQuality >= 0) {
        defaultQuality_ = preset->DefaultQuality;
        spnQuality->setRange(0, preset->MaxQuality);
    }
    targetSizeApplies_ = modern_ && preset->TargetSizeCoding != app::ETargetSizeCoding::None;
    hardwareApplies_ = modern_ && preset->HardwareEncoders;
    ShowFamily();
}

void TfrmOptions::ShowFamily() {
    for (QWidget* classic : std::initializer_list<QWidget*>{rdgAudioChannel, rdgAudioSampleRate,
                                                            rdgVideoFrameRate, grpVideoResolution})
        classic->setVisible(!modern_);
    for (QWidget* modern : std::initializer_list<QWidget*>{
             rdgModernAudioChannel, rdgModernSampleRate, rdgModernFrameRate, grpRateControl,
             grpModernResolution, chkHardware})
        modern->setVisible(modern_);
    rdoTargetSize->setEnabled(targetSizeApplies_ || rdoTargetSize->isChecked());
    chkHardware->setEnabled(hardwareApplies_ && !rdoTargetSize->isChecked());
    FitSize();
}

void TfrmOptions::RateControlClick() {
    const bool quality = rdoQuality->isChecked();
    chkQualitySame->setEnabled(quality);
    spnQuality->setEnabled(quality && !chkQualitySame->isChecked());
    if (chkQualitySame->isChecked())
        spnQuality->setValue(defaultQuality_);
    const bool target = rdoTargetSize->isChecked();
    txtTargetSize->setEnabled(target);
    grpVideoBitRate->setEnabled(videoApplies_ && (!modern_ || (!quality && !target)));
    // A target size is coded by the software encoder, whose rate control lands at the size.
    chkHardware->setEnabled(hardwareApplies_ && !target);
}

void TfrmOptions::showEvent(QShowEvent* event) {
    FormShow();
    QDialog::showEvent(event);
}

void TfrmOptions::FormShow() {
    rdgAudioChannel->SetItemIndex(choices_.AudioChannelChoice);
    rdgAudioSampleRate->SetItemIndex(choices_.SampleRateChoice);
    rdgVideoAspectRatio->SetItemIndex(choices_.AspectChoice);
    rdgVideoFrameRate->SetItemIndex(choices_.FrameRateChoice);
    txtVideoBitRate->setText(QString::fromStdString(choices_.VideoBitRateText));
    txtAudioBitRate->setText(QString::fromStdString(choices_.AudioBitRateText));
    chkVideoBitRateSame->setChecked(choices_.VideoBitRateDefault);
    chkAudioBitRateSame->setChecked(choices_.AudioBitRateDefault);
    txtResolutionWidth->setEditText(QString::fromStdString(choices_.WidthText));
    txtResolutionHeight->setEditText(QString::fromStdString(choices_.HeightText));
    chkResolutionSame->setChecked(choices_.ResolutionDefault);
    // A check box whose state did not change runs no handler: the controls follow anyway.
    chkVideoBitRateSameClick();
    chkAudioBitRateSameClick();
    chkResolutionSameClick();
    chkResolutionSame->setEnabled(true);
    rdgAudioChannel->setEnabled(true);

    rdgModernAudioChannel->SetItemIndex(choices_.ModernChannelChoice);
    rdgModernSampleRate->SetItemIndex(choices_.ModernSampleRateChoice);
    rdgModernFrameRate->SetItemIndex(choices_.ModernFrameRateChoice);
    selModernSize->setCurrentIndex(choices_.ModernSizeChoice);
    (choices_.RateControlChoice == app::RATE_TARGET_SIZE ? rdoTargetSize
     : choices_.RateControlChoice == app::RATE_BIT_RATE  ? rdoBitRate
                                                         : rdoQuality)
        ->setChecked(true);
    txtTargetSize->setText(QString::fromStdString(choices_.TargetSizeText));
    chkHardware->setChecked(choices_.HardwareEncoding);
    const std::optional<int> quality = app::ParseIntegerText(choices_.QualityText);
    chkQualitySame->setChecked(!quality);
    spnQuality->setValue(quality ? *quality : defaultQuality_);
    ShowVideoApplies();
}

void TfrmOptions::SetVideoApplies(bool applies) {
    videoApplies_ = applies;
    ShowVideoApplies();
}

void TfrmOptions::ShowVideoApplies() {
    for (QWidget* group : std::initializer_list<QWidget*>{
             rdgVideoAspectRatio, rdgVideoFrameRate, grpVideoBitRate, grpVideoResolution,
             rdgModernFrameRate, grpRateControl, grpModernResolution}) {
        group->setEnabled(videoApplies_);
        group->setToolTip(videoApplies_ ? QString() : "The chosen format has no video");
    }
    RateControlClick();
}

void TfrmOptions::chkVideoBitRateSameClick() {
    txtVideoBitRate->setEnabled(!chkVideoBitRateSame->isChecked());
}

void TfrmOptions::chkAudioBitRateSameClick() {
    txtAudioBitRate->setEnabled(!chkAudioBitRateSame->isChecked());
}

void TfrmOptions::chkResolutionSameClick() {
    bool own = !chkResolutionSame->isChecked();
    for (QWidget* w :
         std::initializer_list<QWidget*>{lblWidth, txtResolutionWidth, lblWidthPixels, lblHeight,
                                         txtResolutionHeight, lblHeightPixels})
        w->setEnabled(own);
}

void TfrmOptions::btnOKClick() {
    if (std::optional<TStoredChoices> typed = TypedChoices()) {
        choices_ = *typed;
        accept();
    }
}

void TfrmOptions::SetExportApplies(bool applies) {
    btnExportPreset->setEnabled(applies);
}

void TfrmOptions::btnSavePresetClick() {
    std::optional<TStoredChoices> typed = TypedChoices();
    if (typed && OnSaveAsPreset && OnSaveAsPreset(*typed)) {
        choices_ = *typed;
        accept();
    }
}

std::optional<TStoredChoices> TfrmOptions::TypedChoices() {
    TStoredChoices typed;
    typed.AudioChannelChoice = rdgAudioChannel->ItemIndex();
    typed.SampleRateChoice = rdgAudioSampleRate->ItemIndex();
    typed.AspectChoice = rdgVideoAspectRatio->ItemIndex();
    typed.FrameRateChoice = rdgVideoFrameRate->ItemIndex();
    typed.VideoBitRateText = txtVideoBitRate->text().toStdString();
    typed.AudioBitRateText = txtAudioBitRate->text().toStdString();
    typed.VideoBitRateDefault = chkVideoBitRateSame->isChecked();
    typed.AudioBitRateDefault = chkAudioBitRateSame->isChecked();
    typed.WidthText = txtResolutionWidth->currentText().toStdString();
    typed.HeightText = txtResolutionHeight->currentText().toStdString();
    typed.ResolutionDefault = chkResolutionSame->isChecked();
    typed.ModernChannelChoice = rdgModernAudioChannel->ItemIndex();
    typed.ModernSampleRateChoice = rdgModernSampleRate->ItemIndex();
    typed.ModernFrameRateChoice = rdgModernFrameRate->ItemIndex();
    typed.ModernSizeChoice = std::max(0, selModernSize->currentIndex());
    typed.RateControlChoice = rdoTargetSize->isChecked() ? app::RATE_TARGET_SIZE
                              : rdoBitRate->isChecked()  ? app::RATE_BIT_RATE
                                                         : app::RATE_QUALITY;
    typed.TargetSizeText = txtTargetSize->text().toStdString();
    typed.HardwareEncoding = chkHardware->isChecked();
    // The preset's own quality is kept as no number, so that each modern preset keeps its own.
    typed.QualityText =
        chkQualitySame->isChecked() ? std::string() : std::to_string(spnQuality->value());

    std::string problem = app::CheckStoredChoices(typed);
    if (problem.empty() && modern_)
        problem = app::CheckTargetSizeChoice(typed);
    if (!problem.empty()) {
        dialogs_.Information(this, QString::fromStdString(problem));
        if (problem == app::MSG_SIZE_NOT_INTEGER)
            chkResolutionSame->setFocus();
        else if (problem == app::MSG_VIDEO_BITRATE_NOT_INTEGER)
            txtVideoBitRate->setFocus();
        else if (problem == app::MSG_TARGET_SIZE_NOT_SIZE)
            txtTargetSize->setFocus();
        else
            txtAudioBitRate->setFocus();
        return std::nullopt;
    }
    return typed;
}

} // namespace mobivert::gui
