#include "app/gui/ResumeOffer.h"

#include "app/gui/Dialogs.h"
#include "app/gui/MainForm.h"
#include "app/shared/BatchJournal.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

namespace mobivert::gui {

void OfferToResume(TfrmMain& window, TDialogs& dialogs) {
    std::vector<std::string> messages;
    std::vector<app::TUnfinishedBatch> batches = app::FindUnfinishedBatches(messages);
    for (const std::string& message : messages)
        dialogs.Information(&window, QString::fromStdString(message));
    for (app::TUnfinishedBatch& batch : batches) {
        const std::vector<std::string> files = batch.PendingSources();
        const app::TBatchSettings& settings = batch.Batch.Settings;
        const QString preset = QString::fromStdString(settings.PresetText);
        if (files.empty() || window.State() != TWindowState::Idle ||
            !dialogs.Question(&window,
                              QString("The last conversion did not finish: %1 file(s) to\n%2\n"
                                      "were not converted. Do you wish to convert them now?")
                                  .arg(files.size())
                                  .arg(preset))) {
            if (window.State() == TWindowState::Idle)
                app::DiscardUnfinishedBatch(batch);
            continue;
        }
        QStringList paths;
        for (const std::string& file : files)
            paths << QString::fromStdString(file);
        window.btnClearClick();
        window.AddFiles(paths);
        window.selFormat->setCurrentText(preset);
        window.chkSameFolder->setChecked(settings.SameFolder);
        if (!settings.SameFolder)
            window.txtOutput->setText(QString::fromStdString(settings.OutputFolder));
        window.Choices = settings.Choices;
        // The killed run's work files go before the new run names its own.
        app::RemoveLeftoverWorkFiles(batch);
        window.btnConvertClick();
        app::DiscardUnfinishedBatch(batch);
    }
}

} // namespace mobivert::gui
