#include "app/gui/MainForm.h"

#include "app/gui/Captions.h"
#include "app/gui/FileListView.h"
#include "app/gui/HelpViewer.h"
#include "app/gui/Look.h"
#include "app/gui/OptionsForm.h"
#include "app/shared/ConversionDriver.h"
#include "app/shared/HeapPolicy.h"
#include "app/shared/PlainReasons.h"
#include "app/shared/Presets.h"
#include "app/shared/Settings.h"
#include "app/shared/SourceExtensions.h"
#include "app/shared/UserPresets.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace mobivert::gui {

using app::TFileState;

namespace {

QString FromStd(const std::string& text) {
    return QString::fromStdString(text);
}

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

// "clip.avi: not a video or audio file" and, for the details, the libraries' text.
struct TLeftOut {
    QStringList Reasons;
    QStringList Details;
};

// The message naming the files that were left out of the list.
QString LeftOutMessage(const QStringList& reasons) {
    return (reasons.size() == 1 ? QString("This file was not added to the list:\n\n")
                                : QString("These files were not added to the list:\n\n")) +
           reasons.join('\n');
}

} // namespace

QStringList FilesFromArguments(const QStringList& arguments) {
    QStringList files;
    bool options = true;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (options && argument == "--") {
            options = false;
            continue;
        }
        if (argument.isEmpty() || (options && argument.startsWith('-')))
            continue;
        const QUrl url(argument);
        files << (url.isLocalFile() ? url.toLocalFile() : argument);
    }
    return files;
}

QString BatchSummary(int converted, int failed, int canceled) {
    QString text =
        converted == 1 ? QString("1 file converted") : QString("%1 files converted").arg(converted);
    if (failed > 0)
        text += QString(", %1 failed").arg(failed);
    if (canceled > 0)
        text += QString(", %1 canceled").arg(canceled);
    return text;
}

QStringList OpenDialogFilters() {
    auto patterns = [](const std::vector<std::string>& extensions) {
        QStringList list;
        for (const std::string& extension : extensions)
            list << "*." + FromStd(extension);
        return list.join(' ');
    };
    return {"All Supported Files (" + patterns(app::SourceExtensions()) + ")",
            "Video Files (" + patterns(app::VideoSourceExtensions()) + ")",
            "Audio Files (" + patterns(app::AudioSourceExtensions()) + ")", "All Files (*)"};
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

int TfrmMain::AddTask(const QString& path, QString* reason, app::TSourceWork* work) {
    const std::string file = path.toStdString();
    // The row already names the file: the reason goes without it.
    auto refuse = [reason, &file](const std::string& why) {
        if (reason)
            *reason = FromStd(why.rfind(file + ": ", 0) == 0 ? why.substr(file.size() + 2) : why);
        return -1;
    };
    if (std::string why = app::CheckSourceFile(file); !why.empty())
        return refuse(why);
    converter::TAVProbe& probe = Converter().Probe();
    try {
        if (!probe.Open(file))
            return refuse(probe.LastError());
    } catch (const std::exception& e) {
        return refuse(e.what());
    }
    if (work) {
        // The container's length; none for a stream of unknown length.
        const int64_t duration = probe.Container().DurationUs;
        work->DurationMs = duration > 0 ? duration / 1000 : -1;
        work->Bytes = QFileInfo(path).size();
    }
    converter::TInputOptions input;
    input.FileName = file;
    int task = Converter().AddInputFile(file, &input);
    probe.Close();
    // Adding a file opens it twice, as setting up a batch does (see app/shared/HeapPolicy.h).
    if (task >= 0 && (task + 1) % app::FilesPerReturn == 0)
        app::ReturnFreedMemory();
    return task >= 0 ? task : refuse(Converter().LastError());
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

// ---- The source list ----

void TfrmMain::btnOpenClick() {
    if (state_ != TWindowState::Idle)
        return;
    if (!LoadLibraries())
        return;
    const QStringList files = dialogs_.OpenFiles(this, OpenDialogFilters());
    if (files.isEmpty())
        return;
    AddFiles(files);
}

void TfrmMain::AddFiles(const QStringList& files) {
    if (state_ != TWindowState::Idle || files.isEmpty())
        return;
    if (!LoadLibraries())
        return;
    if (Converter().TaskCount() == 0 || Cancelled) {
        lvFiles->setRowCount(0);
        ClearTasks();
        Cancelled = false;
    }
    int number = 0;
    TLeftOut leftOut;
    for (const QString& file : files) {
        const QString path = QFileInfo(file).absoluteFilePath();
        QString reason;
        app::TSourceWork work;
        int task = AddTask(path, &reason, &work);
        // A file the libraries cannot read gets no row; the user is told why below.
        if (task < 0) {
            const QString name = QFileInfo(path).fileName();
            const std::vector<std::string> paths{path.toStdString()};
            leftOut.Reasons
                << name + ": " +
                       FromStd(app::ReasonFirst(reason.toStdString(), paths)).simplified();
            leftOut.Details
                << name + ": " + FromStd(app::WithoutPaths(reason.toStdString(), paths)).trimmed();
            continue;
        }
        SetTitle(QString(" [Loading File %1...]").arg(++number));
        QFileInfo info(path);
        int row = lvFiles->AddRow(info.fileName(), STATUS_READY, info.absolutePath() + "/");
        lvFiles->SetTask(row, task);
        lvFiles->SetWork(row, work);
    }
    if (lvFiles->rowCount() > 0)
        SetTitle(" [Ready]");
    selFormat->setFocus();
    // One box for the whole addition, after it, so that a long drop is not held up file by
    // file.
    if (!leftOut.Reasons.isEmpty())
        dialogs_.InformationDetails(this, LeftOutMessage(leftOut.Reasons),
                                    leftOut.Details.join('\n'));
}

void TfrmMain::DoLoadFromList() {
    LoadFromList(false);
}

void TfrmMain::LoadFromList(bool rest) {
    if (!LoadLibraries())
        return;
    int number = 0;
    for (int row = 0; row < lvFiles->rowCount(); ++row) {
        lvFiles->SetTask(row, -1);
        // The rest of a stopped batch: converted rows keep what they say and their output.
        if (rest && app::WasConverted(lvFiles->State(row)))
            continue;
        lvFiles->SetOutput(row, QString());
        QString reason;
        app::TSourceWork work;
        int task = AddTask(lvFiles->FullPath(row), &reason, &work);
        // A file that can no longer be read keeps its row, without a task, and says why: an
        // earlier "Done" would claim a conversion that does not happen now.
        if (task < 0) {
            ShowFailed(row, reason);
            continue;
        }
        lvFiles->SetWork(row, work);
        SetTitle(QString(" [Loading File %1...]").arg(++number));
        lvFiles->SetStatus(row, TFileState::Pending, STATUS_READY);
        lvFiles->SetTask(row, task);
    }
}

void TfrmMain::btnRemoveClick() {
    if (state_ != TWindowState::Idle)
        return;
    const QList<int> rows = lvFiles->SelectedRows();
    if (rows.isEmpty()) {
        dialogs_.Information(this, "Please select a file from the list.");
        return;
    }
    if (rows.size() == lvFiles->rowCount()) {
        btnClearClick();
        return;
    }
    // The tasks after the removed ones move down by the number of removed tasks before them.
    std::vector<int> removed;
    for (int row : rows)
        if (int task = lvFiles->Task(row); task >= 0)
            removed.push_back(task);
    std::sort(removed.begin(), removed.end());
    Converter().RemoveTasks(removed);
    lvFiles->RemoveRows(rows);
    for (int row = 0; row < lvFiles->rowCount() && !removed.empty(); ++row) {
        const int task = lvFiles->Task(row);
        if (task < 0)
            continue;
        const auto before =
            std::lower_bound(removed.begin(), removed.end(), task) - removed.begin();
        lvFiles->SetTask(row, task - static_cast<int>(before));
    }
}

void TfrmMain::btnClearClick() {
    if (state_ != TWindowState::Idle)
        return;
    lvFiles->setRowCount(0);
    ClearTasks();
    SetTitle("");
    // The last batch's summary spoke of rows that are gone.
    sbStatus->clearMessage();
}

// ---- Converting ----

void TfrmMain::btnConvertClick() {
    if (btnConvert->text() == CAPTION_STOP) {
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
    if (btnPause->text() == CAPTION_PAUSE) {
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

void TfrmMain::ListMenuRequested(const QPoint& at) {
    const int row = lvFiles->rowAt(at.y());
    if (row >= 0 && !lvFiles->SelectedRows().contains(row))
        lvFiles->selectRow(row);
    const bool written = HasOutput(lvFiles->SelectedRow());
    actOpenOutput->setEnabled(written);
    actOpenFolder->setEnabled(written);
    mnuList->popup(lvFiles->viewport()->mapToGlobal(at));
}

bool TfrmMain::HasOutput(int row) const {
    const QString output = lvFiles->Output(row);
    return app::WasConverted(lvFiles->State(row)) && !output.isEmpty() && QFileInfo::exists(output);
}

void TfrmMain::OpenOutput(int row) {
    const QString output = lvFiles->Output(row);
    if (HasOutput(row) && !dialogs_.Open(output))
        dialogs_.Information(this, "No program on this desktop opens this file:\n" + output);
}

void TfrmMain::OpenOutputFolder(int row) {
    const QString output = lvFiles->Output(row);
    if (HasOutput(row))
        OpenFolder(QFileInfo(output).absolutePath());
}

void TfrmMain::OpenFolder(const QString& folder) {
    if (dialogs_.Open(folder))
        return;
    if (!QFileInfo(folder).isDir())
        dialogs_.Information(this, "The folder does not exist yet; the first conversion into it "
                                   "creates it:\n" +
                                       folder);
    else
        dialogs_.Information(this, "No file manager on this desktop opens this folder:\n" + folder);
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

// ---- Output folder, settings, help ----

void TfrmMain::btnFolderChangeClick() {
    if (!txtOutput->isEnabled())
        return;
    const QString folder = dialogs_.ChooseFolder(this, "Select an Output Folder:");
    if (!folder.isEmpty())
        txtOutput->setText(QDir::toNativeSeparators(folder));
}

void TfrmMain::btnBrowseClick() {
    OpenFolder(txtOutput->text());
}

void TfrmMain::chkSameFolderClick() {
    const bool own = !chkSameFolder->isChecked();
    const bool idle = state_ == TWindowState::Idle;
    txtOutput->setEnabled(own && idle);
    btnFolderChange->setEnabled(txtOutput->isEnabled());
    btnBrowse->setEnabled(own);
}

QString TfrmMain::HelpFile() const {
    const QString beside = AppDir + "help.html";
    const QString installed = QDir::cleanPath(AppDir + "../share/mobivert/help.html");
    if (!QFileInfo::exists(beside) && QFileInfo::exists(installed))
        return installed;
    return beside;
}

void TfrmMain::suiFormMainTitleBarHelpBtnClick() {
    const QString file = HelpFile();
    if (dialogs_.Open(file))
        return;
    // Without a browser on the desktop the page is shown here.
    if (QFileInfo::exists(file))
        frmHelp->ShowPage(file);
    else
        dialogs_.Information(this, "The help page is not installed:\n" + file);
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
