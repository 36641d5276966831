#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>

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

private:
    std::unique_ptr<QProcess> m_daemon;
    QByteArray m_address;
};

} // namespace jw::test
