#include "tests/support/KeyringTools.h"

#include <QCoreApplication>
#include <QUuid>

namespace jw::test {

std::optional<QByteArray> secretToolLookup(const QString& account)
{
    QProcess tool;
    tool.start(QStringLiteral("secret-tool"), {QStringLiteral("lookup"), QStringLiteral("account"), account});
    if (!tool.waitForFinished(10000) || tool.exitCode() != 0)
        return std::nullopt;
    return tool.readAllStandardOutput();
}

int secretToolCount(const QString& account)
{
    QProcess tool;
    tool.start(QStringLiteral("secret-tool"),
               {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("account"), account});
    if (!tool.waitForFinished(10000))
        return -1;
    int count = 0;
    for (const QByteArray& line : tool.readAllStandardOutput().split('\n'))
        if (line.startsWith("[/"))
            ++count;
    return count;
}

QString uniqueAccount(const QString& name)
{
    return QStringLiteral("com.tallowmere.jot-warden.test.%1.%2")
        .arg(name, QUuid::createUuid().toString(QUuid::WithoutBraces));
}

PrivateSessionBus::PrivateSessionBus()
    : m_daemon(std::make_unique<QProcess>())
{
    m_daemon->setProcessChannelMode(QProcess::SeparateChannels);
    m_daemon->setStandardErrorFile(QProcess::nullDevice());
    m_daemon->start(QStringLiteral("dbus-daemon"),
                    {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    if (!m_daemon->waitForStarted(10000))
        return;
    while (!m_daemon->canReadLine() && m_daemon->waitForReadyRead(10000)) {
    }
    m_address = m_daemon->readLine().trimmed();
}

PrivateSessionBus::~PrivateSessionBus()
{
    if (m_daemon->state() != QProcess::NotRunning) {
        m_daemon->kill();
        m_daemon->waitForFinished(10000);
    }
}

bool PrivateSessionBus::nameHasOwner(const QString& name) const
{
    QProcess send;
    send.start(QStringLiteral("dbus-send"),
               {QStringLiteral("--address=") + QString::fromUtf8(m_address),
                QStringLiteral("--print-reply"),
                QStringLiteral("--dest=org.freedesktop.DBus"),
                QStringLiteral("/org/freedesktop/DBus"),
                QStringLiteral("org.freedesktop.DBus.NameHasOwner"),
                QStringLiteral("string:") + name});
    send.waitForFinished(10000);
    return send.readAllStandardOutput().contains("boolean true");
}

} // namespace jw::test
