#include "app/gui/HelpViewer.h"

#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace mobivert::gui {

THelpViewer::THelpViewer(QWidget* parent)
    : QDialog(parent, Qt::Window), browser_(new QTextBrowser(this)) {
    setObjectName("frmHelp");
    setWindowTitle("Corvel Mobivert Help");
    browser_->setObjectName("txtHelp");
    browser_->setAccessibleName("Help page");
    browser_->setOpenExternalLinks(true);
    auto* close = new QPushButton("&Close", this);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(browser_, 1);
    layout->addWidget(close, 0, Qt::AlignRight);
    resize(640, 560);
}

void THelpViewer::ShowPage(const QString& file) {
    browser_->setSource(QUrl::fromLocalFile(file));
    show();
    raise();
    activateWindow();
}

} // namespace mobivert::gui
