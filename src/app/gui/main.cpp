// mobivert: the desktop window of Corvel Mobivert.

#include "app/gui/Dialogs.h"
#include "app/gui/Look.h"
#include "app/gui/MainForm.h"
#include "app/gui/ResumeOffer.h"
#include "app/shared/HeapPolicy.h"
#include "app/shared/Settings.h"
#include "converter/Libraries.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>

int main(int argc, char* argv[]) {
    mobivert::app::KeepLargeBuffersOffTheHeap();
    QApplication application(argc, argv);
    QApplication::setOrganizationName("Corvel");
    QApplication::setApplicationName("Mobivert");
    QGuiApplication::setDesktopFileName("mobivert");
    QApplication::setWindowIcon(mobivert::gui::ProgramIcon());
    application.setStyleSheet(mobivert::gui::StyleSheet());

    mobivert::gui::TQtDialogs dialogs;
    mobivert::gui::TfrmMain window(
        dialogs, QString::fromStdString(mobivert::app::ConfigFilePath()),
        QString::fromStdString(mobivert::converter::ProgramLibDirectory()));
    if (QScreen* screen = window.screen())
        window.setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, window.size(),
                                               screen->availableGeometry()));
    window.show();
    mobivert::gui::OfferToResume(window, dialogs);
    // "Open With" from a file manager, or files named when the program was started.
    window.AddFiles(mobivert::gui::FilesFromArguments(QApplication::arguments()));
    return application.exec();
}
