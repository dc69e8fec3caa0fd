#include "desktop/desktop_integration.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QStringList>
#include <QVariantMap>
#include <QtGlobal>

#include <cmath>

#include "desktop/app_identity.h"

namespace bl::desktop {

namespace {

// Only a bus that the session announces, or the per-user bus in the runtime
// folder; without one, libdbus would try to launch a bus of its own.
bool sessionBusExpected() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        return true;
    }
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo(runtime + QStringLiteral("/bus")).exists();
}

QString desktopEntry() {
    return QString::fromLatin1(kDesktopEntryName);
}

}  // namespace

DesktopIntegration::DesktopIntegration(QObject* parent) : QObject(parent) {
    connected_ = sessionBusExpected() && QDBusConnection::sessionBus().isConnected();
}

void DesktopIntegration::setProgress(double fraction) {
    const int percent = static_cast<int>(std::lround(qBound(0.0, fraction, 1.0) * 100.0));
    // Whole percents are all a progress bar on a dock can show.
    if (percent == shownPercent_) {
        return;
    }
    shownPercent_ = percent;
    sendLauncherUpdate(percent / 100.0, true);
}

void DesktopIntegration::clearProgress() {
    if (shownPercent_ < 0) {
        return;
    }
    shownPercent_ = -1;
    sendLauncherUpdate(0.0, false);
}

void DesktopIntegration::sendLauncherUpdate(double fraction, bool visible) {
    if (!connected_) {
        return;
    }
    // An object path allows letters, digits and underscores only.
    QString object = desktopEntry();
    object.replace(QLatin1Char('.'), QLatin1Char('_'));
    QDBusMessage update = QDBusMessage::createSignal(
        QStringLiteral("/com/canonical/unity/launcherentry/") + object,
        QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"));
    update << QStringLiteral("application://%1.desktop").arg(desktopEntry())
           << QVariantMap{{QStringLiteral("progress"), fraction},
                          {QStringLiteral("progress-visible"), visible}};
    QDBusConnection::sessionBus().send(update);
}

void DesktopIntegration::notify(const QString& title, const QString& body) {
    if (!connected_) {
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // Application name, no notification to replace, the icon's name in the
    // icon theme, title, body, no actions, the desktop entry for the
    // notification server, its default expiry.
    call << QStringLiteral("Brightleaf") << 0u << QStringLiteral("brightleaf") << title << body
         << QStringList() << QVariantMap{{QStringLiteral("desktop-entry"), desktopEntry()}} << -1;
    // Sent without waiting: a missing notification server must not hold up the
    // window.
    call.setAutoStartService(true);
    QDBusConnection::sessionBus().send(call);
}

}  // namespace bl::desktop
