#pragma once

#include "platform/Error.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace jw {

// Strict reading of a JSON response body into typed records. A member read as required must be
// present, not null and of the right type; one read as optional may be missing or null (both
// mean absent) but not of another type. Integers must be whole JSON numbers within 64 bits. The
// first failure is kept and every later read returns nothing, so a decode function can read on
// and check ok() once.
class JsonDecoder
{
public:
    // Parses `body` as one JSON object.
    explicit JsonDecoder(const QByteArray& body);

    const QJsonObject& root() const { return m_root; }

    // `path` names the parent in failure messages ("data.user"); empty for the root.
    std::optional<QJsonObject> requiredObject(const QJsonObject& parent, const QString& key, const QString& path);
    std::optional<QJsonObject> optionalObject(const QJsonObject& parent, const QString& key, const QString& path);
    std::optional<QJsonArray> requiredArray(const QJsonObject& parent, const QString& key, const QString& path);
    std::optional<QJsonArray> optionalArray(const QJsonObject& parent, const QString& key, const QString& path);
    std::optional<QString> requiredString(const QJsonObject& parent, const QString& key, const QString& path);
    std::optional<qint64> requiredInt64(const QJsonObject& parent, const QString& key, const QString& path);
    // An element of an array that must be an object.
    std::optional<QJsonObject> objectElement(const QJsonValue& element, const QString& path);

    bool ok() const { return !m_failure; }
    // The decoding failure as an error of the HTTP layer, with the response's status.
    Error error(std::optional<int> responseCode) const;

private:
    std::optional<QJsonValue> member(const QJsonObject& parent, const QString& key, const QString& path, bool required);
    std::optional<QJsonArray> array(const QJsonObject& parent, const QString& key, const QString& path, bool required);
    void fail(const QString& reason);

    QJsonObject m_root;
    std::optional<QString> m_failure;
};

} // namespace jw
