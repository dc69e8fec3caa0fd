#include "desktop/single_instance.h"

#include <QDataStream>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>

#include <utility>

namespace bl::desktop {

namespace {

// First in every hand-over, so that a stray client cannot pass for one.
constexpr quint32 kMagic = 0x424C4831;  // "BLH1"
constexpr char kAck = 'k';
// Far more than any "Open with" hands over, small enough to refuse garbage.
constexpr qint64 kMaxMessageBytes = 4 * 1024 * 1024;

}  // namespace

SingleInstance::SingleInstance(QString serverName, QObject* parent)
    : QObject(parent), name_(std::move(serverName)) {
    connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::acceptConnection);
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultServerName() {
    // The runtime folder belongs to the user alone (mode 0700), so nobody
    // else can take the name or talk to the socket.
    return QDir(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation))
        .filePath(QStringLiteral("brightleaf.socket"));
}

bool SingleInstance::handOver(const QStringList& files, int timeoutMs) const {
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (!socket.waitForConnected(timeoutMs)) {
        return false;
    }
    QByteArray message;
    {
        QDataStream out(&message, QIODevice::WriteOnly);
        out.setVersion(QDataStream::Qt_6_4);
        out << kMagic << files;
    }
    QByteArray framed;
    {
        QDataStream out(&framed, QIODevice::WriteOnly);
        out.setVersion(QDataStream::Qt_6_4);
        out << message;
    }
    socket.write(framed);
    if (!socket.waitForBytesWritten(timeoutMs)) {
        return false;
    }
    // Only an answer says the files were taken: a hung instance must not
    // swallow them.
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(timeoutMs)) {
            return false;
        }
    }
    char ack = 0;
    return socket.getChar(&ack) && ack == kAck;
}

bool SingleInstance::listen() {
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    if (server_.listen(name_)) {
        return true;
    }
    if (server_.serverError() != QAbstractSocket::AddressInUseError) {
        return false;
    }
    // Another instance may have started at the same moment; only a socket
    // nobody answers on is left over from one that ended abnormally.
    QLocalSocket probe;
    probe.connectToServer(name_);
    if (probe.waitForConnected(500)) {
        return false;
    }
    QLocalServer::removeServer(name_);
    return server_.listen(name_);
}

void SingleInstance::acceptConnection() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            QDataStream in(socket);
            in.setVersion(QDataStream::Qt_6_4);
            in.startTransaction();
            QByteArray message;
            in >> message;
            if (!in.commitTransaction()) {
                if (socket->bytesAvailable() > kMaxMessageBytes) {
                    socket->abort();
                }
                return;
            }
            QDataStream body(message);
            body.setVersion(QDataStream::Qt_6_4);
            quint32 magic = 0;
            QStringList files;
            body >> magic >> files;
            if (body.status() != QDataStream::Ok || magic != kMagic) {
                socket->abort();
                return;
            }
            socket->putChar(kAck);
            socket->disconnectFromServer();
            emit filesHandedOver(files);
        });
    }
}

}  // namespace bl::desktop
