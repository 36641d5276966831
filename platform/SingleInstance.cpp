#include "platform/SingleInstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>

namespace jw {

namespace {

const QByteArray kShowRequest = "show\n";

QString runtimeFolder(QString directory)
{
    if (directory.isEmpty())
        directory = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return directory.isEmpty() ? QDir::tempPath() : directory;
}

} // namespace

SingleInstance::SingleInstance(const QString& name, QString directory, QObject* parent)
    : QObject(parent)
    , m_socketPath(runtimeFolder(directory) + QLatin1Char('/') + name + QStringLiteral(".socket"))
    , m_lock(runtimeFolder(directory) + QLatin1Char('/') + name + QStringLiteral(".lock"))
{
    // A running copy holds the lock for as long as it runs; only a dead holder makes it stale.
    m_lock.setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

SingleInstance::Role SingleInstance::claim()
{
    if (m_lock.tryLock(0)) {
        listen();
        return Role::primary;
    }
    if (m_lock.error() == QLockFile::LockFailedError)
        return Role::secondary;
    m_errorText = m_lock.error() == QLockFile::PermissionError
                      ? QStringLiteral("no permission to create %1").arg(m_lock.fileName())
                      : QStringLiteral("cannot create %1").arg(m_lock.fileName());
    return Role::unguarded;
}

void SingleInstance::listen()
{
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // Holding the lock, any socket found here is a dead copy's.
    QLocalServer::removeServer(m_socketPath);
    if (!m_server->listen(m_socketPath)) {
        m_errorText = m_server->errorString();
        return;
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = m_server->nextPendingConnection()) {
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            auto read = [this, client] {
                while (client->canReadLine())
                    if (client->readLine() == kShowRequest)
                        Q_EMIT showRequested();
            };
            connect(client, &QLocalSocket::readyRead, this, read);
            read();
        }
    });
}

void SingleInstance::askPrimaryToShow(std::function<void(bool)> done)
{
    tryConnect(kConnectAttempts, std::make_shared<std::function<void(bool)>>(std::move(done)));
}

void SingleInstance::tryConnect(int attemptsLeft, std::shared_ptr<std::function<void(bool)>> done)
{
    auto* socket = new QLocalSocket(this);
    connect(socket, &QLocalSocket::connected, this, [socket] { socket->write(kShowRequest); });
    connect(socket, &QLocalSocket::bytesWritten, this, [socket, done] {
        if (socket->bytesToWrite() > 0)
            return;
        socket->disconnect();
        socket->disconnectFromServer();
        socket->deleteLater();
        (*done)(true);
    });
    connect(socket, &QLocalSocket::errorOccurred, this, [this, socket, attemptsLeft, done] {
        socket->disconnect(this);
        socket->deleteLater();
        if (attemptsLeft <= 1) {
            (*done)(false);
            return;
        }
        QTimer::singleShot(kConnectRetryMs, this, [this, attemptsLeft, done] { tryConnect(attemptsLeft - 1, done); });
    });
    socket->connectToServer(m_socketPath);
}

} // namespace jw
