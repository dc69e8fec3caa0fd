#include <QApplication>
#include <QFileInfo>
#include <QStringList>

#include "desktop/app_identity.h"
#include "desktop/language.h"
#include "desktop/main_window.h"
#include "desktop/single_instance.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The identity decides where the settings live, so it comes before any window.
    bl::desktop::setApplicationIdentity();
    // The user's language, from the locale (LANGUAGE, LC_ALL, LC_MESSAGES, LANG).
    bl::desktop::installTranslations();

    QStringList files = QCoreApplication::arguments();
    files.removeFirst();
    // The running instance has a working folder of its own.
    for (QString& file : files) {
        file = QFileInfo(file).absoluteFilePath();
    }

    // A second start, such as "Open with" from a file manager, hands its files
    // to the window that is already open.
    bl::desktop::SingleInstance instance;
    if (instance.handOver(files)) {
        return 0;
    }
    instance.listen();

    int exitCode = 0;
    {
        bl::desktop::MainWindow window;
        QObject::connect(&instance, &bl::desktop::SingleInstance::filesHandedOver, &window,
                         [&window](const QStringList& handedOver) {
                             window.bringToFront();
                             if (!handedOver.isEmpty()) {
                                 window.controller().addFiles(handedOver);
                             }
                         });
        window.show();
        // Queued after showing, so that the rows appear in a visible window.
        if (!files.isEmpty()) {
            window.controller().addFiles(files);
        }
        exitCode = app.exec();
    }
    return exitCode;
}
