#include "GuiTestSupport.h"

#include "app/gui/FileListView.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace mobivert::guitest {

void TFakeDialogs::Plain(QWidget*, const QString& text) {
    Messages.push_back({TShownMessage::Plain, text, {}, {}});
}

void TFakeDialogs::Information(QWidget*, const QString& text) {
    Messages.push_back({TShownMessage::Information, text, {}, {}});
}

void TFakeDialogs::InformationDetails(QWidget*, const QString& text, const QString& details) {
    Messages.push_back({TShownMessage::Information, text, details, {}});
}

int TFakeDialogs::Choose(QWidget*, const QString& text, const QStringList& buttons) {
    Messages.push_back({TShownMessage::Question, text, {}, buttons});
    if (Choices.empty())
        return static_cast<int>(buttons.size()) - 1;
    const int choice = Choices.front();
    Choices.pop_front();
    return choice;
}

bool TFakeDialogs::Question(QWidget*, const QString& text) {
    Messages.push_back({TShownMessage::Question, text, {}, {}});
    if (Answers.empty())
        return false;
    bool answer = Answers.front();
    Answers.pop_front();
    return answer;
}

QStringList TFakeDialogs::OpenFiles(QWidget*, const QStringList& filters) {
    ++OpenDialogCount;
    LastFilters = filters;
    return FilesToOpen;
}

QString TFakeDialogs::ChooseFolder(QWidget*, const QString& prompt) {
    LastPrompt = prompt;
    return FolderToChoose;
}

QString TFakeDialogs::AskText(QWidget*, const QString& prompt) {
    LastPrompt = prompt;
    return TextToGive;
}

QString TFakeDialogs::SaveFile(QWidget*, const QString& filter, const QString&) {
    LastFilters = {filter};
    return FileToSave;
}

bool TFakeDialogs::Open(const QString& path) {
    Opened << path;
    return DesktopOpens;
}

void TFakeDialogs::Notify(QWidget* parent, const QString& summary, const QString& body) {
    Notifications << summary + ": " + body;
    if (Notifier)
        Notifier->Notify(parent, summary, body);
}

QStringList TFakeDialogs::Texts(TShownMessage::Kind kind) const {
    QStringList texts;
    for (const TShownMessage& m : Messages)
        if (m.Type == kind)
            texts << m.Text;
    return texts;
}

QString Caption(const QAbstractButton* button) {
    return button->text().remove('&');
}

QString Fixture(const char* name) {
    return QDir(MOBIVERT_FIXTURE_DIR).filePath(name);
}

TWindowRig::TWindowRig() = default;

TWindowRig::~TWindowRig() {
    window.reset();
}

gui::TfrmMain& TWindowRig::Open() {
    window = std::make_unique<gui::TfrmMain>(dialogs, ConfigPath(), QString());
    return *window;
}

gui::TfrmMain& TWindowRig::OpenReady(const QStringList& files, const QString& preset) {
    Open();
    window->txtOutput->setText(OutputFolder());
    Add(files);
    SelectPreset(preset);
    return *window;
}

void TWindowRig::Add(const QStringList& files) {
    dialogs.FilesToOpen = files;
    window->btnOpen->click();
}

void TWindowRig::SelectPreset(const QString& text) {
    int index = window->selFormat->findText(text);
    QVERIFY2(index > 0, qPrintable(text));
    window->selFormat->setCurrentIndex(index);
}

bool TWindowRig::WaitForTitle(const QString& suffix, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!window->windowTitle().endsWith(suffix)) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(20);
    }
    return true;
}

QStringList TWindowRig::Statuses() const {
    QStringList statuses;
    for (int row = 0; row < window->lvFiles->rowCount(); ++row)
        statuses << window->lvFiles->Status(row);
    return statuses;
}

QStringList TWindowRig::OutputFiles() const {
    return QDir(OutputFolder()).entryList(QDir::Files, QDir::Name);
}

} // namespace mobivert::guitest
