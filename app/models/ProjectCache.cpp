#include "app/models/ProjectCache.h"

namespace jw {

ProjectCache::ProjectCache(const QString& projectNodeId,
                           const QString& displayName,
                           const QString& owner,
                           bool isV2,
                           const QString& projectURL,
                           const QDateTime& cachedAt)
    : m_projectNodeId(projectNodeId)
    , m_displayName(displayName)
    , m_owner(owner)
    , m_isV2(isV2)
    , m_projectURL(projectURL)
    , m_cachedAt(cachedAt)
{
}

const store::EntityDescription& ProjectCache::entityDescription()
{
    using store::ColumnType;
    static const store::EntityDescription e{QStringLiteral("ProjectCache"),
                                            {{QStringLiteral("projectNodeId"), ColumnType::Text},
                                             {QStringLiteral("displayName"), ColumnType::Text},
                                             {QStringLiteral("owner"), ColumnType::Text},
                                             {QStringLiteral("isV2"), ColumnType::Boolean},
                                             {QStringLiteral("projectURL"), ColumnType::Text},
                                             {QStringLiteral("cachedAt"), ColumnType::Date}},
                                            QStringLiteral("projectNodeId")};
    return e;
}

QVariantList ProjectCache::values() const
{
    return {m_projectNodeId, m_displayName, m_owner, m_isV2, m_projectURL, m_cachedAt};
}

void ProjectCache::setValues(const QVariantList& v)
{
    m_projectNodeId = v.value(0).toString();
    m_displayName = v.value(1).toString();
    m_owner = v.value(2).toString();
    m_isV2 = v.value(3).toBool();
    m_projectURL = v.value(4).toString();
    m_cachedAt = v.value(5).toDateTime();
}

} // namespace jw
