#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

namespace jw {

// OSStatus-like results of the keyring calls: 0 for success, the platform's negative codes for
// failures.
namespace KeychainStatus {
inline constexpr int success = 0;
inline constexpr int param = -50;
inline constexpr int notAvailable = -25291; // no Secret Service on the session bus
inline constexpr int duplicateItem = -25299;
inline constexpr int itemNotFound = -25300;
inline constexpr int interactionNotAllowed = -25308; // locked, and the unlock prompt was dismissed
inline constexpr int interactionRequired = -25315;   // locked: the call would raise an unlock prompt
inline constexpr int internalComponent = -26276;
} // namespace KeychainStatus

// Generic-password items in the Secret Service (gnome-keyring, KWallet) through libsecret: items
// of the schema "com.tallowmere.jot-warden" in the default collection, told apart by the
// attribute "account".
//
// The calls are synchronous, and one that meets a locked keyring raises the desktop's unlock
// prompt and waits as long as the user takes to answer it. A pending prompt is never cancelled:
// cancelling one can take the keyring daemon down with it. So the GUI thread never makes these
// calls itself; it hands them to runInBackground. A service that is not running is reported as
// notAvailable at once: it is never auto-started, since a freshly started keyring comes up locked.
class Keychain
{
public:
    static inline const QString kSchemaName = QStringLiteral("com.tallowmere.jot-warden");

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

    // What copyMatching would meet, without a prompt and without reading the secret: success
    // (an unlocked item), itemNotFound, interactionRequired (only locked items), notAvailable.
    static int probe(const QString& account);
    // What store would meet: success, interactionRequired (the default collection is locked or
    // must first be created behind a prompt), notAvailable.
    static int probeStore();

    // Calls `appeared` once, on the GUI thread, when something takes the Secret Service's name on
    // the session bus, or soon when it already has it (once for each owner of the name); never
    // once `receiver` is gone. Nothing happens without a session bus.
    static void whenServiceAppears(QObject* receiver, std::function<void()> appeared);

    // Runs `work` on the keyring's own thread, after every call handed over before it. That
    // thread lives as long as the process: a call may be waiting on a prompt when the program
    // ends.
    static void runInBackground(std::function<void()> work);
};

} // namespace jw
