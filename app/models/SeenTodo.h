#pragma once

#include "platform/store/PersistentModel.h"

#include <QDateTime>

#include <optional>

namespace jw {

// One filed TODO; `contentHash` is unique.
class SeenTodo : public store::PersistentModel
{
public:
    SeenTodo() = default;
    SeenTodo(const QString& contentHash,
             const QString& filePath,
             qint64 lineNumber,
             const std::optional<QString>& issueURL,
             std::optional<qint64> issueNumber,
             const std::optional<QString>& repoFullName,
             const QString& title,
             const QDateTime& createdAt);

    static const store::EntityDescription& entityDescription();
    const store::EntityDescription& entity() const override { return entityDescription(); }
    QVariantList values() const override;
    void setValues(const QVariantList& values) override;

    QString contentHash() const { return m_contentHash; }
    QString filePath() const { return m_filePath; }
    qint64 lineNumber() const { return m_lineNumber; }
    std::optional<QString> issueURL() const { return m_issueURL; }
    std::optional<qint64> issueNumber() const { return m_issueNumber; }
    std::optional<QString> repoFullName() const { return m_repoFullName; }
    QString title() const { return m_title; }
    QDateTime createdAt() const { return m_createdAt; }

private:
    QString m_contentHash;
    QString m_filePath;
    qint64 m_lineNumber = 0;
    std::optional<QString> m_issueURL;
    std::optional<qint64> m_issueNumber;
    std::optional<QString> m_repoFullName;
    QString m_title;
    QDateTime m_createdAt;
};

} // namespace jw
