#pragma once

#include "platform/Error.h"

#include <QString>

#include <optional>

namespace jw {

// The error enumeration of the token store, as jw::Error values.
struct KeychainError
{
    static inline const QString kDomain = QStringLiteral("KeychainError");
    static Error saveFailed(int status);
};

// The GitHub token in the desktop keyring: one item whose account is
// "com.tallowmere.jot-warden.github-token".
class KeychainHelper
{
public:
    static inline const QString kAccount = QStringLiteral("com.tallowmere.jot-warden.github-token");
    static inline const QString kItemLabel = QStringLiteral("Jot Warden GitHub token");

    // The stored token exactly as saved; nothing when there is none or the keyring cannot give it.
    static std::optional<QString> loadToken();
    // Replaces the stored token in one keyring call; on failure the previous token stays.
    static Expected<Unit> saveToken(const QString& token);

    // Test seam: keep tests that run in parallel off each other's (and the user's) item.
    static void setAccountForTesting(std::optional<QString> account);
    static QString account();
};

} // namespace jw
