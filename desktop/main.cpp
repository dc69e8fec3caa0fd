#include <QApplication>
#include <QStringList>

#include "desktop/main_window.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The identity decides where the settings live, so it comes before any window.
    QCoreApplication::setOrganizationName(QStringLiteral("Brightleaf"));
    QCoreApplication::setApplicationName(QStringLiteral("Brightleaf"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Brightleaf"));
    QCoreApplication::setApplicationVersion(QStringLiteral("0.1.0"));
    QGuiApplication::setQuitOnLastWindowClosed(true);

    QStringList files = QCoreApplication::arguments();
    files.removeFirst();

    int exitCode = 0;
    {
        bl::desktop::MainWindow window;
        window.show();
        // Queued after showing, so that the rows appear in a visible window.
        if (!files.isEmpty()) {
            window.controller().addFiles(files);
        }
        exitCode = app.exec();
    }
    return exitCode;
}
