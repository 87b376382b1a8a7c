#include "app/gui/DesktopNotifier.h"

#include "app/gui/Look.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QSystemTrayIcon>
#include <QVariantMap>

namespace mobivert::gui {

TDesktopNotifier::TDesktopNotifier() = default;

TDesktopNotifier::~TDesktopNotifier() = default;

bool TDesktopNotifier::SendToService(const QString& summary, const QString& body) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() ||
        !bus.interface()->isServiceRegistered(NOTIFICATION_SERVICE).value())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(NOTIFICATION_SERVICE, NOTIFICATION_PATH,
                                                       NOTIFICATION_SERVICE, "Notify");
    // Application name, no notification to replace, icon, texts, no actions, the desktop entry
    // (so that the desktop shows the program's own name and icon), the server's default time.
    QVariantMap hints{{"desktop-entry", QString("mobivert")}};
    call << QString("Corvel Mobivert") << 0u << QString("mobivert") << summary << body
         << QStringList() << hints << -1;
    return bus.send(call);
}

TDesktopNotifier::TRoute TDesktopNotifier::Notify(QWidget*, const QString& summary,
                                                  const QString& body) {
    if (SendToService(summary, body))
        return Service;
    if (!QSystemTrayIcon::isSystemTrayAvailable() || !QSystemTrayIcon::supportsMessages())
        return NotShown;
    if (!tray_) {
        tray_ = std::make_unique<QSystemTrayIcon>(ProgramIcon());
        tray_->setToolTip("Corvel Mobivert");
    }
    tray_->show();
    tray_->showMessage(summary, body, ProgramIcon());
    return TrayIcon;
}

} // namespace mobivert::gui
