#pragma once

#include "platform/store/PersistentModel.h"

#include <QDateTime>

#include <optional>

namespace jw {

// One project directory chosen by the user. `path` ends in "/".
class WatchedDirectory : public store::PersistentModel
{
public:
    WatchedDirectory() = default;
    WatchedDirectory(const QString& path, bool isEnabled);

    static const store::EntityDescription& entityDescription();
    const store::EntityDescription& entity() const override { return entityDescription(); }
    QVariantList values() const override;
    void setValues(const QVariantList& values) override;

    QString path() const { return m_path; }
    bool isEnabled() const { return m_isEnabled; }
    QDateTime addedAt() const { return m_addedAt; }
    std::optional<QString> selectedProjectNodeId() const { return m_selectedProjectNodeId; }
    void setSelectedProjectNodeId(const std::optional<QString>& value);

    // The path with the home directory shown as "~"; a home of "/" shortens nothing. The home is
    // $HOME, or the account's home when HOME is unset or empty.
    QString displayPath() const;
    static QString displayPath(const QString& path, const QString& homeDirectory);

private:
    QString m_path;
    bool m_isEnabled = true;
    QDateTime m_addedAt;
    std::optional<QString> m_selectedProjectNodeId;
};

} // namespace jw
