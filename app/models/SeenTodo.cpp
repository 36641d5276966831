#include "app/models/SeenTodo.h"

namespace jw {

namespace {
QVariant optionalText(const std::optional<QString>& v)
{
    return v ? QVariant(*v) : QVariant();
}
std::optional<QString> toOptionalText(const QVariant& v)
{
    return v.isNull() ? std::nullopt : std::optional<QString>(v.toString());
}
} // namespace

SeenTodo::SeenTodo(const QString& contentHash,
                   const QString& filePath,
                   qint64 lineNumber,
                   const std::optional<QString>& issueURL,
                   std::optional<qint64> issueNumber,
                   const std::optional<QString>& repoFullName,
                   const QString& title,
                   const QDateTime& createdAt)
    : m_contentHash(contentHash)
    , m_filePath(filePath)
    , m_lineNumber(lineNumber)
    , m_issueURL(issueURL)
    , m_issueNumber(issueNumber)
    , m_repoFullName(repoFullName)
    , m_title(title)
    , m_createdAt(createdAt)
{
}

const store::EntityDescription& SeenTodo::entityDescription()
{
    using store::ColumnType;
    static const store::EntityDescription e{QStringLiteral("SeenTodo"),
                                            {{QStringLiteral("contentHash"), ColumnType::Text},
                                             {QStringLiteral("filePath"), ColumnType::Text},
                                             {QStringLiteral("lineNumber"), ColumnType::Integer},
                                             {QStringLiteral("issueURL"), ColumnType::Text, true},
                                             {QStringLiteral("issueNumber"), ColumnType::Integer, true},
                                             {QStringLiteral("repoFullName"), ColumnType::Text, true},
                                             {QStringLiteral("title"), ColumnType::Text},
                                             {QStringLiteral("createdAt"), ColumnType::Date}},
                                            QStringLiteral("contentHash")};
    return e;
}

QVariantList SeenTodo::values() const
{
    return {m_contentHash,
            m_filePath,
            m_lineNumber,
            optionalText(m_issueURL),
            m_issueNumber ? QVariant(*m_issueNumber) : QVariant(),
            optionalText(m_repoFullName),
            m_title,
            m_createdAt};
}

void SeenTodo::setValues(const QVariantList& v)
{
    m_contentHash = v.value(0).toString();
    m_filePath = v.value(1).toString();
    m_lineNumber = v.value(2).toLongLong();
    m_issueURL = toOptionalText(v.value(3));
    m_issueNumber = v.value(4).isNull() ? std::nullopt : std::optional<qint64>(v.value(4).toLongLong());
    m_repoFullName = toOptionalText(v.value(5));
    m_title = v.value(6).toString();
    m_createdAt = v.value(7).toDateTime();
}

} // namespace jw
