#pragma once
// Every dialog, message box and desktop hand-off the window uses goes through TDialogs, so the
// window can be driven without anything blocking (the tests give their own answers).

#include <QString>
#include <QStringList>
#include <memory>

class QMessageBox;
class QWidget;

namespace mobivert::gui {

// The application title, the caption of the plain message boxes, spelled as it always was.
inline constexpr const char* APPLICATION_TITLE = "Corvel Video Cenverter";
// The caption of the information boxes.
inline constexpr const char* INFORMATION_CAPTION = "Information";

class TDialogs {
public:
    virtual ~TDialogs() = default;

    // A message box captioned with the application title, no icon.
    virtual void Plain(QWidget* parent, const QString& text) = 0;
    // A message box captioned "Information" with the information icon.
    virtual void Information(QWidget* parent, const QString& text) = 0;
    // An information box whose details part (shown on request) holds the given text.
    virtual void InformationDetails(QWidget* parent, const QString& text,
                                    const QString& details) = 0;
    // A Yes/No question captioned "Information", no icon; true for Yes.
    virtual bool Question(QWidget* parent, const QString& text) = 0;
    // A question captioned "Information", no icon, with the buttons in the given order (the
    // first is the default, the last the one Escape presses); the index of the one pressed.
    virtual int Choose(QWidget* parent, const QString& text, const QStringList& buttons) = 0;
    // The open dialog with multiple selection; filters in Qt's "Name (*.a *.b)" form, the first
    // being the initial one. Empty when the user cancels.
    virtual QStringList OpenFiles(QWidget* parent, const QStringList& filters) = 0;
    // The folder picker; empty when the user cancels.
    virtual QString ChooseFolder(QWidget* parent, const QString& prompt) = 0;
    // A line of text asked for under the prompt; empty when the user cancels.
    virtual QString AskText(QWidget* parent, const QString& prompt) = 0;
    // The save dialog with one filter, starting at the suggested name; empty when cancelled.
    virtual QString SaveFile(QWidget* parent, const QString& filter, const QString& suggested) = 0;
    // Hands a file or folder to the desktop's default handler; false when the desktop has
    // none for it.
    virtual bool Open(const QString& path) = 0;
    // A desktop notification (see TDesktopNotifier); it never waits for the desktop.
    virtual void Notify(QWidget* parent, const QString& summary, const QString& body) = 0;
};

class TDesktopNotifier;

// The information box with a details part that InformationDetails shows, not yet shown.
std::unique_ptr<QMessageBox> InformationDetailsBox(QWidget* parent, const QString& text,
                                                   const QString& details);

// The real dialogs and the desktop's handlers.
class TQtDialogs : public TDialogs {
public:
    TQtDialogs();
    ~TQtDialogs() override;
    void Plain(QWidget* parent, const QString& text) override;
    void Information(QWidget* parent, const QString& text) override;
    void InformationDetails(QWidget* parent, const QString& text, const QString& details) override;
    bool Question(QWidget* parent, const QString& text) override;
    int Choose(QWidget* parent, const QString& text, const QStringList& buttons) override;
    QStringList OpenFiles(QWidget* parent, const QStringList& filters) override;
    QString ChooseFolder(QWidget* parent, const QString& prompt) override;
    QString AskText(QWidget* parent, const QString& prompt) override;
    QString SaveFile(QWidget* parent, const QString& filter, const QString& suggested) override;
    bool Open(const QString& path) override;
    void Notify(QWidget* parent, const QString& summary, const QString& body) override;

private:
    std::unique_ptr<TDesktopNotifier> notifier_;
};

} // namespace mobivert::gui
