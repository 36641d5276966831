#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>

namespace jw {

// OSStatus-like results of the keyring calls: 0 for success, the platform's negative codes for
// failures.
namespace KeychainStatus {
inline constexpr int success = 0;
inline constexpr int param = -50;
inline constexpr int notAvailable = -25291; // no Secret Service on the session bus
inline constexpr int duplicateItem = -25299;
inline constexpr int itemNotFound = -25300;
inline constexpr int interactionNotAllowed = -25308; // locked, prompt dismissed, or no answer in time
inline constexpr int internalComponent = -26276;
} // namespace KeychainStatus

// Generic-password items in the Secret Service (gnome-keyring, KWallet) through libsecret: items
// of the schema "com.tallowmere.jot-warden" in the default collection, told apart by the
// attribute "account". Calls are synchronous. A service that is not running is reported as
// notAvailable at once: it is never auto-started, since a freshly started keyring comes up locked
// and would wait for a password prompt. A call that gets no answer within the deadline is
// cancelled.
class Keychain
{
public:
    static inline const QString kSchemaName = QStringLiteral("com.tallowmere.jot-warden");
    static constexpr std::chrono::milliseconds kCallDeadline{10'000};

    struct Lookup
    {
        int status = KeychainStatus::itemNotFound;
        QByteArray data;
    };

    static Lookup copyMatching(const QString& account);
    // Stores `data` under `account`, replacing the item that holds it in one call, so a failure
    // leaves the previous item as it was.
    static int store(const QString& account, const QByteArray& data, const QString& label);
    // itemNotFound when there was nothing to delete.
    static int deleteItem(const QString& account);
};

} // namespace jw
