#pragma once

#include "app/github/GitHubClient.h"
#include "app/models/ProjectCache.h"
#include "platform/Cancellation.h"
#include "platform/Error.h"
#include "platform/http/HttpClient.h"

#include <QCoroTask>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>
#include <vector>

namespace jw {

// The error enumeration of the Projects client, as jw::Error values.
struct GitHubProjectsError
{
    static inline const QString kDomain = QStringLiteral("GitHubProjectsError");
    static Error graphQLError(const QString& message);
    static Error noToken();
    static Error assignmentFailed();
};

// Adds issues to GitHub Projects (v2) boards and lists an owner's boards, over GraphQL.
class GitHubProjectsClient
{
public:
    explicit GitHubProjectsClient(QUrl baseUrl = GitHubClient::kDefaultBaseUrl);

    // Any GraphQL error fails with graphQLError (messages joined by "; "), even beside data; an
    // answer without the added item fails with assignmentFailed.
    QCoro::Task<Expected<Unit>> addIssueToProject(QString contentId,
                                                  std::shared_ptr<ProjectCache> project,
                                                  QString token,
                                                  std::optional<CancellationToken> cancellation = std::nullopt);

    // The organisation's boards, then the user's, as new unsaved records owned by `owner` as
    // queried. GraphQL errors beside data are logged and the boards found are returned.
    QCoro::Task<Expected<std::vector<std::shared_ptr<ProjectCache>>>>
    fetchOwnerProjects(QString owner, QString token, std::optional<CancellationToken> cancellation = std::nullopt);

    static HttpHeaders headers(const QString& token);
    static const QString& addItemMutation();
    static const QString& fetchProjectsQuery();

    const QUrl& baseUrl() const { return m_baseUrl; }

private:
    QUrl m_baseUrl;
};

} // namespace jw
