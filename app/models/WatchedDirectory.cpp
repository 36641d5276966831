#include "app/models/WatchedDirectory.h"

#include <QDir>

namespace jw {

WatchedDirectory::WatchedDirectory(const QString& path, bool isEnabled)
    : m_path(path)
    , m_isEnabled(isEnabled)
    , m_addedAt(QDateTime::currentDateTimeUtc())
{
}

const store::EntityDescription& WatchedDirectory::entityDescription()
{
    using store::ColumnType;
    static const store::EntityDescription e{QStringLiteral("WatchedDirectory"),
                                            {{QStringLiteral("path"), ColumnType::Text},
                                             {QStringLiteral("isEnabled"), ColumnType::Boolean},
                                             {QStringLiteral("addedAt"), ColumnType::Date},
                                             {QStringLiteral("selectedProjectNodeId"), ColumnType::Text, true}},
                                            {}};
    return e;
}

QVariantList WatchedDirectory::values() const
{
    return {m_path, m_isEnabled, m_addedAt, m_selectedProjectNodeId ? QVariant(*m_selectedProjectNodeId) : QVariant()};
}

void WatchedDirectory::setValues(const QVariantList& v)
{
    m_path = v.value(0).toString();
    m_isEnabled = v.value(1).toBool();
    m_addedAt = v.value(2).toDateTime();
    const QVariant selected = v.value(3);
    m_selectedProjectNodeId = selected.isNull() ? std::nullopt : std::optional<QString>(selected.toString());
}

void WatchedDirectory::setSelectedProjectNodeId(const std::optional<QString>& value)
{
    m_selectedProjectNodeId = value;
    didChange();
}

QString WatchedDirectory::displayPath() const
{
    return displayPath(m_path, QDir::homePath());
}

QString WatchedDirectory::displayPath(const QString& path, const QString& homeDirectory)
{
    QString home = homeDirectory;
    if (!home.endsWith(QLatin1Char('/')))
        home += QLatin1Char('/');
    if (!path.startsWith(home))
        return path;
    // Keep the "/" that ends the home directory's text.
    return QLatin1Char('~') + path.mid(home.size() - 1);
}

} // namespace jw
