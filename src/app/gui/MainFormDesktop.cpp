// What the window hands to the desktop: a converted row's output or its folder, the output
// folder and its controls, and the help page.

#include "app/gui/FileListView.h"
#include "app/gui/HelpViewer.h"
#include "app/gui/MainForm.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

namespace mobivert::gui {

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

} // namespace mobivert::gui
