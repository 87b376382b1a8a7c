#pragma once
// A small window that shows the installed help page itself, for desktops that have no web
// browser to open it with.

#include <QDialog>

class QTextBrowser;

namespace mobivert::gui {

class THelpViewer : public QDialog {
    Q_OBJECT
public:
    explicit THelpViewer(QWidget* parent = nullptr);
    // Loads the page (links to other pages beside it work too) and shows the window.
    void ShowPage(const QString& file);
    QTextBrowser* Browser() const { return browser_; }

private:
    QTextBrowser* browser_;
};

} // namespace mobivert::gui
