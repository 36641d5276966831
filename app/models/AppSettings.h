#pragma once

#include "platform/store/PersistentModel.h"

#include <QDateTime>

namespace jw {

// The settings record; start-up makes sure one exists.
class AppSettings : public store::PersistentModel
{
public:
    AppSettings() = default;
    explicit AppSettings(bool isWatchingEnabled);

    static const store::EntityDescription& entityDescription();
    const store::EntityDescription& entity() const override { return entityDescription(); }
    QVariantList values() const override;
    void setValues(const QVariantList& values) override;

    bool isWatchingEnabled() const { return m_isWatchingEnabled; }
    void setIsWatchingEnabled(bool value);
    QDateTime createdAt() const { return m_createdAt; }

private:
    bool m_isWatchingEnabled = true;
    QDateTime m_createdAt;
};

} // namespace jw
