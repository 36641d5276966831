#include "tests/support/KeyringTools.h"

#include "platform/keychain/Keychain.h"
#include "tests/support/PrivateSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTest>
#include <QUuid>

namespace jw::test {

namespace {

constexpr int kToolMs = 30000;
constexpr int kPromptMs = 30000;
const QString kSecrets = QStringLiteral("org.freedesktop.secrets");
const QString kPrompter = QStringLiteral("org.gnome.keyring.SystemPrompter");
const QString kLogin = QStringLiteral("/org/freedesktop/secrets/collection/login");

} // namespace

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

// ---- a bus of the test's own ----

PrivateSessionBus::PrivateSessionBus()
    : m_dir(std::make_unique<QTemporaryDir>())
    , m_daemon(std::make_unique<QProcess>())
{
    const QString root = m_dir->path();
    for (const char* sub : {"home", "data", "config", "cache", "run"})
        QDir().mkpath(root + QLatin1Char('/') + QLatin1String(sub));
    QFile::setPermissions(root + QStringLiteral("/run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // What the bus starts on demand (the unlock prompter) lives in this folder too, and brings up
    // neither an accessibility bus nor a settings daemon.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), root + QStringLiteral("/home"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), root + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), root + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), root + QStringLiteral("/cache"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), root + QStringLiteral("/run"));
    env.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
    env.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory"));
    m_daemon->setProcessEnvironment(env);
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

QProcessEnvironment PrivateSessionBus::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromUtf8(m_address));
    env.insert(QString::fromLatin1(kOwnBusMarker), QString::fromUtf8(m_address));
    return env;
}

namespace {

// dbus-send registered on `address` (it must say Hello before the bus answers anything else).
QByteArray busCall(const QByteArray& address, const QStringList& args)
{
    QProcess send;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromUtf8(address));
    send.setProcessEnvironment(env);
    send.setStandardErrorFile(QProcess::nullDevice());
    send.start(QStringLiteral("dbus-send"),
               QStringList{QStringLiteral("--session"), QStringLiteral("--print-reply")} + args);
    if (!send.waitForFinished(kToolMs) || send.exitCode() != 0)
        return {};
    return send.readAllStandardOutput();
}

bool runTool(const QProcessEnvironment& env,
             const QString& program,
             const QStringList& args,
             QByteArray* output = nullptr)
{
    QProcess tool;
    tool.setProcessEnvironment(env);
    tool.setStandardErrorFile(QProcess::nullDevice());
    tool.start(program, args);
    if (!tool.waitForFinished(kToolMs) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        return false;
    if (output)
        *output = tool.readAllStandardOutput();
    return true;
}

bool xdotool(const QStringList& args, QByteArray* output = nullptr)
{
    return runTool(QProcessEnvironment::systemEnvironment(), QStringLiteral("xdotool"), args, output);
}

} // namespace

bool PrivateSessionBus::nameHasOwner(const QString& name) const
{
    return busCall(m_address,
                   {QStringLiteral("--dest=org.freedesktop.DBus"),
                    QStringLiteral("/org/freedesktop/DBus"),
                    QStringLiteral("org.freedesktop.DBus.NameHasOwner"),
                    QStringLiteral("string:") + name})
        .contains("boolean true");
}

// ---- a keyring of the test's own ----

PrivateKeyring::PrivateKeyring()
    : m_daemon(std::make_unique<QProcess>())
{
    (void)start();
}

bool PrivateKeyring::start()
{
    if (!m_bus.isRunning())
        return false;
    // The daemon keeps its keyrings under the data home and its sockets in the runtime folder.
    QProcessEnvironment env = m_bus.environment();
    const QString root = m_bus.folder();
    env.insert(QStringLiteral("HOME"), root + QStringLiteral("/home"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), root + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), root + QStringLiteral("/run"));
    m_daemon->setProcessEnvironment(env);
    m_daemon->setStandardOutputFile(QProcess::nullDevice());
    m_daemon->setStandardErrorFile(QProcess::nullDevice());
    m_daemon->start(
        QStringLiteral("gnome-keyring-daemon"),
        {QStringLiteral("--foreground"), QStringLiteral("--unlock"), QStringLiteral("--components=secrets")});
    if (!m_daemon->waitForStarted(10000))
        return false;
    m_daemon->write(kPassword.toUtf8());
    m_daemon->closeWriteChannel();
    return QTest::qWaitFor([this] { return m_bus.nameHasOwner(kSecrets); }, kToolMs);
}

PrivateKeyring::~PrivateKeyring()
{
    stop();
}

void PrivateKeyring::stop()
{
    if (m_daemon->state() != QProcess::NotRunning) {
        m_daemon->terminate();
        if (!m_daemon->waitForFinished(10000))
            m_daemon->kill();
        m_daemon->waitForFinished(10000);
    }
    (void)QTest::qWaitFor([this] { return !m_bus.nameHasOwner(kSecrets); }, kToolMs);
}

bool PrivateKeyring::isRunning() const
{
    return m_daemon->state() == QProcess::Running && m_bus.nameHasOwner(kSecrets);
}

bool PrivateKeyring::daemonAlive() const
{
    return isRunning();
}

bool PrivateKeyring::lock()
{
    // A new daemon makes its login collection a moment after it takes the bus name; until then
    // there is nothing to lock.
    return QTest::qWaitFor(
        [this] {
            (void)busCall(m_bus.address(),
                          {QStringLiteral("--dest=") + kSecrets,
                           QStringLiteral("/org/freedesktop/secrets"),
                           QStringLiteral("org.freedesktop.Secret.Service.Lock"),
                           QStringLiteral("array:objpath:") + kLogin});
            return isLocked();
        },
        kToolMs);
}

bool PrivateKeyring::isLocked() const
{
    return busCall(m_bus.address(),
                   {QStringLiteral("--dest=") + kSecrets,
                    kLogin,
                    QStringLiteral("org.freedesktop.DBus.Properties.Get"),
                    QStringLiteral("string:org.freedesktop.Secret.Collection"),
                    QStringLiteral("string:Locked")})
        .contains("boolean true");
}

// ---- its prompts ----

KeyringPrompts::KeyringPrompts(QByteArray busAddress)
    : m_bus(std::move(busAddress))
{
}

KeyringPrompts KeyringPrompts::ofThisProcess()
{
    return KeyringPrompts(qgetenv("DBUS_SESSION_BUS_ADDRESS"));
}

QString KeyringPrompts::window() const
{
    const QByteArray reply = busCall(m_bus,
                                     {QStringLiteral("--dest=org.freedesktop.DBus"),
                                      QStringLiteral("/org/freedesktop/DBus"),
                                      QStringLiteral("org.freedesktop.DBus.GetConnectionUnixProcessID"),
                                      QStringLiteral("string:") + kPrompter});
    const qsizetype at = reply.indexOf("uint32");
    if (at < 0)
        return {};
    // Only this bus's prompter: another keyring's prompt may be on the same display.
    QByteArray windows;
    if (!xdotool({QStringLiteral("search"),
                  QStringLiteral("--onlyvisible"),
                  QStringLiteral("--pid"),
                  QString::fromLatin1(reply.mid(at + 6).trimmed())},
                 &windows))
        return {};
    const QList<QByteArray> ids = windows.trimmed().split('\n');
    return QString::fromLatin1(ids.last().trimmed());
}

bool KeyringPrompts::shown() const
{
    return !window().isEmpty();
}

bool KeyringPrompts::answer(const QString& password)
{
    if (!QTest::qWaitFor([this] { return shown(); }, kPromptMs))
        return false;
    // The prompt takes the keyboard once it is up and keys typed before then are lost, so type
    // again, over whatever arrived, until the prompt goes.
    for (int attempt = 0; attempt < 5; ++attempt) {
        xdotool({QStringLiteral("key"), QStringLiteral("ctrl+a"), QStringLiteral("BackSpace")});
        xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("5"), password});
        xdotool({QStringLiteral("key"), QStringLiteral("Return")});
        if (QTest::qWaitFor([this] { return !shown(); }, 10000))
            return true;
    }
    return false;
}

bool KeyringPrompts::dismiss()
{
    if (!QTest::qWaitFor([this] { return shown(); }, kPromptMs))
        return false;
    for (int attempt = 0; attempt < 5; ++attempt) {
        xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
        if (QTest::qWaitFor([this] { return !shown(); }, 10000))
            return true;
    }
    return false;
}

std::optional<QByteArray> PrivateKeyring::lookup(const QString& account) const
{
    QByteArray out;
    if (!runTool(m_bus.environment(),
                 QStringLiteral("secret-tool"),
                 {QStringLiteral("lookup"), QStringLiteral("account"), account},
                 &out))
        return std::nullopt;
    return out;
}

int PrivateKeyring::itemCount(const QString& account) const
{
    QByteArray out;
    if (!runTool(m_bus.environment(),
                 QStringLiteral("secret-tool"),
                 {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("account"), account},
                 &out))
        return 0;
    return static_cast<int>(out.count("\n[/") + (out.startsWith("[/") ? 1 : 0));
}

bool PrivateKeyring::store(const QString& account, const QByteArray& secret) const
{
    QProcess tool;
    tool.setProcessEnvironment(m_bus.environment());
    tool.setStandardErrorFile(QProcess::nullDevice());
    tool.start(QStringLiteral("secret-tool"),
               {QStringLiteral("store"),
                QStringLiteral("--label=Jot Warden test"),
                QStringLiteral("xdg:schema"),
                Keychain::kSchemaName,
                QStringLiteral("account"),
                account});
    if (!tool.waitForStarted(kToolMs))
        return false;
    tool.write(secret);
    tool.closeWriteChannel();
    return tool.waitForFinished(kToolMs) && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}

} // namespace jw::test
