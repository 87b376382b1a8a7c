// The main window's controls: their names, captions, hints and layout, the list's pop-up menu,
// the keyboard shortcuts and the tab order, and the connections of their signals.

#include "app/gui/FileListView.h"
#include "app/gui/HelpViewer.h"
#include "app/gui/Look.h"
#include "app/gui/MainForm.h"
#include "app/gui/OptionsForm.h"
#include "app/shared/Presets.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QSpinBox>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>

namespace mobivert::gui {

namespace {

int MaxConversionsAtOnce() {
    return std::max(1, QThread::idealThreadCount());
}

} // namespace

void TfrmMain::BuildControls() {
    setObjectName("frmMain");
    setWindowIcon(ProgramIcon());

    auto* banner = new TBanner(this);
    btnHelp = new QToolButton(banner);
    btnHelp->setObjectName("btnHelp");
    btnHelp->setText("?");
    btnHelp->setToolTip("Help (F1)");
    btnHelp->setAccessibleName("Help");
    btnHelp->setFocusPolicy(Qt::StrongFocus);
    btnHelp->setFixedSize(22, 22);
    auto* bannerRow = new QHBoxLayout(banner);
    bannerRow->setContentsMargins(0, 6, 10, 0);
    bannerRow->addStretch(1);
    bannerRow->addWidget(btnHelp, 0, Qt::AlignTop);

    lvFiles = new TFileListView(this);
    lvFiles->setObjectName("lvFiles");
    lvFiles->setAccessibleName("Files to convert");

    auto button = [this](const char* name, const QString& caption, const QString& hint) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(name);
        b->setToolTip(hint);
        b->setStatusTip(hint);
        b->setMinimumWidth(104);
        return b;
    };
    btnOpen = button("btnOpen", "&Add...", "Open one or more videos to the list");
    btnRemove = button("btnRemove", "&Remove", "Remove selected video from the list");
    btnClear = button("btnClear", "C&lear", "Remove every video from the list");
    btnPause = button("btnPause", CAPTION_PAUSE, "Suspend the conversion job temporarily");
    btnConvert = button("btnConvert", CAPTION_CONVERT, "Convert all the videos from the list");
    btnConvert->setMinimumHeight(40);
    btnPause->setVisible(false);

    selFormat = new QComboBox(this);
    selFormat->setObjectName("selFormat");
    selFormat->setAccessibleName("Output format");
    for (const std::string& text : app::PresetListTexts())
        selFormat->addItem(QString::fromStdString(text));
    AddModernPresets(selFormat);
    selFormat->setMaxVisibleItems(34);
    btnOptions = button("btnOptions", "&Options", "Change the output options of the format");
    lblOverrides = new QLabel(this);
    lblOverrides->setObjectName("lblOverrides");
    lblOverrides->setWordWrap(true);
    lblOverrides->setVisible(false);

    txtOutput = new QLineEdit(this);
    txtOutput->setObjectName("txtOutput");
    txtOutput->setAccessibleName("Output folder");
    txtOutput->setReadOnly(true);
    txtOutput->installEventFilter(this);
    btnFolderChange = button("btnFolderChange", "C&hange", "Choose the output folder");
    btnBrowse = button("btnBrowse", "&Browse", "Show the output folder");
    btnFolderChange->setMinimumWidth(80);
    btnBrowse->setMinimumWidth(80);
    chkSameFolder = new QCheckBox("&Use the same directory to the source file", this);
    chkSameFolder->setObjectName("chkSameFolder");
    spnConversions = new QSpinBox(this);
    spnConversions->setObjectName("spnConversions");
    spnConversions->setRange(1, MaxConversionsAtOnce());
    spnConversions->setValue(1);
    spnConversions->setToolTip("How many files are converted at the same time");
    spnConversions->setAccessibleName("Conversions at once");
    auto* conversionsLabel = new QLabel("Co&nversions at once:", this);
    conversionsLabel->setBuddy(spnConversions);

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
    auto* formatLabel = new QLabel("Output &Format:", this);
    formatLabel->setBuddy(selFormat);
    grid->addWidget(formatLabel, 1, 0);
    grid->addWidget(selFormat, 1, 1);
    grid->addWidget(btnOptions, 1, 2, 1, 2, Qt::AlignLeft);
    grid->addWidget(lblOverrides, 2, 1, 1, 3);
    auto* folderLabel = new QLabel("Output Fol&der:", this);
    folderLabel->setBuddy(txtOutput);
    grid->addWidget(folderLabel, 3, 0);
    grid->addWidget(txtOutput, 3, 1);
    auto* folderButtons = new QHBoxLayout();
    folderButtons->setSpacing(6);
    folderButtons->addWidget(btnFolderChange);
    folderButtons->addWidget(btnBrowse);
    folderButtons->addStretch(1);
    grid->addLayout(folderButtons, 3, 2, 1, 2);
    auto* lastRow = new QHBoxLayout();
    lastRow->addWidget(chkSameFolder);
    lastRow->addStretch(1);
    lastRow->addWidget(conversionsLabel);
    lastRow->addWidget(spnConversions);
    grid->addLayout(lastRow, 4, 1, 1, 3);
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
    sbStatus = new QStatusBar(this);
    sbStatus->setObjectName("sbStatus");
    sbStatus->setAccessibleName("Status");
    // A screen reader hears the batch's state as it changes.
    connect(sbStatus, &QStatusBar::messageChanged, sbStatus,
            [this](const QString& text) { sbStatus->setAccessibleDescription(text); });
    sbStatus->setSizeGripEnabled(false);
    outer->addWidget(sbStatus);
    statusTimer_ = new QTimer(this);
    statusTimer_->setInterval(1000);
    connect(statusTimer_, &QTimer::timeout, this, &TfrmMain::UpdateStatusBar);

    mnuList = new QMenu(this);
    actAdd = mnuList->addAction("Add File(s)", this, &TfrmMain::btnOpenClick);
    mnuList->addSeparator();
    actOpenOutput =
        mnuList->addAction("Open output", this, [this] { OpenOutput(lvFiles->SelectedRow()); });
    actOpenFolder = mnuList->addAction("Open output folder", this,
                                       [this] { OpenOutputFolder(lvFiles->SelectedRow()); });
    mnuList->addSeparator();
    actRemove = mnuList->addAction("Remove", this, &TfrmMain::btnRemoveClick);
    actClear = mnuList->addAction("Clear All", this, &TfrmMain::btnClearClick);
    connect(lvFiles, &QWidget::customContextMenuRequested, this, &TfrmMain::ListMenuRequested);
    connect(lvFiles, &TFileListView::FilesDropped, this, &TfrmMain::AddFiles);
    // Double-click or Enter on a row.
    connect(lvFiles, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& index) { OpenOutput(index.row()); });
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* open =
            new QShortcut(QKeySequence(key), lvFiles, nullptr, nullptr, Qt::WidgetShortcut);
        connect(open, &QShortcut::activated, this, [this] { OpenOutput(lvFiles->currentRow()); });
    }

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
    auto* add = new QShortcut(QKeySequence::Open, this);
    connect(add, &QShortcut::activated, this, &TfrmMain::btnOpenClick);
    auto* remove = new QShortcut(QKeySequence::Delete, lvFiles, nullptr, nullptr,
                                 Qt::WidgetWithChildrenShortcut);
    connect(remove, &QShortcut::activated, this, &TfrmMain::btnRemoveClick);
    for (QKeySequence keys :
         {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)}) {
        auto* convert = new QShortcut(keys, this);
        // Only starts a batch: stopping stays a deliberate press of Stop.
        connect(convert, &QShortcut::activated, this, [this] {
            if (state_ == TWindowState::Idle)
                btnConvertClick();
        });
    }

    frmOptions = new TfrmOptions(Choices, dialogs_, this);
    frmOptions->OnSaveAsPreset = [this](const app::TStoredChoices& c) { return SaveAsPreset(c); };
    frmOptions->OnImportPreset = [this] { ImportPreset(); };
    frmOptions->OnExportPreset = [this] { ExportPreset(); };
    connect(frmOptions, &QDialog::finished, this, &TfrmMain::ShowOverrides);
    frmHelp = new THelpViewer(this);

    // Tab goes down the window as it reads: the list and its buttons, the format, the folder,
    // then what starts the batch.
    QWidget* order[] = {lvFiles,        btnOpen,   btnRemove,       btnClear,  selFormat,
                        btnOptions,     txtOutput, btnFolderChange, btnBrowse, chkSameFolder,
                        spnConversions, btnPause,  btnConvert,      btnHelp};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
    // The list follows the running rows unless the user scrolls away from them.
    connect(lvFiles->verticalScrollBar(), &QScrollBar::valueChanged, this, &TfrmMain::ListScrolled);

    setMinimumSize(631, 433);
    resize(732, 556);
}

} // namespace mobivert::gui
