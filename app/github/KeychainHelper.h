#pragma once

#include "platform/Error.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace jw {

// The error enumeration of the token store, as jw::Error values.
struct KeychainError
{
    static inline const QString kDomain = QStringLiteral("KeychainError");
    static Error saveFailed(int status);
};

// What loading the token came to: the token, or nothing with the keyring's status (notAvailable
// when no keyring runs, interactionNotAllowed when it stayed locked, itemNotFound when none is
// stored).
struct TokenLoad
{
    std::optional<QString> token;
    int status = 0;
};

// The GitHub token in the desktop keyring: one item whose account is
// "com.tallowmere.jot-warden.github-token".
class KeychainHelper
{
public:
    static inline const QString kAccount = QStringLiteral("com.tallowmere.jot-warden.github-token");
    static inline const QString kItemLabel = QStringLiteral("Jot Warden GitHub token");

    // The stored token exactly as saved; nothing when there is none or the keyring cannot give it.
    // Waits as long as an unlock prompt is open: never call it on the GUI thread.
    static std::optional<QString> loadToken();
    // Replaces the stored token in one keyring call; on failure the previous token stays. Waits
    // like loadToken. Both saves store the token as trimmedToken gives it.
    static Expected<Unit> saveToken(const QString& token);
    // The token without the white space (line breaks included) that a paste brings at either end.
    static QString trimmedToken(const QString& text) { return text.trimmed(); }

    // The same on the keyring's own thread, for the GUI thread, which must never wait on the
    // keyring. `waitingForUnlock` comes first when the keyring is locked and its unlock prompt is
    // up; `done` comes last. Both run on the GUI thread, and not at all once `receiver` is gone.
    static void loadTokenInBackground(QObject* receiver,
                                      std::function<void()> waitingForUnlock,
                                      std::function<void(TokenLoad)> done);
    // `done` gets the keyring's status; anything but success is KeychainError::saveFailed(status).
    static void saveTokenInBackground(QObject* receiver,
                                      QString token,
                                      std::function<void()> waitingForUnlock,
                                      std::function<void(int status)> done);

    // Test seam: keep tests that run in parallel off each other's (and the user's) item.
    static void setAccountForTesting(std::optional<QString> account);
    static QString account();
};

} // namespace jw
