#pragma once
// The window's own look: the built-in style sheet, the banner across the top of the main window
// and the program's icon, all made at run time.

#include <QIcon>
#include <QString>
#include <QWidget>

namespace mobivert::gui {

QString StyleSheet();
QIcon ProgramIcon();
// The marks of a list row's end: a green disc with a tick for a converted file, a red one with
// a cross for a failed one. The row's text says the same in words.
QIcon DoneIcon();
QIcon FailedIcon();
// The colours of those rows' status text.
QColor DoneColor();
QColor FailedColor();

// Three pictures side by side: the program's emblem, its name with a line about what it does,
// and a strip of film frames turning into a sound wave. A help button sits at its right.
class TBanner : public QWidget {
public:
    explicit TBanner(QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace mobivert::gui
