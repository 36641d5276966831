#include "app/CreatedIssue.h"

#include "app/models/SeenTodo.h"

namespace jw {

CreatedIssue::CreatedIssue(const QString& title_,
                           qint64 issueNumber_,
                           const QString& repoFullName_,
                           const QString& issueURL_,
                           const QDateTime& createdAt_)
    : title(title_)
    , issueNumber(issueNumber_)
    , repoFullName(repoFullName_)
    , issueURL(issueURL_)
    , createdAt(createdAt_)
{
}

CreatedIssue::CreatedIssue(const SeenTodo& seenTodo)
    : title(seenTodo.title())
    , issueNumber(seenTodo.issueNumber().value_or(0))
    , repoFullName(seenTodo.repoFullName().value_or(QString()))
    , issueURL(seenTodo.issueURL().value_or(QString()))
    , createdAt(seenTodo.createdAt())
{
}

} // namespace jw
