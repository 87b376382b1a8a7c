#pragma once
// Desktop notifications: through the freedesktop notification service on the session bus when
// it runs, otherwise as a message of a tray icon when the desktop has a tray; without either
// nothing is shown and nothing else changes. Sending never waits for the desktop.

#include <QString>
#include <memory>

class QSystemTrayIcon;
class QWidget;

namespace mobivert::gui {

inline constexpr const char* NOTIFICATION_SERVICE = "org.freedesktop.Notifications";
inline constexpr const char* NOTIFICATION_PATH = "/org/freedesktop/Notifications";

class TDesktopNotifier {
public:
    enum TRoute { NotShown, Service, TrayIcon };

    TDesktopNotifier();
    ~TDesktopNotifier();
    TRoute Notify(QWidget* parent, const QString& summary, const QString& body);

private:
    bool SendToService(const QString& summary, const QString& body);
    std::unique_ptr<QSystemTrayIcon> tray_;
};

} // namespace mobivert::gui
