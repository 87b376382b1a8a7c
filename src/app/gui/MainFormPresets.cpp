// The format combo: the modern presets under their heading after the 21 and the user's own
// under "My presets", saving, importing and exporting a preset of the user's own, and the
// options applied to the chosen format (the line under the combo and the Options dialog).

#include "app/gui/MainForm.h"
#include "app/gui/OptionsForm.h"
#include "app/gui/StdText.h"
#include "app/shared/ConversionDriver.h"
#include "app/shared/Presets.h"
#include "app/shared/UserPresets.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStandardItemModel>

#include <algorithm>

namespace mobivert::gui {

namespace {

// A separator, then a bold heading that cannot be chosen.
void AddHeading(QComboBox* combo, const char* text) {
    combo->insertSeparator(combo->count());
    combo->addItem(text);
    if (auto* model = qobject_cast<QStandardItemModel*>(combo->model()))
        if (QStandardItem* heading = model->item(combo->count() - 1)) {
            heading->setFlags(heading->flags() & ~(Qt::ItemIsSelectable | Qt::ItemIsEnabled));
            QFont bold = heading->font();
            bold.setBold(true);
            heading->setFont(bold);
        }
}

} // namespace

void TfrmMain::AddModernPresets(QComboBox* combo) {
    // A separator and a heading that cannot be chosen, then the formats of today.
    AddHeading(combo, app::MODERN_FORMATS_HEADING);
    for (const app::TPreset& preset : app::ModernPresets())
        combo->addItem(preset.Text);
}

namespace {

// Items of the format list that are presets of the user's own carry this mark.
constexpr int kUserPresetRole = Qt::UserRole + 1;

} // namespace

std::string TfrmMain::SelectedPresetText() const {
    if (selFormat->currentIndex() <= 0)
        return "";
    if (const app::TUserPreset* own = SelectedUserPreset())
        return own->Format;
    return selFormat->currentText().toStdString();
}

const app::TUserPreset* TfrmMain::SelectedUserPreset() const {
    if (!selFormat->currentData(kUserPresetRole).toBool())
        return nullptr;
    return app::FindUserPreset(UserPresets, selFormat->currentText().toStdString());
}

void TfrmMain::ReloadUserPresets() {
    std::vector<std::string> messages;
    UserPresets = app::LoadUserPresets(app::UserPresetFolder(configPath_.toStdString()), messages);
    for (const std::string& message : messages)
        dialogs_.Information(this, FromStd(message));
    const QString chosen = selFormat->currentText();
    const QSignalBlocker quiet(selFormat);
    // The list ends with the modern presets when there is none of the user's own.
    const int end = selFormat->findText(app::ModernPresets().back().Text) + 1;
    while (selFormat->count() > end)
        selFormat->removeItem(end);
    if (!UserPresets.empty()) {
        AddHeading(selFormat, app::MY_PRESETS_HEADING);
        for (const app::TUserPreset& preset : UserPresets) {
            selFormat->addItem(FromStd(preset.Name));
            selFormat->setItemData(selFormat->count() - 1, true, kUserPresetRole);
        }
    }
    const int again = selFormat->findText(chosen);
    selFormat->setCurrentIndex(again > 0 && !selFormat->itemText(again).isEmpty() ? again : 0);
}

bool TfrmMain::SaveAsPreset(const app::TStoredChoices& choices) {
    const std::string format = SelectedPresetText();
    if (format.empty()) {
        dialogs_.Information(frmOptions, app::MSG_CHOOSE_FORMAT);
        return false;
    }
    const QString name = dialogs_.AskText(
        frmOptions, "Name of the preset (the format " + FromStd(format) + " with these options):");
    if (name.isEmpty())
        return false;
    std::string error;
    if (!app::SaveUserPreset(app::UserPresetFolder(configPath_.toStdString()),
                             {name.toStdString(), format, choices}, error)) {
        dialogs_.Information(frmOptions, FromStd(error));
        return false;
    }
    ReloadUserPresets();
    selFormat->setCurrentIndex(selFormat->findText(name));
    return true;
}

void TfrmMain::ImportPreset() {
    const QStringList files =
        dialogs_.OpenFiles(frmOptions, {"Corvel Mobivert presets (*.preset)", "All files (*)"});
    QString last;
    for (const QString& file : files) {
        app::TUserPreset preset;
        std::string error;
        if (app::ImportUserPreset(app::UserPresetFolder(configPath_.toStdString()),
                                  file.toStdString(), preset, error))
            last = FromStd(preset.Name);
        else
            dialogs_.Information(frmOptions, FromStd(error));
    }
    ReloadUserPresets();
    if (!last.isEmpty()) {
        selFormat->setCurrentIndex(selFormat->findText(last));
        frmOptions->FormShow();
    }
}

void TfrmMain::ExportPreset() {
    const app::TUserPreset* own = SelectedUserPreset();
    if (!own)
        return;
    const QString path = dialogs_.SaveFile(frmOptions, "Corvel Mobivert presets (*.preset)",
                                           FromStd(own->Name) + ".preset");
    std::string error;
    if (!path.isEmpty() && !app::ExportUserPreset(*own, path.toStdString(), error))
        dialogs_.Information(frmOptions, FromStd(error));
}

void TfrmMain::selFormatChange() {
    // A preset of the user's own brings its choices with it when it is chosen (what the
    // dialog changes afterwards stays until another is chosen).
    const app::TUserPreset* own = SelectedUserPreset();
    if (own && own->Name != appliedUserPreset_)
        Choices = own->Choices;
    appliedUserPreset_ = own ? own->Name : std::string();
    // During a batch the button stays disabled with the other controls.
    btnOptions->setEnabled(state_ == TWindowState::Idle &&
                           app::PresetAcceptsOptions(SelectedPresetText()));
    ShowOverrides();
}

QString TfrmMain::OverridesText() const {
    const std::string preset = SelectedPresetText();
    if (preset.empty())
        return QString();
    const bool video = !app::PresetIsAudioOnly(preset);
    const app::TStoredChoices choices = app::ChoicesForPreset(preset, Choices);
    const std::string applied = app::IsModernPreset(preset)
                                    ? app::DescribeModernChoices(choices, video)
                                    : app::DescribeChoices(choices, video);
    return applied.empty() ? QString() : "Options: " + FromStd(applied);
}

void TfrmMain::ShowOverrides() {
    const QString text = OverridesText();
    lblOverrides->setText(text);
    lblOverrides->setVisible(!text.isEmpty());
}

void TfrmMain::btnOptionsClick() {
    // Video choices mean nothing to an audio output.
    const std::string preset = SelectedPresetText();
    frmOptions->SetPreset(app::FindPreset(preset));
    frmOptions->SetExportApplies(SelectedUserPreset() != nullptr);
    frmOptions->SetVideoApplies(!app::PresetIsAudioOnly(preset));
    // Modal, but the caller does not wait in a loop of its own.
    frmOptions->setWindowModality(Qt::ApplicationModal);
    // Over the middle of the window, wherever the window is.
    QRect place(QPoint(), frmOptions->size());
    place.moveCenter(frameGeometry().center());
    // Kept on the screen when the window is near its edge.
    if (const QScreen* screen = this->screen()) {
        const QRect area = screen->availableGeometry();
        place.moveLeft(std::clamp(place.left(), area.left(),
                                  std::max(area.left(), area.right() - place.width() + 1)));
        place.moveTop(std::clamp(place.top(), area.top(),
                                 std::max(area.top(), area.bottom() - place.height() + 1)));
    }
    frmOptions->move(place.topLeft());
    frmOptions->show();
    frmOptions->raise();
    frmOptions->activateWindow();
}

} // namespace mobivert::gui
