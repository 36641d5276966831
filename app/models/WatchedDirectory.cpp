#include "app/models/WatchedDirectory.h"

#include <QDir>
#include <QFile>

#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace jw {
namespace {

// $HOME, or the account's entry in the password database when HOME is unset or empty (where
// Qt's home would be "/").
QString homeDirectory()
{
    const QString fromEnvironment = QFile::decodeName(qgetenv("HOME"));
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    const long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(hint > 0 ? size_t(hint) : size_t(16384));
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found || !found->pw_dir)
        return {};
    return QFile::decodeName(found->pw_dir);
}

} // namespace

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
    return displayPath(m_path, homeDirectory());
}

QString WatchedDirectory::displayPath(const QString& path, const QString& homeDirectory)
{
    const QString home = QDir::cleanPath(homeDirectory);
    // Under a home of "/" every path would read as under it.
    if (home.isEmpty() || home == QLatin1String("/"))
        return path;
    if (!path.startsWith(home + QLatin1Char('/')))
        return path;
    // Keep the "/" that ends the home directory's text.
    return QLatin1Char('~') + path.mid(home.size());
}

} // namespace jw
