#include "app/models/AppSettings.h"

namespace jw {

AppSettings::AppSettings(bool isWatchingEnabled)
    : m_isWatchingEnabled(isWatchingEnabled)
    , m_createdAt(QDateTime::currentDateTimeUtc())
{
}

const store::EntityDescription& AppSettings::entityDescription()
{
    using store::ColumnType;
    static const store::EntityDescription e{
        QStringLiteral("AppSettings"),
        {{QStringLiteral("isWatchingEnabled"), ColumnType::Boolean}, {QStringLiteral("createdAt"), ColumnType::Date}},
        {}};
    return e;
}

QVariantList AppSettings::values() const
{
    return {m_isWatchingEnabled, m_createdAt};
}

void AppSettings::setValues(const QVariantList& v)
{
    m_isWatchingEnabled = v.value(0).toBool();
    m_createdAt = v.value(1).toDateTime();
}

void AppSettings::setIsWatchingEnabled(bool value)
{
    m_isWatchingEnabled = value;
    didChange();
}

} // namespace jw
