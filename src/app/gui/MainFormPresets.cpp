// The format combo's presets beyond the 21: the modern ones under their heading and the user's
// own under "My presets", with saving, importing and exporting a preset of the user's own.

#include "app/gui/MainForm.h"
#include "app/gui/OptionsForm.h"
#include "app/shared/ConversionDriver.h"
#include "app/shared/Presets.h"
#include "app/shared/UserPresets.h"

#include <QComboBox>
#include <QSignalBlocker>
#include <QStandardItemModel>

namespace mobivert::gui {

namespace {

QString FromStd(const std::string& text) {
    return QString::fromStdString(text);
}

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

} // namespace mobivert::gui
