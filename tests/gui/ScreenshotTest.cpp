// The real window on an X server (run under Xvfb): two fixture files are added and converted
// with a preset, and pictures of the idle window, the running batch, the options dialog and the
// finished list, at its usual and its smallest size, are saved into the build tree (screenshots/)
// for people to look at.

#include "GuiTestSupport.h"
#include "TestRegistry.h"
#include "app/gui/FileListView.h"
#include "app/gui/Look.h"
#include "app/gui/OptionsForm.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>

using namespace mobivert;
using guitest::Fixture;
using guitest::TWindowRig;

namespace {

void Save(QWidget& widget, const char* name) {
    QDir().mkpath(MOBIVERT_SCREENSHOT_DIR);
    const QString path = QDir(MOBIVERT_SCREENSHOT_DIR).filePath(name);
    const QPixmap picture = widget.grab();
    QCOMPARE(picture.size(), widget.size());
    QVERIFY2(picture.save(path), qPrintable(path));
    QVERIFY(QImage(path).size() == widget.size());
}

} // namespace

class ScreenshotTest : public QObject {
    Q_OBJECT
private slots:
    void realWindowConvertsTwoFiles() {
        if (QGuiApplication::platformName() != "xcb")
            QSKIP("needs an X server (the test is run under xvfb-run)");
        qApp->setStyleSheet(gui::StyleSheet());

        TWindowRig rig;
        gui::TfrmMain& w = rig.Open();
        w.txtOutput->setText(rig.OutputFolder());
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        rig.Add({Fixture("sample.mp4"), Fixture("h264_aac.mp4")});
        rig.SelectPreset("MPEG-4 Video (*.mp4)");
        QTest::qWait(100);
        Save(w, "idle.png");

        w.btnConvert->click();
        QDeadlineTimer deadline(20000);
        while (!w.lvFiles->Status(0).startsWith("{|") && !w.windowTitle().endsWith("[Done]") &&
               !deadline.hasExpired())
            QTest::qWait(5);
        Save(w, "running.png");

        QVERIFY(rig.WaitForTitle(" [Done]"));
        QCOMPARE(rig.Statuses(), (QStringList{"Done", "Done"}));
        QCOMPARE(rig.OutputFiles(),
                 (QStringList{"h264_aac (MPEG-4 Video).mp4", "sample (MPEG-4 Video).mp4"}));
        QTest::qWait(100);
        Save(w, "finished.png");
        // What the X server shows of it.
        const QPixmap screen = w.screen()->grabWindow(w.winId());
        QVERIFY(!screen.isNull());
        QVERIFY(screen.save(QDir(MOBIVERT_SCREENSHOT_DIR).filePath("finished-screen.png")));

        // The smallest size the window takes.
        w.resize(631, 433);
        QTest::qWait(100);
        Save(w, "minimum.png");

        w.btnOptions->click();
        QVERIFY(QTest::qWaitForWindowExposed(w.frmOptions));
        QTest::qWait(100);
        Save(*w.frmOptions, "options.png");
        w.frmOptions->reject();
    }
};

MOBIVERT_GUI_TEST(ScreenshotTest);

#include "ScreenshotTest.moc"
