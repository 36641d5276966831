#include "platform/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTimer>

namespace jw {

namespace {

const QByteArray kShowRequest = "show\n";

// The user's runtime folder is private to them when Qt finds it usable; without one the socket
// sits beside the lock, never under a fixed name in the shared temporary folder. The name carries
// the lock's path, so copies of different stores that share a runtime folder keep apart.
QString socketPathFor(const QString& lockPath, const QString& name)
{
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty())
        return QFileInfo(lockPath).absolutePath() + QLatin1Char('/') + name + QStringLiteral(".socket");
    const QByteArray key =
        QCryptographicHash::hash(QFileInfo(lockPath).absoluteFilePath().toUtf8(), QCryptographicHash::Sha256)
            .toHex()
            .left(16);
    return runtime + QLatin1Char('/') + name + QLatin1Char('-') + QString::fromLatin1(key) + QStringLiteral(".socket");
}

} // namespace

SingleInstance::SingleInstance(const QString& name, const QString& lockDirectory, QObject* parent)
    : QObject(parent)
    , m_name(name)
    , m_lockDirectory(lockDirectory)
    , m_addressPath(lockDirectory + QLatin1Char('/') + name + QStringLiteral(".address"))
    , m_lock(lockDirectory + QLatin1Char('/') + name + QStringLiteral(".lock"))
{
    // A running copy holds the lock for as long as it runs; only a dead holder makes it stale.
    m_lock.setStaleLockTime(0);
}

SingleInstance::~SingleInstance()
{
    // Still holding the lock, so the address is ours.
    if (m_server && m_server->isListening())
        QFile::remove(m_addressPath);
}

SingleInstance::Role SingleInstance::claim()
{
    // At the first launch the store's folder does not exist yet.
    if (!QDir().mkpath(m_lockDirectory)) {
        m_errorText = QStringLiteral("cannot create the folder %1").arg(m_lockDirectory);
        return Role::unguarded;
    }
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
    const QString socketPath = socketPathFor(m_lock.fileName(), m_name);
    // Holding the lock, any socket or address found is a dead copy's.
    QFile::remove(m_addressPath);
    QLocalServer::removeServer(socketPath);
    if (!m_server->listen(socketPath)) {
        m_errorText = m_server->errorString();
        return;
    }
    // Written whole or not at all: a later launch may read it at any moment.
    QSaveFile address(m_addressPath);
    if (!address.open(QIODevice::WriteOnly) || address.write(socketPath.toUtf8()) < 0 || !address.commit()) {
        m_errorText = QStringLiteral("cannot write %1").arg(m_addressPath);
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
    // Read at each attempt: a copy that has just taken the lock may not have written it yet.
    QFile address(m_addressPath);
    socket->connectToServer(address.open(QIODevice::ReadOnly) ? QString::fromUtf8(address.readAll()) : QString());
}

} // namespace jw
