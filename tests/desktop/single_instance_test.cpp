#include "desktop/single_instance.h"

#include <QDir>
#include <QProcess>

#include "tests/desktop/desktop_test_helpers.h"

namespace bl::desktop {

using namespace test_helpers;

class SingleInstanceTest : public QObject {
    Q_OBJECT

  private slots:
    // The program itself, started without a display while an instance listens:
    // it hands its files over and ends.
    void secondStartHandsItsFilesOver() {
        Fixtures files;
        const QString runtime = qpath(files.dir / "run");
        QVERIFY(QDir().mkdir(runtime));
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QString socket = runtime + QStringLiteral("/brightleaf.socket");
        files.pdf("a.pdf");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", runtime);
        environment.insert("XDG_CONFIG_HOME", qpath(files.dir / "config"));
        environment.remove("DBUS_SESSION_BUS_ADDRESS");
        SingleInstance running(socket);
        QVERIFY(running.listen());
        QSignalSpy handedOver(&running, &SingleInstance::filesHandedOver);
        QProcess second;
        second.setProcessEnvironment(environment);
        second.setWorkingDirectory(qpath(files.dir.path()));
        second.start(QStringLiteral(BL_DESKTOP_EXE), {"a.pdf"});
        QVERIFY(second.waitForStarted());
        // This process answers from its event loop, so wait without blocking it.
        QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, kTimeoutMs);
        QCOMPARE(second.exitStatus() + second.exitCode(), 0);
        // Absolute, since the running window has a working folder of its own.
        QCOMPARE(handedOver, QList<QVariantList>{{QStringList{qpath(files.dir / "a.pdf")}}});
    }
};

}  // namespace bl::desktop

QTEST_MAIN(bl::desktop::SingleInstanceTest)
#include "single_instance_test.moc"
