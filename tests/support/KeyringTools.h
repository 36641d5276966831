#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <optional>

namespace jw::test {

// The secret of the item whose attribute "account" is `account`, read with secret-tool; nothing
// when secret-tool finds none.
std::optional<QByteArray> secretToolLookup(const QString& account);
// How many items carry that account, counted with secret-tool.
int secretToolCount(const QString& account);
// An account name no other test process uses.
QString uniqueAccount(const QString& name);

// A D-Bus session bus of its own (a dbus-daemon child of the test) on which nothing owns the
// Secret Service name, though the standard service files would let it be activated.
class PrivateSessionBus
{
public:
    PrivateSessionBus();
    ~PrivateSessionBus();
    bool isRunning() const { return !m_address.isEmpty(); }
    QByteArray address() const { return m_address; }
    // Whether anything owns `name` on this bus now.
    bool nameHasOwner(const QString& name) const;
    // This process's environment with the session bus set to this one, marked as a bus the test
    // started (so a child may write a keyring on it).
    QProcessEnvironment environment() const;
    // The temporary folder that holds the home, data and runtime folders of what runs on the bus.
    QString folder() const { return m_dir->path(); }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_daemon;
    QByteArray m_address;
};

// The unlock prompts of the keyring on the bus at `busAddress` (gcr-prompter, which that bus
// starts), as a person at the test's X display sees them: waited for, then answered by typing
// the password or cancelled with Escape.
class KeyringPrompts
{
public:
    explicit KeyringPrompts(QByteArray busAddress);
    // The bus of this process, for a child that answers its own prompts.
    static KeyringPrompts ofThisProcess();

    bool shown() const;
    // Wait for a prompt, then unlock with `password` or cancel it; false when no prompt came or
    // it did not go.
    bool answer(const QString& password);
    bool dismiss();

private:
    QString window() const;
    QByteArray m_bus;
};

// A keyring of the test's own: a gnome-keyring-daemon on a private bus holding a login keyring
// with kPassword, its files in a temporary folder. Its unlock prompts (gcr-prompter, started by
// the bus) show on the test's X display, where answerUnlockPrompt types into them as a person
// would. Nothing of the runner's keyring or the user's is touched.
class PrivateKeyring
{
public:
    static inline const QString kPassword = QStringLiteral("jotwarden-private");

    PrivateKeyring();
    ~PrivateKeyring();

    bool isRunning() const;
    // Ends the daemon, its keyrings left on disk, and starts it again on the same bus, as a
    // keyring that starts after the program at log-in.
    void stop();
    bool start();
    const PrivateSessionBus& bus() const { return m_bus; }
    QProcessEnvironment environment() const { return m_bus.environment(); }

    // Locks the login collection the way a screen locker does; no prompt.
    bool lock();
    bool isLocked() const;
    // Whether the keyring daemon still owns its name on the bus.
    bool daemonAlive() const;

    KeyringPrompts prompts() const { return KeyringPrompts(m_bus.address()); }

    // The item's secret through secret-tool on this keyring (which may itself prompt when locked);
    // store writes it as the program does, under the program's schema.
    std::optional<QByteArray> lookup(const QString& account) const;
    // How many items carry the account, locked or not; never prompts.
    int itemCount(const QString& account) const;
    bool store(const QString& account, const QByteArray& secret) const;

private:
    PrivateSessionBus m_bus;
    std::unique_ptr<QProcess> m_daemon;
};

} // namespace jw::test
