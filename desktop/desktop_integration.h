// What the desktop around the window shows of a run: the progress on the
// window's launcher entry (the interface docks and panels read), and a
// notification when a run ends unseen. Both go over the session's D-Bus and
// quietly do nothing where there is no session bus or nobody listens.
#pragma once

#include <QObject>
#include <QString>

namespace bl::desktop {

class DesktopIntegration : public QObject {
    Q_OBJECT

  public:
    explicit DesktopIntegration(QObject* parent = nullptr);

    // The whole run's progress, from 0 to 1, on the launcher entry.
    void setProgress(double fraction);
    // Takes the progress off the launcher entry.
    void clearProgress();
    // A desktop notification from this application.
    void notify(const QString& title, const QString& body);

    // Whether a session bus was found; without one every call above does nothing.
    bool isConnected() const { return connected_; }

  private:
    void sendLauncherUpdate(double fraction, bool visible);

    bool connected_ = false;
    int shownPercent_ = -1;
};

}  // namespace bl::desktop
