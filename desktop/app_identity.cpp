#include "desktop/app_identity.h"

#include <QCoreApplication>
#include <QGuiApplication>

namespace bl::desktop {

void setApplicationIdentity() {
    QCoreApplication::setOrganizationName(QStringLiteral("Brightleaf"));
    QCoreApplication::setApplicationName(QStringLiteral("Brightleaf"));
    // The display name is deliberately not set: it already follows the
    // application name ("Brightleaf"), and once set explicitly, Qt appends it to
    // every window title on X11 and Wayland, which doubles the main window's
    // title and cuts short the titles of the dialogs.
    QCoreApplication::setApplicationVersion(QStringLiteral("0.1.0"));
    QGuiApplication::setQuitOnLastWindowClosed(true);
    // Lets the window manager, docks and notifications match the window to the
    // installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopEntryName));
    QGuiApplication::setWindowIcon(applicationIcon());
}

QIcon applicationIcon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/brightleaf/icons/%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

}  // namespace bl::desktop
