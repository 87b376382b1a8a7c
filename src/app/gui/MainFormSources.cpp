// The window's source list: adding files (the open dialog, a drop, the command line), removing
// and clearing rows, and the tasks each row's file gets.

#include "app/gui/FileListView.h"
#include "app/gui/MainForm.h"
#include "app/gui/StdText.h"
#include "app/shared/ConversionDriver.h"
#include "app/shared/HeapPolicy.h"
#include "app/shared/PlainReasons.h"
#include "app/shared/SourceExtensions.h"

#include <QComboBox>
#include <QFileInfo>
#include <QStatusBar>
#include <QUrl>

#include <algorithm>

namespace mobivert::gui {

using app::TFileState;

namespace {

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

} // namespace mobivert::gui
