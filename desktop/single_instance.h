// One window per user: a second start hands its files to the running instance
// over a local socket and ends; the running one queues them and comes to the
// front.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <QStringList>

namespace bl::desktop {

class SingleInstance : public QObject {
    Q_OBJECT

  public:
    // `serverName` is the socket's path; by default one per user in the
    // runtime folder.
    explicit SingleInstance(QString serverName = defaultServerName(), QObject* parent = nullptr);
    ~SingleInstance() override;

    static QString defaultServerName();

    // Hands the files (absolute paths; possibly none, which only raises the
    // window) to a running instance. True when one took them.
    bool handOver(const QStringList& files, int timeoutMs = 3000) const;

    // Becomes the instance that later starts hand their files to. False when
    // the socket cannot be made; the program then runs on its own.
    bool listen();

  signals:
    void filesHandedOver(const QStringList& files);

  private:
    void acceptConnection();

    QString name_;
    QLocalServer server_;
};

}  // namespace bl::desktop
