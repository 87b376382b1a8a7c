#include "app/gui/MainForm.h"

#include "app/gui/FileListView.h"
#include "app/gui/Look.h"
#include "app/gui/OptionsForm.h"
#include "app/shared/ConversionDriver.h"
#include "app/shared/Presets.h"
#include "app/shared/Settings.h"

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
#include <QShortcut>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

namespace mobivert::gui {

namespace {

constexpr const char* CAPTION_CONVERT = "Convert!";
constexpr const char* CAPTION_STOP = "Stop";
constexpr const char* CAPTION_PAUSE = "Pause";
constexpr const char* CAPTION_RESUME = "Resume";

constexpr const char* STATUS_READY = "Ready";
constexpr const char* STATUS_DONE = "Done";
constexpr const char* STATUS_DONE_WARNINGS = "Done (warnings)";
constexpr const char* STATUS_FAILED = "Failed";
constexpr const char* STATUS_CANCELED = "Canceled";

QString FromStd(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

QStringList OpenDialogFilters() {
    QStringList filters;
    const QStringList parts = QString(OPEN_DIALOG_FILTER).split('|');
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts[i + 1].split(';', Qt::SkipEmptyParts);
        for (QString& pattern : patterns)
            if (pattern == "*.*")
                pattern = "*";
        filters << parts[i] + " (" + patterns.join(' ') + ")";
    }
    return filters;
}

TfrmMain::TfrmMain(TDialogs& dialogs, const QString& configPath, const QString& libraryFolder,
                   QWidget* parent)
    : QWidget(parent), dialogs_(dialogs), configPath_(configPath), libraryFolder_(libraryFolder),
      converter_(std::make_unique<converter::TAVConverter>()) {
    // FormCreate.
    AppDir = QDir(QCoreApplication::applicationDirPath()).absolutePath() + "/";
    BuildControls();
    selFormat->setCurrentIndex(0);
    Choices = app::TStoredChoices{};
    setWindowTitle(WindowTitle);

    app::TMainSettings settings = app::LoadMainSettings(configPath_.toStdString());
    txtOutput->setText(FromStd(settings.OutputFolder));
    chkSameFolder->setChecked(settings.SameFolder);
    chkSameFolderClick();
    selFormatChange();

    converter_->SetLogLevel(converter::llQuiet);
    converter_->SetProgressInterval(100);
    ConnectConverter();
}

TfrmMain::~TfrmMain() {
    // From here on no event is handed over; the component stops and waits for its tasks.
    closing_ = true;
    converter_.reset();
}

void TfrmMain::BuildControls() {
    setObjectName("frmMain");
    setWindowIcon(ProgramIcon());

    auto* banner = new TBanner(this);
    btnHelp = new QToolButton(banner);
    btnHelp->setObjectName("btnHelp");
    btnHelp->setText("?");
    btnHelp->setToolTip("Help (F1)");
    btnHelp->setFixedSize(22, 22);
    auto* bannerRow = new QHBoxLayout(banner);
    bannerRow->setContentsMargins(0, 6, 10, 0);
    bannerRow->addStretch(1);
    bannerRow->addWidget(btnHelp, 0, Qt::AlignTop);

    lvFiles = new TFileListView(this);
    lvFiles->setObjectName("lvFiles");

    auto button = [this](const char* name, const QString& caption, const QString& hint) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(name);
        b->setToolTip(hint);
        b->setStatusTip(hint);
        b->setMinimumWidth(104);
        return b;
    };
    btnOpen = button("btnOpen", "Add...", "Open one or more videos to the list");
    btnRemove = button("btnRemove", "Remove", "Remove selected video from the list");
    btnClear = button("btnClear", "Clear", "Remove selected video from the list");
    btnPause = button("btnPause", CAPTION_PAUSE, "Suspend the conversion job temporarily");
    btnConvert = button("btnConvert", CAPTION_CONVERT, "Convert all the videos from the list");
    btnConvert->setMinimumHeight(40);
    btnPause->setVisible(false);

    selFormat = new QComboBox(this);
    selFormat->setObjectName("selFormat");
    for (const std::string& text : app::PresetListTexts())
        selFormat->addItem(FromStd(text));
    selFormat->setMaxVisibleItems(22);
    btnOptions = button("btnOptions", "Options", "Change the output options of the format");

    txtOutput = new QLineEdit(this);
    txtOutput->setObjectName("txtOutput");
    txtOutput->setReadOnly(true);
    txtOutput->installEventFilter(this);
    btnFolderChange = button("btnFolderChange", "Change", "Choose the output folder");
    btnBrowse = button("btnBrowse", "Browse", "Show the output folder");
    btnFolderChange->setMinimumWidth(80);
    btnBrowse->setMinimumWidth(80);
    chkSameFolder = new QCheckBox("Use the same directory to the source file", this);
    chkSameFolder->setObjectName("chkSameFolder");

    auto* side = new QVBoxLayout();
    side->setSpacing(6);
    side->addWidget(btnOpen);
    side->addWidget(btnRemove);
    side->addWidget(btnClear);
    side->addStretch(1);
    side->addWidget(btnPause);
    side->addWidget(btnConvert);

    auto* grid = new QGridLayout();
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(8);
    grid->addWidget(lvFiles, 0, 0, 1, 3);
    grid->addLayout(side, 0, 3);
    grid->addWidget(new QLabel("Output Format:", this), 1, 0);
    grid->addWidget(selFormat, 1, 1);
    grid->addWidget(btnOptions, 1, 2, 1, 2, Qt::AlignLeft);
    grid->addWidget(new QLabel("Output Folder:", this), 2, 0);
    grid->addWidget(txtOutput, 2, 1);
    auto* folderButtons = new QHBoxLayout();
    folderButtons->setSpacing(6);
    folderButtons->addWidget(btnFolderChange);
    folderButtons->addWidget(btnBrowse);
    folderButtons->addStretch(1);
    grid->addLayout(folderButtons, 2, 2, 1, 2);
    grid->addWidget(chkSameFolder, 3, 1, 1, 3);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(0, 1);

    auto* content = new QWidget(this);
    content->setLayout(grid);
    grid->setContentsMargins(12, 10, 12, 12);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(banner);
    outer->addWidget(content, 1);

    mnuList = new QMenu(this);
    actAdd = mnuList->addAction("Add File(s)", this, &TfrmMain::btnOpenClick);
    mnuList->addSeparator();
    actRemove = mnuList->addAction("Remove", this, &TfrmMain::btnRemoveClick);
    actClear = mnuList->addAction("Clear All", this, &TfrmMain::btnClearClick);
    connect(lvFiles, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { mnuList->popup(lvFiles->viewport()->mapToGlobal(at)); });
    connect(lvFiles, &TFileListView::FilesDropped, this, &TfrmMain::AddFiles);

    connect(btnOpen, &QPushButton::clicked, this, &TfrmMain::btnOpenClick);
    connect(btnRemove, &QPushButton::clicked, this, &TfrmMain::btnRemoveClick);
    connect(btnClear, &QPushButton::clicked, this, &TfrmMain::btnClearClick);
    connect(btnConvert, &QPushButton::clicked, this, &TfrmMain::btnConvertClick);
    connect(btnPause, &QPushButton::clicked, this, &TfrmMain::btnPauseClick);
    connect(btnOptions, &QPushButton::clicked, this, &TfrmMain::btnOptionsClick);
    connect(btnFolderChange, &QPushButton::clicked, this, &TfrmMain::btnFolderChangeClick);
    connect(btnBrowse, &QPushButton::clicked, this, &TfrmMain::btnBrowseClick);
    connect(chkSameFolder, &QCheckBox::toggled, this, &TfrmMain::chkSameFolderClick);
    connect(selFormat, &QComboBox::currentIndexChanged, this, &TfrmMain::selFormatChange);
    connect(btnHelp, &QToolButton::clicked, this, &TfrmMain::suiFormMainTitleBarHelpBtnClick);
    auto* help = new QShortcut(QKeySequence::HelpContents, this);
    connect(help, &QShortcut::activated, this, &TfrmMain::suiFormMainTitleBarHelpBtnClick);

    frmOptions = new TfrmOptions(Choices, dialogs_, this);

    setMinimumSize(631, 433);
    resize(732, 556);
}

void TfrmMain::ConnectConverter() {
    // The component raises its events on worker threads while holding its lock, and the window's
    // thread takes that lock for Stop and Pause: each event is only queued here, in the order it
    // was raised, and never waits for the window.
    converter_->OnProgress = [this](int index, int, int, int current, float, float, int64_t,
                                    int total) {
        if (closing_)
            return;
        int generation = generation_;
        QMetaObject::invokeMethod(
            this,
            [this, generation, index, current, total] {
                if (generation == generation_)
                    ConverterProgress(index, current, total);
            },
            Qt::QueuedConnection);
    };
    converter_->PublishOutputs = true;
    converter_->OnTerminate = [this](int index, bool finished, bool failed,
                                     const std::string& message) {
        // Recorded before anything else, on the thread that ends the task.
        QString partial;
        if (const converter::TFFmpeg* task = converter_->Tasks(index)) {
            journal_->TaskEnded(index, *task);
            if (task->PartialOutput)
                partial = FromStd(task->PublishedName);
        }
        if (closing_)
            return;
        int generation = generation_;
        QString text = FromStd(message);
        QMetaObject::invokeMethod(
            this,
            [this, generation, index, finished, failed, text, partial] {
                if (generation != generation_)
                    return;
                ConverterTerminate(index, finished, failed, text);
                if (int row = lvFiles->RowOfTask(index); row >= 0 && !partial.isEmpty())
                    lvFiles->SetStatus(row, STATUS_CANCELED, "Partial output kept as " + partial);
            },
            Qt::QueuedConnection);
    };
}

bool TfrmMain::LoadLibraries() {
    if (converter_->LoadAVLib(libraryFolder_.toStdString(), true))
        return true;
    std::fprintf(stderr, "mobivert: %s\n", converter_->LastError().c_str());
    dialogs_.Plain(this, app::MSG_LIB_NOT_LOADED);
    return false;
}

int TfrmMain::AddTask(const QString& path) {
    const std::string file = path.toStdString();
    if (!app::CheckSourceFile(file).empty())
        return -1;
    converter::TAVProbe& probe = converter_->Probe();
    try {
        if (!probe.Open(file))
            return -1;
    } catch (const std::exception&) {
        return -1;
    }
    converter::TInputOptions input;
    input.FileName = file;
    int task = converter_->AddInputFile(file, &input);
    probe.Close();
    return task;
}

void TfrmMain::ClearTasks() {
    converter_->ClearTasks();
    ++generation_;
    for (int row = 0; row < lvFiles->rowCount(); ++row)
        lvFiles->SetTask(row, -1);
}

void TfrmMain::SetTitle(const QString& suffix) {
    setWindowTitle(WindowTitle + suffix);
}

void TfrmMain::SetBusyControls(bool busy) {
    for (QWidget* w :
         std::initializer_list<QWidget*>{btnOpen, btnClear, btnRemove, btnFolderChange, btnOptions,
                                         selFormat, txtOutput, chkSameFolder})
        w->setEnabled(!busy);
    // The list's own ways of adding and removing files follow the buttons.
    actAdd->setEnabled(!busy);
    actRemove->setEnabled(!busy);
    actClear->setEnabled(!busy);
    lvFiles->SetAcceptFiles(!busy);
}

void TfrmMain::SetIdle() {
    state_ = TWindowState::Idle;
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
    if (converter_->TaskCount() == 0 || Cancelled) {
        lvFiles->setRowCount(0);
        ClearTasks();
        Cancelled = false;
    }
    int number = 0;
    for (const QString& file : files) {
        const QString path = QFileInfo(file).absoluteFilePath();
        int task = AddTask(path);
        // A file the libraries cannot read gets no row.
        if (task < 0)
            continue;
        SetTitle(QString(" [Loading File %1...]").arg(++number));
        QFileInfo info(path);
        int row = lvFiles->AddRow(info.fileName(), STATUS_READY, info.absolutePath() + "/");
        lvFiles->SetTask(row, task);
    }
    if (lvFiles->rowCount() > 0)
        SetTitle(" [Ready]");
    selFormat->setFocus();
}

void TfrmMain::DoLoadFromList() {
    if (!LoadLibraries())
        return;
    int number = 0;
    for (int row = 0; row < lvFiles->rowCount(); ++row) {
        lvFiles->SetTask(row, -1);
        int task = AddTask(lvFiles->FullPath(row));
        // A file that can no longer be read keeps its row, without a task.
        if (task < 0)
            continue;
        SetTitle(QString(" [Loading File %1...]").arg(++number));
        lvFiles->SetStatus(row, STATUS_READY);
        lvFiles->SetTask(row, task);
    }
}

void TfrmMain::btnRemoveClick() {
    if (state_ != TWindowState::Idle)
        return;
    int row = lvFiles->SelectedRow();
    if (row < 0) {
        dialogs_.Information(this, "Please select a file from the list.");
        return;
    }
    int task = lvFiles->Task(row);
    if (task >= 0) {
        converter_->RemoveTask(task);
        for (int other = 0; other < lvFiles->rowCount(); ++other)
            if (lvFiles->Task(other) > task)
                lvFiles->SetTask(other, lvFiles->Task(other) - 1);
    }
    lvFiles->removeRow(row);
    if (lvFiles->rowCount() == 0)
        SetTitle("");
}

void TfrmMain::btnClearClick() {
    if (state_ != TWindowState::Idle)
        return;
    lvFiles->setRowCount(0);
    ClearTasks();
    SetTitle("");
}

// ---- Converting ----

void TfrmMain::btnConvertClick() {
    if (btnConvert->text() == CAPTION_STOP) {
        if (state_ == TWindowState::Stopping)
            return;
        Cancelled = true;
        state_ = TWindowState::Stopping;
        // A second stop would report the waiting tasks as ended twice.
        btnConvert->setEnabled(false);
        btnPause->setEnabled(false);
        converter_->StopConvert();
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
    if (converter_->TaskCount() == 0 || Cancelled) {
        if (preset == LastPreset &&
            !dialogs_.Question(this, "File(s) from the list was already converted to this "
                                     "format\n" +
                                         preset + "\nDo you wish to convert agin?"))
            return;
        ClearTasks();
        Cancelled = false;
        DoLoadFromList();
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
    settings.PresetText = preset.toStdString();
    settings.SameFolder = chkSameFolder->isChecked();
    settings.OutputFolder = txtOutput->text().toStdString();
    settings.Choices = Choices;
    app::TConversionDriver driver(*converter_);
    driver.ConfigureOutputs(sources, settings);
    for (size_t i = 0; i < sources.size(); ++i) {
        const int row = rowOfSource[i];
        lvFiles->SetTask(row, sources[i].Task);
        if (sources[i].Task >= 0) {
            btnConvert->setFocus();
            continue;
        }
        // The row keeps its status; why it was left out shows when the pointer rests on it.
        lvFiles->SetStatus(row, lvFiles->Status(row), FromStd(sources[i].Error));
        dialogs_.Plain(this, app::MSG_ERROR_FOUND);
    }
    // Nothing left to run: no end report would come, so the window stays as it is.
    if (converter_->TaskCount() == 0)
        return;

    std::string journalError;
    journal_->End();
    if (!journal_->Begin(app::JournalOf("mobivert", settings, 1, sources, *converter_),
                         journalError))
        std::fprintf(stderr, "mobivert: %s\n", journalError.c_str());

    ++generation_;
    converter_->StartConvert(1);
    Cancelled = false;
    state_ = TWindowState::Converting;
    SetTitle(" [Converting...]");
    btnPause->setText(CAPTION_PAUSE);
    btnPause->setEnabled(true);
    btnPause->setVisible(true);
    SetBusyControls(true);
    btnConvert->setText(CAPTION_STOP);
}

void TfrmMain::btnPauseClick() {
    if (state_ != TWindowState::Converting && state_ != TWindowState::Paused)
        return;
    if (btnPause->text() == CAPTION_PAUSE) {
        converter_->PauseConvert();
        btnPause->setText(CAPTION_RESUME);
        SetTitle(" [Paused]");
        state_ = TWindowState::Paused;
    } else {
        converter_->ResumeConvert();
        btnPause->setText(CAPTION_PAUSE);
        SetTitle(" [Converting...]");
        state_ = TWindowState::Converting;
    }
}

void TfrmMain::ConverterProgress(int index, int currentDuration, int totalOutputDuration) {
    // Without a known length there is no percentage to show.
    if (totalOutputDuration <= 0)
        return;
    int row = lvFiles->RowOfTask(index);
    if (row < 0)
        return;
    const int64_t percent = static_cast<int64_t>(currentDuration) * 100 / totalOutputDuration;
    lvFiles->SetStatus(row, PROGRESS_MARK + QString::number(std::clamp<int64_t>(percent, 0, 100)));
}

void TfrmMain::ConverterTerminate(int index, bool, bool failed, const QString& message) {
    if (index == -1)
        journal_->End();
    const int row = lvFiles->RowOfTask(index);
    if (row >= 0 && failed)
        lvFiles->SetStatus(row, STATUS_FAILED, message);

    if (Cancelled) {
        SetTitle(" [Job Canceled]");
        SetIdle();
        for (int r = 0; r < lvFiles->rowCount(); ++r) {
            const QString status = lvFiles->Status(r);
            if (!status.startsWith(STATUS_DONE) && status != STATUS_FAILED &&
                status != STATUS_CANCELED)
                lvFiles->SetStatus(r, STATUS_CANCELED);
        }
    } else if (index == -1) {
        SetTitle(" [Done]");
        SetIdle();
        ClearTasks();
        LastPreset = selFormat->currentText();
    } else {
        // A finished task's message tells what its output lacks.
        if (row >= 0 && !failed && message.isEmpty())
            lvFiles->SetStatus(row, STATUS_DONE);
        else if (row >= 0 && !failed)
            lvFiles->SetStatus(row, QString(STATUS_DONE_WARNINGS) + ": " + message, message);
        // The component starts the next task from this task's end; a paused batch holds it too.
        if (state_ == TWindowState::Paused)
            converter_->PauseConvert();
    }
    selFormatChange();
}

void TfrmMain::selFormatChange() {
    // During a batch the button stays disabled with the other controls.
    btnOptions->setEnabled(state_ == TWindowState::Idle &&
                           app::PresetAcceptsOptions(selFormat->currentText().toStdString()));
}

void TfrmMain::btnOptionsClick() {
    // Modal, but the caller does not wait in a loop of its own.
    frmOptions->setWindowModality(Qt::ApplicationModal);
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
    dialogs_.Open(txtOutput->text());
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
    dialogs_.Open(HelpFile());
}

void TfrmMain::FormClose() {
    app::TMainSettings settings;
    settings.OutputFolder = txtOutput->text().toStdString();
    settings.SameFolder = chkSameFolder->isChecked();
    std::string error;
    if (!app::SaveMainSettings(configPath_.toStdString(), settings, error))
        std::fprintf(stderr, "mobivert: the settings were not saved: %s\n", error.c_str());
}

void TfrmMain::closeEvent(QCloseEvent* event) {
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
