#include "app/gui/Dialogs.h"

#include "app/gui/DesktopNotifier.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

namespace mobivert::gui {

void TQtDialogs::Plain(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, APPLICATION_TITLE, text, QMessageBox::Ok, parent);
    box.exec();
}

void TQtDialogs::Information(QWidget* parent, const QString& text) {
    QMessageBox::information(parent, INFORMATION_CAPTION, text);
}

std::unique_ptr<QMessageBox> InformationDetailsBox(QWidget* parent, const QString& text,
                                                   const QString& details) {
    auto box = std::make_unique<QMessageBox>(QMessageBox::Information, INFORMATION_CAPTION, text,
                                             QMessageBox::Ok, parent);
    box->setDetailedText(details);
    return box;
}

void TQtDialogs::InformationDetails(QWidget* parent, const QString& text, const QString& details) {
    InformationDetailsBox(parent, text, details)->exec();
}

int TQtDialogs::Choose(QWidget* parent, const QString& text, const QStringList& buttons) {
    QMessageBox box(QMessageBox::NoIcon, INFORMATION_CAPTION, text, QMessageBox::NoButton, parent);
    QList<QAbstractButton*> added;
    for (int i = 0; i < buttons.size(); ++i) {
        const auto role = i == 0                    ? QMessageBox::AcceptRole
                          : i + 1 == buttons.size() ? QMessageBox::RejectRole
                                                    : QMessageBox::ActionRole;
        added << box.addButton(buttons[i], role);
    }
    if (!added.isEmpty()) {
        box.setDefaultButton(qobject_cast<QPushButton*>(added.first()));
        box.setEscapeButton(added.last());
    }
    box.exec();
    const int pressed = static_cast<int>(added.indexOf(box.clickedButton()));
    return pressed >= 0 ? pressed : static_cast<int>(buttons.size()) - 1;
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

QString TQtDialogs::AskText(QWidget* parent, const QString& prompt) {
    return QInputDialog::getText(parent, INFORMATION_CAPTION, prompt).trimmed();
}

QString TQtDialogs::SaveFile(QWidget* parent, const QString& filter, const QString& suggested) {
    return QFileDialog::getSaveFileName(parent, QString(), suggested, filter);
}

QString TQtDialogs::ChooseFolder(QWidget* parent, const QString& prompt) {
    // No folder is preselected; only folders are offered, and none can be made here.
    return QFileDialog::getExistingDirectory(parent, prompt, QString(),
                                             QFileDialog::ShowDirsOnly | QFileDialog::ReadOnly);
}

bool TQtDialogs::Open(const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

TQtDialogs::TQtDialogs() : notifier_(std::make_unique<TDesktopNotifier>()) {}

TQtDialogs::~TQtDialogs() = default;

void TQtDialogs::Notify(QWidget* parent, const QString& summary, const QString& body) {
    notifier_->Notify(parent, summary, body);
}

} // namespace mobivert::gui
