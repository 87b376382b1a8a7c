// The desktop notification at the end of a batch, through a notification service of our own
// on the session bus (the test runs under dbus-run-session), and without one.

#include "GuiTestSupport.h"
#include "TestRegistry.h"
#include "app/gui/DesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVariantMap>

using namespace mobivert;
using guitest::Fixture;
using guitest::TWindowRig;

// Takes the freedesktop service's Notify calls and remembers them.
class TRecordingNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct TCall {
        QString Application, Icon, Summary, Body;
        QVariantMap Hints;
        int Timeout;
    };
    QList<TCall> Calls;

public slots:
    uint Notify(const QString& application, uint, const QString& icon, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap& hints, int timeout) {
        Calls.append({application, icon, summary, body, hints, timeout});
        return static_cast<uint>(Calls.size());
    }
    QStringList GetCapabilities() { return {"body"}; }
};

class NotificationTest : public QObject {
    Q_OBJECT
private slots:
    void batchEndReachesTheNotificationServiceOrNothingBreaks() {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("needs a session bus (the test is run under dbus-run-session)");
        gui::TDesktopNotifier notifier;
        // No service yet (and no tray offscreen): nothing is shown, nothing fails.
        QVERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(
            gui::NOTIFICATION_SERVICE));
        QCOMPARE(notifier.Notify(nullptr, "a", "b"), gui::TDesktopNotifier::NotShown);

        // The service on a connection of its own, as a desktop's would be.
        QDBusConnection desktop =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, "desktop");
        TRecordingNotifications service;
        QVERIFY(desktop.registerObject(gui::NOTIFICATION_PATH, &service,
                                       QDBusConnection::ExportAllSlots));
        QVERIFY(desktop.registerService(gui::NOTIFICATION_SERVICE));

        TWindowRig rig;
        rig.dialogs.Notifier = &notifier;
        gui::TfrmMain& w = rig.Open();
        w.txtOutput->setText(rig.OutputFolder());
        // An odd width refuses the file with video; the audio files convert.
        w.Choices.ResolutionDefault = false;
        w.Choices.WidthText = "321";
        w.Choices.HeightText = "240";
        rig.Add({Fixture("h264_aac.mp4"), Fixture("mono8k.wav"), Fixture("tone.mp3")});
        rig.SelectPreset("AVI Video (*.avi)");
        w.btnConvert->click();
        QVERIFY(rig.WaitForTitle(" [Done]"));
        QTRY_COMPARE(service.Calls.size(), 1);
        const TRecordingNotifications::TCall& call = service.Calls.first();
        QCOMPARE(call.Application, QString("Corvel Mobivert"));
        QCOMPARE(call.Icon, QString("mobivert"));
        QCOMPARE(call.Summary, QString("Conversion finished"));
        QCOMPARE(call.Body, QString("2 files converted, 1 failed"));
        QCOMPARE(call.Hints.value("desktop-entry").toString(), QString("mobivert"));
        QCOMPARE(call.Timeout, -1);

        desktop.unregisterService(gui::NOTIFICATION_SERVICE);
        QDBusConnection::disconnectFromBus("desktop");
    }
};

MOBIVERT_GUI_TEST(NotificationTest);

#include "NotificationTest.moc"
