#include "app/gui/Dialogs.h"

#include "app/gui/DesktopNotifier.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

namespace mobivert::gui {

void TQtDialogs::Plain(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, APPLICATION_TITLE, text, QMessageBox::Ok, parent);
    box.exec();
}

void TQtDialogs::Information(QWidget* parent, const QString& text) {
    QMessageBox::information(parent, INFORMATION_CAPTION, text);
}

bool TQtDialogs::Question(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, INFORMATION_CAPTION, text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

QStringList TQtDialogs::OpenFiles(QWidget* parent, const QStringList& filters) {
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(filters);
    if (!filters.isEmpty())
        dialog.selectNameFilter(filters.first());
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}

QString TQtDialogs::ChooseFolder(QWidget* parent, const QString& prompt) {
    // No folder is preselected; only folders are offered, and none can be made here.
    return QFileDialog::getExistingDirectory(parent, prompt, QString(),
                                             QFileDialog::ShowDirsOnly | QFileDialog::ReadOnly);
}

void TQtDialogs::Open(const QString& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

TQtDialogs::TQtDialogs() : notifier_(std::make_unique<TDesktopNotifier>()) {}

TQtDialogs::~TQtDialogs() = default;

void TQtDialogs::Notify(QWidget* parent, const QString& summary, const QString& body) {
    notifier_->Notify(parent, summary, body);
}

} // namespace mobivert::gui
