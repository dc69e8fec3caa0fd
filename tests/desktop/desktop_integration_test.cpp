#include "desktop/desktop_integration.h"

#include <QDBusConnection>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTest>
#include <QVariantMap>

#include "tests/desktop/desktop_test_helpers.h"

namespace bl::desktop {

// Stands in for the desktop's notification server and records each call.
class NotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

  public:
    QStringList calls;

  public slots:
    uint Notify(const QString& application, uint replaces, const QString& icon,
                const QString& title, const QString& body, const QStringList& actions,
                const QVariantMap& hints, int timeout) {
        calls.append(QStringList{application, QString::number(replaces), icon, title, body,
                                 actions.join(','), hints.value("desktop-entry").toString(),
                                 QString::number(timeout)}
                         .join('|'));
        return 1;
    }
};

// Listens to what docks and panels hear from the launcher entry.
class LauncherListener : public QObject {
    Q_OBJECT

  public:
    QStringList updates;

  public slots:
    void update(const QString& application, const QVariantMap& properties) {
        updates.append(
            QStringLiteral("%1 %2 %3")
                .arg(application, properties.value("progress").toString(),
                     properties.value("progress-visible").toBool() ? "shown" : "hidden"));
    }
};

class DesktopIntegrationTest : public QObject {
    Q_OBJECT

  private:
    QProcess bus_;

  private slots:
    void withoutABusNothingIsSent() {
        const test::TempDir runtime;
        qputenv("XDG_RUNTIME_DIR", runtime.path().c_str());
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        DesktopIntegration integration;
        QVERIFY(!integration.isConnected());
        integration.setProgress(0.5);
        integration.notify("title", "body");
    }

    // On a session bus of its own, exactly what a dock and a notification
    // server receive.
    void progressAndNotificationReachTheBus() {
        bus_.start("dbus-daemon", {"--session", "--nofork", "--print-address"});
        QVERIFY2(bus_.waitForStarted() && bus_.waitForReadyRead(), "dbus-daemon did not start");
        const QString address = QString::fromUtf8(bus_.readLine()).trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());

        QDBusConnection desktop = QDBusConnection::connectToBus(address, "desktop");
        NotificationServer server;
        LauncherListener listener;
        QVERIFY(desktop.registerService("org.freedesktop.Notifications"));
        QVERIFY(desktop.registerObject("/org/freedesktop/Notifications", &server,
                                       QDBusConnection::ExportAllSlots));
        QVERIFY(desktop.connect(QString(), QString(), "com.canonical.Unity.LauncherEntry", "Update",
                                &listener, SLOT(update(QString, QVariantMap))));

        DesktopIntegration integration;
        QVERIFY(integration.isConnected());
        integration.setProgress(0.25);
        // Within the same whole percent: nothing new to show.
        integration.setProgress(0.254);
        integration.setProgress(1.0);
        integration.clearProgress();
        integration.notify("Conversion finished", "1 file converted. 1 image saved.");

        const QString entry = QStringLiteral("application://org.brightleaf.Brightleaf.desktop");
        QTRY_COMPARE(listener.updates,
                     (QStringList{entry + " 0.25 shown", entry + " 1 shown", entry + " 0 hidden"}));
        QTRY_COMPARE(server.calls,
                     QStringList{"Brightleaf|0|brightleaf|Conversion finished|1 file converted. 1 "
                                 "image saved.||org.brightleaf.Brightleaf|-1"});
        QDBusConnection::disconnectFromBus("desktop");
    }

    void cleanupTestCase() {
        bus_.kill();
        bus_.waitForFinished();
    }
};

}  // namespace bl::desktop

QTEST_MAIN(bl::desktop::DesktopIntegrationTest)
#include "desktop_integration_test.moc"
