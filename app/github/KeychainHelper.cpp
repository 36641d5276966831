#include "app/github/KeychainHelper.h"

#include "platform/MainQueue.h"
#include "platform/keychain/Keychain.h"

#include <QPointer>
#include <QStringDecoder>
#include <QStringEncoder>

namespace jw {
namespace {

std::optional<QString> gAccountOverride;

// Kept exactly as stored: a leading byte-order mark is part of the text, not dropped.
std::optional<QString> decodeToken(const QByteArray& data)
{
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString token = decoder(data);
    if (decoder.hasError())
        return std::nullopt;
    return token;
}

// A QString may hold lone surrogates, which have no UTF-8 form; such a token is refused rather
// than stored as a different one.
std::optional<QByteArray> encodeToken(const QString& token)
{
    QStringEncoder encoder(QStringEncoder::Utf8, QStringEncoder::Flag::Stateless);
    QByteArray data = encoder(token);
    if (encoder.hasError())
        return std::nullopt;
    return data;
}

// Hands `fn` to the GUI thread, where it runs if `receiver` still exists. Called on the keyring
// thread, which only copies the guard, never reads it.
template <typename F>
void toReceiver(const QPointer<QObject>& receiver, F fn)
{
    if (!QCoreApplication::instance())
        return;
    runOnMain([receiver, fn = std::move(fn)]() mutable {
        if (receiver)
            fn();
    });
}

} // namespace

Error KeychainError::saveFailed(int status)
{
    const QString number = QString::number(status);
    return Error{kDomain,
                 QStringLiteral("saveFailed"),
                 QStringLiteral("Keychain save failed with status: ") + number,
                 QStringLiteral("saveFailed(%1)").arg(number),
                 std::nullopt};
}

QString KeychainHelper::account()
{
    return gAccountOverride.value_or(kAccount);
}

void KeychainHelper::setAccountForTesting(std::optional<QString> account)
{
    gAccountOverride = std::move(account);
}

std::optional<QString> KeychainHelper::loadToken()
{
    const Keychain::Lookup lookup = Keychain::copyMatching(account());
    if (lookup.status != KeychainStatus::success)
        return std::nullopt;
    return decodeToken(lookup.data);
}

Expected<Unit> KeychainHelper::saveToken(const QString& token)
{
    const std::optional<QByteArray> data = encodeToken(trimmedToken(token));
    if (!data)
        return KeychainError::saveFailed(KeychainStatus::param);
    const int status = Keychain::store(account(), *data, kItemLabel);
    if (status != KeychainStatus::success)
        return KeychainError::saveFailed(status);
    return Unit{};
}

void KeychainHelper::loadTokenInBackground(QObject* receiver,
                                           std::function<void()> waitingForUnlock,
                                           std::function<void(TokenLoad)> done)
{
    const QPointer<QObject> guard(receiver);
    Keychain::runInBackground([guard, waitingForUnlock, done, name = account()] {
        const int probed = Keychain::probe(name);
        if (probed == KeychainStatus::notAvailable || probed == KeychainStatus::itemNotFound) {
            toReceiver(guard, [done, probed] { done(TokenLoad{std::nullopt, probed}); });
            return;
        }
        const bool locked = probed == KeychainStatus::interactionRequired;
        if (locked)
            toReceiver(guard, waitingForUnlock);
        const Keychain::Lookup lookup = Keychain::copyMatching(name);
        TokenLoad load{std::nullopt, lookup.status};
        if (lookup.status == KeychainStatus::success)
            load.token = decodeToken(lookup.data);
        else if (locked && lookup.status != KeychainStatus::notAvailable)
            load.status = KeychainStatus::interactionNotAllowed; // the prompt was dismissed
        toReceiver(guard, [done, load] { done(load); });
    });
}

void KeychainHelper::saveTokenInBackground(QObject* receiver,
                                           QString token,
                                           std::function<void()> waitingForUnlock,
                                           std::function<void(int status)> done)
{
    const QPointer<QObject> guard(receiver);
    Keychain::runInBackground([guard, token = std::move(token), waitingForUnlock, done, name = account()] {
        int status = KeychainStatus::param;
        if (const std::optional<QByteArray> data = encodeToken(trimmedToken(token))) {
            status = Keychain::probeStore();
            if (status == KeychainStatus::interactionRequired)
                toReceiver(guard, waitingForUnlock);
            if (status != KeychainStatus::notAvailable)
                status = Keychain::store(name, *data, kItemLabel);
        }
        toReceiver(guard, [done, status] { done(status); });
    });
}

} // namespace jw
