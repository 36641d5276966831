#pragma once

#include "platform/Cancellation.h"
#include "platform/Error.h"
#include "platform/http/HttpClient.h"

#include <QCoroTask>
#include <QString>
#include <QUrl>

#include <optional>

namespace jw {

// The fields of a created issue that the program keeps.
struct GitHubIssueResponse
{
    qint64 id = 0;
    QString nodeId; // "node_id"
    qint64 number = 0;
    QString htmlUrl; // "html_url"
    QString title;

    bool operator==(const GitHubIssueResponse&) const = default;

    // All five members required with their JSON types; other members are ignored.
    static Expected<GitHubIssueResponse> decode(const QByteArray& body, std::optional<int> responseCode);
};

// The error enumeration of the issue client, as jw::Error values.
struct GitHubClientError
{
    static inline const QString kDomain = QStringLiteral("GitHubClientError");
    static Error repoNotFound(const QString& fullName);
    static Error noToken();
    static Error rateLimited();
};

// Files issues through the GitHub REST API.
class GitHubClient
{
public:
    static inline const QUrl kDefaultBaseUrl{QStringLiteral("https://api.github.com")};

    explicit GitHubClient(QUrl baseUrl = kDefaultBaseUrl);

    // 404 gives repoNotFound(owner/repo), a rate limit (403 or 429) rateLimited with when to try
    // again; every other failure is the HTTP layer's. A title or body longer than GitHub takes is
    // cut to fit, the whole title then heading the body.
    QCoro::Task<Expected<GitHubIssueResponse>>
    createIssue(QString owner,
                QString repo,
                QString title,
                QString body,
                QString token,
                std::optional<CancellationToken> cancellation = std::nullopt);

    static HttpHeaders headers(const QString& token);

    const QUrl& baseUrl() const { return m_baseUrl; }

private:
    QUrl m_baseUrl;
};

} // namespace jw
