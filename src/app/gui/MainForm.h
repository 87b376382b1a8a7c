#pragma once
// The main window: the source list, the preset combo with the Options button, the output folder
// controls and the buttons that run a batch through the converter component.

#include "app/gui/Dialogs.h"
#include "app/shared/BatchRunner.h"
#include "app/shared/StoredChoices.h"
#include "app/shared/UserPresets.h"
#include "converter/AVConverter.h"

#include <QString>
#include <QStringList>
#include <QWidget>
#include <memory>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSpinBox;
class QStatusBar;
class QTimer;
class QToolButton;

namespace mobivert::gui {

class TFileListView;
class TfrmOptions;
class THelpViewer;

// The open dialog's four filters in Qt's form, "Description (*.a *.b)": "All Supported Files",
// "Video Files" and "Audio Files" from the source extensions the program reads, and
// "All Files (*)", which lists files without an extension too.
QStringList OpenDialogFilters();

// The files named on the command line (the program's own name and options left out; "--" ends
// the options), as local paths; file:// addresses are turned into paths.
QStringList FilesFromArguments(const QStringList& arguments);

// How the end of a batch is summed up in the status bar and the desktop notification:
// "3 files converted, 1 failed", with "canceled" when any was.
QString BatchSummary(int converted, int failed, int canceled);

// The button that starts a batch, and stops it while it runs.
inline constexpr const char* CAPTION_CONVERT = "&Convert!";
inline constexpr const char* CAPTION_STOP = "&Stop";
// The button that holds a running batch, and lets it go on.
inline constexpr const char* CAPTION_PAUSE = "&Pause";
inline constexpr const char* CAPTION_RESUME = "Res&ume";

// A row's status: waiting, then how its file ended.
inline constexpr const char* STATUS_READY = "Ready";
inline constexpr const char* STATUS_DONE = "Done";
inline constexpr const char* STATUS_DONE_WARNINGS = "Done (warnings)";
inline constexpr const char* STATUS_FAILED = "Failed";
inline constexpr const char* STATUS_CANCELED = "Canceled";
// A running row's detail while the batch is held.
inline constexpr const char* DETAIL_PAUSED = "Paused";

enum class TWindowState { Idle, Converting, Paused, Stopping };

class TfrmMain : public QWidget, private app::TBatchListener {
    Q_OBJECT
public:
    // The settings are read from and written to configPath; the libraries are loaded from
    // libraryFolder (the program's "lib" folder, then the system's).
    TfrmMain(TDialogs& dialogs, const QString& configPath, const QString& libraryFolder,
             QWidget* parent = nullptr);
    ~TfrmMain() override;

    // Whether a new size is accepted: wider than 630 and higher than 432.
    static bool FormCanResize(int width, int height) { return width > 630 && height > 432; }

    TWindowState State() const { return state_; }
    converter::TAVConverter& Converter() { return runner_->Converter(); }
    // Files added as the Add button adds the files chosen in the open dialog.
    void AddFiles(const QStringList& files);
    // The help page: help.html beside the program, or where the install put it.
    QString HelpFile() const;
    // The line under the format combo that lists the stored choices applied to the preset.
    QString OverridesText() const;
    // The separator, the "Modern formats" heading and the modern presets after the 21.
    static void AddModernPresets(QComboBox* combo);
    // The text of the preset that converts: the chosen one, or the one a preset of the user's
    // own is made from; empty for "Click to select".
    std::string SelectedPresetText() const;
    // The chosen preset of the user's own, or nullptr.
    const app::TUserPreset* SelectedUserPreset() const;
    // The user's presets (loaded again, damaged files set aside and named) under "My presets".
    void ReloadUserPresets();
    std::vector<app::TUserPreset> UserPresets;

    const QString WindowTitle = "Corvel Mobivert";
    QString AppDir;
    bool Cancelled = false;
    QString LastPreset;
    app::TStoredChoices Choices;

    TFileListView* lvFiles;
    QPushButton* btnOpen;
    QPushButton* btnRemove;
    QPushButton* btnClear;
    QPushButton* btnPause;
    QPushButton* btnConvert;
    QComboBox* selFormat;
    QPushButton* btnOptions;
    QLineEdit* txtOutput;
    QPushButton* btnFolderChange;
    QPushButton* btnBrowse;
    QCheckBox* chkSameFolder;
    QLabel* lblOverrides;
    QSpinBox* spnConversions;
    QToolButton* btnHelp;
    QStatusBar* sbStatus;
    QMenu* mnuList;
    QAction* actAdd;
    QAction* actOpenOutput;
    QAction* actOpenFolder;
    QAction* actRemove;
    QAction* actClear;
    TfrmOptions* frmOptions;
    // The help page, for a desktop without a browser.
    THelpViewer* frmHelp;

public slots:
    void btnOpenClick();
    void btnRemoveClick();
    void btnClearClick();
    void btnConvertClick();
    void btnPauseClick();
    void btnOptionsClick();
    void btnFolderChangeClick();
    void btnBrowseClick();
    void chkSameFolderClick();
    void selFormatChange();
    void suiFormMainTitleBarHelpBtnClick();
    void DoLoadFromList();
    // The output of a row that was converted, with the desktop's program for it (double-click
    // or Enter on the row), or the folder that holds it.
    void OpenOutput(int row);
    void OpenOutputFolder(int row);
    // Writes the output folder, the same-folder choice, the preset, the conversions at once and
    // the options dialog's choices to the settings file (each change does so at once).
    void SaveSettings();

    // The component's events, on this window's thread (the batch runner delivers them).
    void ConverterProgress(int index, int currentDuration, int totalOutputDuration);
    void ConverterTerminate(int index, bool finished, bool failed, const QString& message);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    bool LoadLibraries();
    // A task for the file when the probe can open it and the component takes it; -1 otherwise,
    // with the reason. The source's length and size go to work.
    int AddTask(const QString& path, QString* reason = nullptr, app::TSourceWork* work = nullptr);
    // Rebuilds the rows' tasks; with rest, only of the rows not converted yet.
    void LoadFromList(bool rest);
    // After a stopped batch in which some rows but not all were converted, how many were not;
    // -1 otherwise.
    int RemainingAfterStop() const;
    // The row reads "Failed: <reason>", plain words first, the libraries' text in its tooltip.
    void ShowFailed(int row, const QString& message);
    // A folder handed to the desktop; the user is told when it is not there or nothing opens it.
    void OpenFolder(const QString& folder);
    void ConnectSettings();
    // The list shows the running row, unless the user scrolled away from it.
    void FollowRow(int row);
    void ListScrolled();
    // Removes every task; events still on their way from earlier tasks are dropped.
    void ClearTasks();
    void SetTitle(const QString& suffix);
    void SetIdle();
    void SetBusyControls(bool busy);
    void FormClose();
    void ShowOverrides();
    bool SaveAsPreset(const app::TStoredChoices& choices);
    void ImportPreset();
    void ExportPreset();
    void ListMenuRequested(const QPoint& at);
    // Whether the row was converted and its output is still there.
    bool HasOutput(int row) const;
    // The row says how its file ended.
    void ShowEnd(int row, const app::TBatchFile& file);
    // What the batch runner reports.
    void TaskProgress(int task, int currentMs, const app::TFileFigures& figures) override;
    void FileEnded(const app::TBatchFile& file) override;
    void BatchEnded(const app::TBatchCounts& counts) override;
    void UpdateStatusBar();
    void ShowPausedRows(bool paused);

    TDialogs& dialogs_;
    // The preset of the user's own whose choices were taken last.
    std::string appliedUserPreset_;
    QString configPath_;
    QString libraryFolder_;
    TWindowState state_ = TWindowState::Idle;
    // The user closed the window during a batch: it closes when the stopped batch has ended.
    bool closeWhenStopped_ = false;
    int followedRow_ = -1;
    bool following_ = true;
    bool scrollingToRow_ = false;
    QTimer* statusTimer_;
    // Rows refused when the batch was set up: they count as failed in its summary.
    int refused_ = 0;
    std::unique_ptr<app::TBatchRunner> runner_;
};

} // namespace mobivert::gui
