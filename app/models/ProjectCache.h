#pragma once

#include "platform/store/PersistentModel.h"

#include <QDateTime>

namespace jw {

// One GitHub Projects board as last listed for an owner; `projectNodeId` is unique.
class ProjectCache : public store::PersistentModel
{
public:
    ProjectCache() = default;
    ProjectCache(const QString& projectNodeId,
                 const QString& displayName,
                 const QString& owner,
                 bool isV2,
                 const QString& projectURL,
                 const QDateTime& cachedAt);

    static const store::EntityDescription& entityDescription();
    const store::EntityDescription& entity() const override { return entityDescription(); }
    QVariantList values() const override;
    void setValues(const QVariantList& values) override;

    QString projectNodeId() const { return m_projectNodeId; }
    QString displayName() const { return m_displayName; }
    QString owner() const { return m_owner; }
    bool isV2() const { return m_isV2; }
    QString projectURL() const { return m_projectURL; }
    QDateTime cachedAt() const { return m_cachedAt; }

private:
    QString m_projectNodeId;
    QString m_displayName;
    QString m_owner;
    bool m_isV2 = true;
    QString m_projectURL;
    QDateTime m_cachedAt;
};

} // namespace jw
