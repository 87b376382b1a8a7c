#include "app/gui/MainForm.h"

#include "app/gui/FileListView.h"
#include "app/gui/OptionsForm.h"
#include "app/gui/StdText.h"
#include "app/shared/PlainReasons.h"
#include "app/shared/Presets.h"
#include "app/shared/Settings.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace mobivert::gui {

using app::TFileState;

namespace {

// A failure's reason, plain words first: "Failed: <reason>" on one line for the row, and for
// its tooltip the same followed by the libraries' own text.
struct TFailure {
    QString Status;
    QString Hint;
    QString Reason; // the plain words alone
};

TFailure FailureOf(const QString& message, const std::vector<std::string>& paths) {
    const std::string text = message.toStdString();
    const QString first = FromStd(app::ReasonFirst(text, paths)).simplified();
    const QString library = FromStd(app::WithoutPaths(text, paths)).trimmed();
    TFailure failure;
    failure.Reason = first;
    failure.Status =
        first.isEmpty() ? QString(STATUS_FAILED) : QString(STATUS_FAILED) + ": " + first;
    failure.Hint = failure.Status;
    if (!library.isEmpty() && library.simplified() != first)
        failure.Hint += "\n\nDetails: " + library;
    return failure;
}

} // namespace

QString BatchSummary(int converted, int failed, int canceled) {
    QString text =
        converted == 1 ? QString("1 file converted") : QString("%1 files converted").arg(converted);
    if (failed > 0)
        text += QString(", %1 failed").arg(failed);
    if (canceled > 0)
        text += QString(", %1 canceled").arg(canceled);
    return text;
}

TfrmMain::TfrmMain(TDialogs& dialogs, const QString& configPath, const QString& libraryFolder,
                   QWidget* parent)
    : QWidget(parent), dialogs_(dialogs), configPath_(configPath), libraryFolder_(libraryFolder),
      runner_(std::make_unique<app::TBatchRunner>(
          static_cast<app::TBatchListener&>(*this),
          [this](std::function<void()> call) {
              QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
          },
          app::TRunnerOptions{.KnownLengthsOnly = true})) {
    // FormCreate.
    AppDir = QDir(QCoreApplication::applicationDirPath()).absolutePath() + "/";
    BuildControls();
    selFormat->setCurrentIndex(0);
    setWindowTitle(WindowTitle);

    // The folder, the last preset and the options dialog's choices as they were left.
    app::TMainSettings settings = app::LoadMainSettings(configPath_.toStdString());
    Choices = settings.Choices;
    txtOutput->setText(FromStd(settings.OutputFolder));
    chkSameFolder->setChecked(settings.SameFolder);
    chkSameFolderClick();
    ReloadUserPresets();
    // Only a preset's text or a preset of the user's own: the separator's empty text is none.
    if (int preset = selFormat->findText(FromStd(settings.Preset));
        preset > 0 &&
        (app::FindPreset(settings.Preset) || app::FindUserPreset(UserPresets, settings.Preset)))
        selFormat->setCurrentIndex(preset);
    spnConversions->setValue(std::min(settings.ConversionsAtOnce, spnConversions->maximum()));
    selFormatChange();

    Converter().SetLogLevel(converter::llQuiet);
    Converter().SetProgressInterval(100);
    ConnectSettings();
}

TfrmMain::~TfrmMain() {
    // From here on no event is handed over; the component stops and waits for its tasks.
    runner_.reset();
}

bool TfrmMain::LoadLibraries() {
    if (Converter().LoadAVLib(libraryFolder_.toStdString(), true))
        return true;
    std::fprintf(stderr, "mobivert: %s\n", Converter().LastError().c_str());
    dialogs_.Plain(this, app::MSG_LIB_NOT_LOADED);
    return false;
}

void TfrmMain::ClearTasks() {
    runner_->ClearTasks();
    for (int row = 0; row < lvFiles->rowCount(); ++row)
        lvFiles->SetTask(row, -1);
}

void TfrmMain::SetTitle(const QString& suffix) {
    setWindowTitle(WindowTitle + suffix);
}

void TfrmMain::SetBusyControls(bool busy) {
    for (QWidget* w :
         std::initializer_list<QWidget*>{btnOpen, btnClear, btnRemove, btnFolderChange, btnOptions,
                                         selFormat, txtOutput, chkSameFolder, spnConversions})
        w->setEnabled(!busy);
    // The list's own ways of adding and removing files follow the buttons.
    actAdd->setEnabled(!busy);
    actRemove->setEnabled(!busy);
    actClear->setEnabled(!busy);
    lvFiles->SetAcceptFiles(!busy);
}

void TfrmMain::SetIdle() {
    state_ = TWindowState::Idle;
    statusTimer_->stop();
    btnConvert->setText(CAPTION_CONVERT);
    btnConvert->setEnabled(true);
    btnPause->setText(CAPTION_PAUSE);
    btnPause->setEnabled(true);
    btnPause->setVisible(false);
    SetBusyControls(false);
    // The same-folder choice decides again over the folder controls it governs.
    chkSameFolderClick();
}

// ---- Converting ----

void TfrmMain::btnConvertClick() {
    // While a batch runs the button is Stop.
    if (state_ != TWindowState::Idle) {
        if (state_ == TWindowState::Stopping)
            return;
        Cancelled = true;
        state_ = TWindowState::Stopping;
        // A second stop would report the waiting tasks as ended twice. Everything else stays
        // disabled until the batch's end report: until then a worker may still be writing its
        // trailer, and clearing, removing or converting would wait for it here.
        btnConvert->setEnabled(false);
        btnPause->setEnabled(false);
        SetTitle(" [Stopping...]");
        sbStatus->showMessage("Stopping...");
        runner_->Stop();
        return;
    }

    if (!LoadLibraries())
        return;
    if (lvFiles->rowCount() == 0) {
        dialogs_.Information(this, app::MSG_CHOOSE_FILE);
        ClearTasks();
        Cancelled = false;
        btnOpen->setFocus();
        return;
    }
    const QString preset = selFormat->currentText();
    if (Converter().TaskCount() == 0 || Cancelled) {
        bool rest = false;
        if (const int remaining = RemainingAfterStop(); remaining >= 0) {
            // After a Stop: the files not converted yet, unless the user wants all again.
            const int choice =
                dialogs_.Choose(this, QString("Convert the %1 remaining files?").arg(remaining),
                                {"Yes", "All again", "Cancel"});
            if (choice != 0 && choice != 1)
                return;
            rest = choice == 0;
        } else if (preset == LastPreset &&
                   !dialogs_.Question(this, "File(s) from the list was already converted to this "
                                            "format\n" +
                                                preset + "\nDo you wish to convert agin?")) {
            return;
        }
        ClearTasks();
        Cancelled = false;
        LoadFromList(rest);
    }
    if (selFormat->currentIndex() == 0) {
        dialogs_.Information(this, app::MSG_CHOOSE_FORMAT);
        selFormat->setFocus();
        return;
    }

    std::vector<app::TBatchSource> sources;
    std::vector<int> rowOfSource;
    for (int row = 0; row < lvFiles->rowCount(); ++row) {
        if (lvFiles->Task(row) < 0)
            continue;
        app::TBatchSource source;
        source.Path = lvFiles->FullPath(row).toStdString();
        source.Task = lvFiles->Task(row);
        sources.push_back(source);
        rowOfSource.push_back(row);
    }
    app::TBatchSettings settings;
    settings.PresetText = SelectedPresetText();
    settings.SameFolder = chkSameFolder->isChecked();
    settings.OutputFolder = txtOutput->text().toStdString();
    settings.Choices = app::ChoicesForPreset(settings.PresetText, Choices);
    runner_->ConfigureOutputs(sources, settings);
    QStringList refused;
    for (size_t i = 0; i < sources.size(); ++i) {
        const int row = rowOfSource[i];
        lvFiles->SetTask(row, sources[i].Task);
        lvFiles->SetOutput(row, FromStd(sources[i].OutputPath));
        if (sources[i].Task >= 0) {
            btnConvert->setFocus();
            continue;
        }
        ShowFailed(row, FromStd(sources[i].Error));
    }
    // Rows refused now or when the tasks were rebuilt, in one box for the whole press, each
    // with its reason in plain words.
    for (int row = 0; row < lvFiles->rowCount(); ++row)
        if (lvFiles->Task(row) < 0 && lvFiles->State(row) == TFileState::Failed)
            refused << lvFiles->item(row, fcSource)->text() + ": " + lvFiles->Reason(row);
    if (!refused.isEmpty())
        dialogs_.Plain(this, QString(app::MSG_ERROR_FOUND) + "\n\n" + refused.join('\n'));
    // Nothing left to run: no end report would come, so the window stays idle.
    if (Converter().TaskCount() == 0) {
        if (lvFiles->rowCount() > 0)
            SetTitle(" [Ready]");
        return;
    }

    // Each file counts for the work it holds.
    std::vector<app::TSourceWork> works;
    for (int row : rowOfSource)
        works.push_back(lvFiles->Work(row));
    std::string journalError;
    if (!runner_->Begin("mobivert", settings, spnConversions->value(), sources, journalError,
                        works))
        std::fprintf(stderr, "mobivert: %s\n", journalError.c_str());

    followedRow_ = -1;
    following_ = true;
    refused_ = refused.size();
    closeWhenStopped_ = false;
    runner_->Start(spnConversions->value());
    Cancelled = false;
    state_ = TWindowState::Converting;
    SetTitle(" [Converting...]");
    btnPause->setText(CAPTION_PAUSE);
    btnPause->setEnabled(true);
    btnPause->setVisible(true);
    SetBusyControls(true);
    btnConvert->setText(CAPTION_STOP);
    statusTimer_->start();
    UpdateStatusBar();
}

void TfrmMain::btnPauseClick() {
    if (state_ != TWindowState::Converting && state_ != TWindowState::Paused)
        return;
    if (state_ == TWindowState::Converting) {
        runner_->Pause();
        btnPause->setText(CAPTION_RESUME);
        SetTitle(" [Paused]");
        state_ = TWindowState::Paused;
        ShowPausedRows(true);
    } else {
        runner_->Resume();
        btnPause->setText(CAPTION_PAUSE);
        SetTitle(" [Converting...]");
        state_ = TWindowState::Converting;
        ShowPausedRows(false);
    }
    UpdateStatusBar();
}

void TfrmMain::ShowPausedRows(bool paused) {
    for (int row = 0; row < lvFiles->rowCount(); ++row)
        if (lvFiles->State(row) == TFileState::Running)
            lvFiles->SetProgress(row, lvFiles->Percent(row),
                                 paused ? QString(DETAIL_PAUSED) : QString());
}

void TfrmMain::ConverterProgress(int index, int currentDuration, int totalOutputDuration) {
    runner_->TaskProgress(index, currentDuration, totalOutputDuration);
}

void TfrmMain::TaskProgress(int task, int, const app::TFileFigures& figures) {
    const int row = lvFiles->RowOfTask(task);
    if (row < 0)
        return;
    const QString detail = state_ == TWindowState::Paused
                               ? QString(DETAIL_PAUSED)
                               : FromStd(app::FormatFileFigures(figures));
    lvFiles->SetProgress(row, figures.Percent, detail);
    FollowRow(row);
    UpdateStatusBar();
}

void TfrmMain::FollowRow(int row) {
    // Several rows run at once: the list stays with the first of them.
    if (followedRow_ >= 0 && followedRow_ < row &&
        lvFiles->State(followedRow_) == TFileState::Running)
        return;
    followedRow_ = row;
    QTableWidgetItem* cell = lvFiles->item(row, fcSource);
    if (!following_ || !cell)
        return;
    scrollingToRow_ = true;
    lvFiles->scrollToItem(cell, QAbstractItemView::EnsureVisible);
    scrollingToRow_ = false;
}

void TfrmMain::ListScrolled() {
    if (scrollingToRow_ || followedRow_ < 0)
        return;
    // The user scrolled: the list follows again once the running row is back in sight.
    const QRect visible = lvFiles->viewport()->rect();
    const QTableWidgetItem* cell = lvFiles->item(followedRow_, fcSource);
    following_ = cell && visible.contains(lvFiles->visualItemRect(cell));
}

int TfrmMain::RemainingAfterStop() const {
    if (!Cancelled)
        return -1;
    int done = 0;
    for (int row = 0; row < lvFiles->rowCount(); ++row)
        done += app::WasConverted(lvFiles->State(row));
    if (done == 0 || done == lvFiles->rowCount())
        return -1;
    return lvFiles->rowCount() - done;
}

void TfrmMain::ShowFailed(int row, const QString& message) {
    const std::vector<std::string> paths{lvFiles->FullPath(row).toStdString(),
                                         lvFiles->Output(row).toStdString()};
    const TFailure failure = FailureOf(message, paths);
    lvFiles->SetStatus(row, TFileState::Failed, failure.Status, failure.Hint);
    lvFiles->SetReason(row, failure.Reason);
}

void TfrmMain::ShowEnd(int row, const app::TBatchFile& file) {
    const QString message = FromStd(file.Message);
    switch (file.State) {
    case TFileState::Failed:
        ShowFailed(row, message);
        break;
    case TFileState::Done:
        lvFiles->SetStatus(row, TFileState::Done, STATUS_DONE);
        break;
    case TFileState::Warnings:
        lvFiles->SetStatus(row, TFileState::Warnings,
                           QString(STATUS_DONE_WARNINGS) + ": " + message, message);
        break;
    default:
        // The pointer names a partial output that was kept.
        if (file.PartialOutput)
            lvFiles->SetStatus(row, TFileState::Canceled, STATUS_CANCELED,
                               "Partial output kept as " + FromStd(file.Published));
        else
            lvFiles->SetStatus(row, TFileState::Canceled, STATUS_CANCELED);
        break;
    }
}

void TfrmMain::ConverterTerminate(int index, bool finished, bool failed, const QString& message) {
    if (index == -1)
        runner_->BatchEnd();
    else
        runner_->TaskEnded(index, finished, failed, message.toStdString());
}

void TfrmMain::FileEnded(const app::TBatchFile& file) {
    const int row = lvFiles->RowOfTask(file.Task);
    if (row < 0)
        return;
    // The name the output was published under, for opening it.
    if (!file.Published.empty())
        lvFiles->SetOutput(row, FromStd(file.Published));
    ShowEnd(row, file);
    if (state_ != TWindowState::Stopping)
        UpdateStatusBar();
    selFormatChange();
}

void TfrmMain::BatchEnded(const app::TBatchCounts& counts) {
    const QString summary =
        BatchSummary(counts.Converted, counts.Failed + refused_, counts.Canceled);
    SetIdle();
    if (Cancelled) {
        SetTitle(" [Job Canceled]");
        // Stopped when every file was already converted: converting again asks as after a
        // finished batch.
        if (RemainingAfterStop() < 0 && lvFiles->rowCount() > 0 &&
            app::WasConverted(lvFiles->State(0)))
            LastPreset = selFormat->currentText();
    } else {
        SetTitle(" [Done]");
        ClearTasks();
        LastPreset = selFormat->currentText();
    }
    sbStatus->showMessage(summary + " in " + FromStd(app::FormatClock(counts.ElapsedMs)));
    if (closeWhenStopped_) {
        // After this handler has returned.
        QTimer::singleShot(0, this, &QWidget::close);
    } else if (!isActiveWindow()) {
        dialogs_.Notify(this, Cancelled ? "Conversion stopped" : "Conversion finished", summary);
    }
    selFormatChange();
}

void TfrmMain::UpdateStatusBar() {
    if (state_ == TWindowState::Idle || state_ == TWindowState::Stopping)
        return;
    const app::TBatchFigures f = runner_->Figures();
    QString text = QString("%1: %2 of %3 files done, %4%, %5 elapsed")
                       .arg(state_ == TWindowState::Paused ? "Paused" : "Converting")
                       .arg(f.Done)
                       .arg(f.Total)
                       .arg(f.Percent)
                       .arg(FromStd(app::FormatClock(f.ElapsedMs)));
    if (f.LeftMs >= 0 && state_ != TWindowState::Paused)
        text += ", about " + FromStd(app::FormatClock(f.LeftMs)) + " left";
    sbStatus->showMessage(text);
}

void TfrmMain::ConnectSettings() {
    // Every change is written at once, so that a window that is killed loses none of them.
    connect(selFormat, &QComboBox::currentIndexChanged, this, &TfrmMain::SaveSettings);
    connect(txtOutput, &QLineEdit::textChanged, this, &TfrmMain::SaveSettings);
    connect(chkSameFolder, &QCheckBox::toggled, this, &TfrmMain::SaveSettings);
    connect(spnConversions, &QSpinBox::valueChanged, this, &TfrmMain::SaveSettings);
    connect(frmOptions, &QDialog::accepted, this, &TfrmMain::SaveSettings);
}

void TfrmMain::FormClose() {
    SaveSettings();
}

void TfrmMain::SaveSettings() {
    app::TMainSettings settings;
    settings.OutputFolder = txtOutput->text().toStdString();
    settings.SameFolder = chkSameFolder->isChecked();
    settings.Preset = selFormat->currentIndex() > 0 ? selFormat->currentText().toStdString() : "";
    settings.ConversionsAtOnce = spnConversions->value();
    settings.Choices = Choices;
    std::string error;
    if (!app::SaveMainSettings(configPath_.toStdString(), settings, error))
        std::fprintf(stderr, "mobivert: the settings were not saved: %s\n", error.c_str());
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    if (state_ != TWindowState::Idle) {
        // The running outputs are completed first, so that they stay playable.
        event->ignore();
        if (state_ == TWindowState::Stopping) {
            closeWhenStopped_ = true;
            return;
        }
        if (!dialogs_.Question(this, "A conversion is running.\nStop it and close the window?"))
            return;
        btnConvertClick();
        closeWhenStopped_ = true;
        return;
    }
    FormClose();
    frmOptions->close();
    event->accept();
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == txtOutput && event->type() == QEvent::MouseButtonDblClick) {
        btnFolderChangeClick();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace mobivert::gui
