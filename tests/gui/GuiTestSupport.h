#pragma once
// What the window tests share: dialogs that answer without blocking and record what was asked,
// the fixture media, a private settings file and output folder per test, and waiting for the
// window with its events running.

#include "app/gui/DesktopNotifier.h"
#include "app/gui/Dialogs.h"
#include "app/gui/MainForm.h"

#include <QDir>
#include <QLabel>
#include <QSpinBox>
#include <QStatusBar>
#include <QStringList>
#include <QTemporaryDir>
#include <deque>
#include <memory>
#include <vector>

class QAbstractButton;

namespace mobivert::guitest {

struct TShownMessage {
    enum Kind { Plain, Information, Question } Type;
    QString Text;
    QString Details;     // the details part of an information box
    QStringList Buttons; // the buttons of a question with buttons of its own
};

class TFakeDialogs : public gui::TDialogs {
public:
    void Plain(QWidget*, const QString& text) override;
    void Information(QWidget*, const QString& text) override;
    void InformationDetails(QWidget*, const QString& text, const QString& details) override;
    bool Question(QWidget*, const QString& text) override;
    int Choose(QWidget*, const QString& text, const QStringList& buttons) override;
    QStringList OpenFiles(QWidget*, const QStringList& filters) override;
    QString ChooseFolder(QWidget*, const QString& prompt) override;
    QString AskText(QWidget*, const QString& prompt) override;
    QString SaveFile(QWidget*, const QString& filter, const QString& suggested) override;
    bool Open(const QString& path) override;
    void Notify(QWidget* parent, const QString& summary, const QString& body) override;

    // Texts of the messages of one kind, in the order shown.
    QStringList Texts(TShownMessage::Kind kind) const;

    std::vector<TShownMessage> Messages;
    std::deque<bool> Answers; // for Question; No when none is left
    std::deque<int> Choices;  // for Choose: the button pressed; the last when none is left
    QStringList FilesToOpen;  // what the open dialog returns
    QStringList LastFilters;
    int OpenDialogCount = 0;
    QString FolderToChoose;
    QString TextToGive; // what AskText returns
    QString FileToSave; // what SaveFile returns
    QString LastPrompt;
    QStringList Opened;
    bool DesktopOpens = true;  // whether the desktop has a handler for what is opened
    QStringList Notifications; // "summary: body"
    // When set, notifications also go to the desktop through it.
    gui::TDesktopNotifier* Notifier = nullptr;
};

QString Fixture(const char* name);
// A button's caption as it reads, without the mark of its Alt letter.
QString Caption(const QAbstractButton* button);

// A window with its own settings file and output folder, both in a temporary folder.
class TWindowRig {
public:
    TWindowRig();
    ~TWindowRig();

    QString ConfigPath() const { return dir.filePath("config/config.ini"); }
    QString OutputFolder() const { return dir.filePath("out"); }
    // Creates the window (reading the settings file as it is now).
    gui::TfrmMain& Open();
    // Opens the window with the rig's output folder, the files added and the preset chosen:
    // ready for Convert.
    gui::TfrmMain& OpenReady(const QStringList& files, const QString& preset);
    gui::TfrmMain& Window() { return *window; }
    // Adds the files as the Add button does, through the open dialog.
    void Add(const QStringList& files);
    void SelectPreset(const QString& text);
    // Waits, with the window's events running, until the title ends with the suffix.
    bool WaitForTitle(const QString& suffix, int timeoutMs = 120000);
    QStringList Statuses() const;
    QStringList OutputFiles() const;

    QTemporaryDir dir;
    TFakeDialogs dialogs;
    std::unique_ptr<gui::TfrmMain> window;
};

} // namespace mobivert::guitest
