#include "app/github/KeychainHelper.h"

#include "platform/keychain/Keychain.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace jw {
namespace {
std::optional<QString> gAccountOverride;
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
    // Kept exactly as stored: a leading byte-order mark is part of the text, not dropped.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString token = decoder(lookup.data);
    if (decoder.hasError())
        return std::nullopt;
    return token;
}

Expected<Unit> KeychainHelper::saveToken(const QString& token)
{
    // A QString may hold lone surrogates, which have no UTF-8 form; refuse rather than store a
    // different token.
    QStringEncoder encoder(QStringEncoder::Utf8, QStringEncoder::Flag::Stateless);
    const QByteArray data = encoder(token);
    if (encoder.hasError())
        return KeychainError::saveFailed(KeychainStatus::param);
    const int status = Keychain::store(account(), data, kItemLabel);
    if (status != KeychainStatus::success)
        return KeychainError::saveFailed(status);
    return Unit{};
}

} // namespace jw
