#include "platform/http/JsonDecoder.h"

#include "platform/http/HttpClient.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QVariant>

namespace jw {
namespace {

QString joined(const QString& path, const QString& key)
{
    return path.isEmpty() ? key : path + QLatin1Char('.') + key;
}

} // namespace

JsonDecoder::JsonDecoder(const QByteArray& body)
{
    if (body.isEmpty()) {
        m_failure = QStringLiteral("Response could not be serialized, input data was nil or zero length.");
        return;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        fail(QStringLiteral("the data is not valid JSON (%1 at offset %2).")
                 .arg(parseError.errorString(), QString::number(parseError.offset)));
        return;
    }
    if (!document.isObject()) {
        fail(QStringLiteral("the top-level value is not a JSON object."));
        return;
    }
    m_root = document.object();
}

void JsonDecoder::fail(const QString& reason)
{
    if (!m_failure)
        m_failure = QStringLiteral("Response could not be decoded because of error: ") + reason;
}

Error JsonDecoder::error(std::optional<int> responseCode) const
{
    return HttpClient::makeError(HttpErrorCase::responseSerializationFailed,
                                 m_failure.value_or(QString()),
                                 responseCode);
}

std::optional<QJsonValue>
JsonDecoder::member(const QJsonObject& parent, const QString& key, const QString& path, bool required)
{
    if (m_failure)
        return std::nullopt;
    const auto it = parent.constFind(key);
    if (it == parent.constEnd() || it->isNull()) {
        if (required)
            fail(it == parent.constEnd()
                     ? QStringLiteral("no value for the required member \"%1\".").arg(joined(path, key))
                     : QStringLiteral("the required member \"%1\" is null.").arg(joined(path, key)));
        return std::nullopt;
    }
    return *it;
}

std::optional<QJsonObject>
JsonDecoder::requiredObject(const QJsonObject& parent, const QString& key, const QString& path)
{
    auto value = member(parent, key, path, true);
    if (!value)
        return std::nullopt;
    return objectElement(*value, joined(path, key));
}

std::optional<QJsonObject>
JsonDecoder::optionalObject(const QJsonObject& parent, const QString& key, const QString& path)
{
    auto value = member(parent, key, path, false);
    if (!value)
        return std::nullopt;
    return objectElement(*value, joined(path, key));
}

std::optional<QJsonArray>
JsonDecoder::array(const QJsonObject& parent, const QString& key, const QString& path, bool required)
{
    auto value = member(parent, key, path, required);
    if (!value)
        return std::nullopt;
    if (!value->isArray()) {
        fail(QStringLiteral("the member \"%1\" is not an array.").arg(joined(path, key)));
        return std::nullopt;
    }
    return value->toArray();
}

std::optional<QJsonArray> JsonDecoder::requiredArray(const QJsonObject& parent, const QString& key, const QString& path)
{
    return array(parent, key, path, true);
}

std::optional<QJsonArray> JsonDecoder::optionalArray(const QJsonObject& parent, const QString& key, const QString& path)
{
    return array(parent, key, path, false);
}

std::optional<QString> JsonDecoder::requiredString(const QJsonObject& parent, const QString& key, const QString& path)
{
    auto value = member(parent, key, path, true);
    if (!value)
        return std::nullopt;
    if (!value->isString()) {
        fail(QStringLiteral("the member \"%1\" is not a string.").arg(joined(path, key)));
        return std::nullopt;
    }
    return value->toString();
}

std::optional<qint64> JsonDecoder::requiredInt64(const QJsonObject& parent, const QString& key, const QString& path)
{
    auto value = member(parent, key, path, true);
    if (!value)
        return std::nullopt;
    // The parser keeps whole numbers that fit in 64 bits as integers and everything else as double.
    const QVariant number = value->toVariant();
    if (!value->isDouble() || number.typeId() != QMetaType::LongLong) {
        fail(QStringLiteral("the member \"%1\" is not a 64-bit integer.").arg(joined(path, key)));
        return std::nullopt;
    }
    return number.toLongLong();
}

std::optional<QJsonObject> JsonDecoder::objectElement(const QJsonValue& element, const QString& path)
{
    if (m_failure)
        return std::nullopt;
    if (!element.isObject()) {
        fail(element.isNull() ? QStringLiteral("the value at \"%1\" is null where an object is required.").arg(path)
                              : QStringLiteral("the value at \"%1\" is not an object.").arg(path));
        return std::nullopt;
    }
    return element.toObject();
}

} // namespace jw
