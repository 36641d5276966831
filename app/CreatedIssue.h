#pragma once

#include <QDateTime>
#include <QString>
#include <QUuid>

namespace jw {

class SeenTodo;

// One entry of the recent-issue list, identified by its id.
struct CreatedIssue
{
    QUuid id = QUuid::createUuid();
    QString title;
    qint64 issueNumber = 0;
    QString repoFullName;
    QString issueURL;
    QDateTime createdAt;

    CreatedIssue() = default;
    CreatedIssue(const QString& title,
                 qint64 issueNumber,
                 const QString& repoFullName,
                 const QString& issueURL,
                 const QDateTime& createdAt);
    explicit CreatedIssue(const SeenTodo& seenTodo);
};

} // namespace jw
