#include "app/github/GitHubClient.h"

#include "app/github/ErrorText.h"
#include "platform/http/JsonDecoder.h"

namespace jw {

Expected<GitHubIssueResponse> GitHubIssueResponse::decode(const QByteArray& body, std::optional<int> responseCode)
{
    JsonDecoder decoder(body);
    const QJsonObject& o = decoder.root();
    const QString root;
    const auto id = decoder.requiredInt64(o, QStringLiteral("id"), root);
    const auto number = decoder.requiredInt64(o, QStringLiteral("number"), root);
    const auto title = decoder.requiredString(o, QStringLiteral("title"), root);
    const auto nodeId = decoder.requiredString(o, QStringLiteral("node_id"), root);
    const auto htmlUrl = decoder.requiredString(o, QStringLiteral("html_url"), root);
    if (!decoder.ok())
        return decoder.error(responseCode);
    return GitHubIssueResponse{*id, *nodeId, *number, *htmlUrl, *title};
}

Error GitHubClientError::repoNotFound(const QString& fullName)
{
    return Error{kDomain,
                 QStringLiteral("repoNotFound"),
                 QStringLiteral("Repository not found: ") + fullName,
                 QStringLiteral("repoNotFound(") + quotedPayload(fullName) + QLatin1Char(')'),
                 std::nullopt};
}

Error GitHubClientError::noToken()
{
    return Error{kDomain,
                 QStringLiteral("noToken"),
                 QStringLiteral("No GitHub token configured"),
                 QStringLiteral("noToken"),
                 std::nullopt};
}

Error GitHubClientError::rateLimited()
{
    return Error{kDomain,
                 QStringLiteral("rateLimited"),
                 QStringLiteral("GitHub API rate limit exceeded"),
                 QStringLiteral("rateLimited"),
                 std::nullopt};
}

GitHubClient::GitHubClient(QUrl baseUrl)
    : m_baseUrl(std::move(baseUrl))
{
}

HttpHeaders GitHubClient::headers(const QString& token)
{
    return {
        {QByteArrayLiteral("Authorization"), QByteArrayLiteral("Bearer ") + token.toUtf8()},
        {QByteArrayLiteral("Accept"), QByteArrayLiteral("application/vnd.github+json")},
        {QByteArrayLiteral("X-GitHub-Api-Version"), QByteArrayLiteral("2022-11-28")},
    };
}

QCoro::Task<Expected<GitHubIssueResponse>> GitHubClient::createIssue(QString owner,
                                                                     QString repo,
                                                                     QString title,
                                                                     QString body,
                                                                     QString token,
                                                                     std::optional<CancellationToken> cancellation)
{
    // Owner and repository go into the path as they are; text that does not make a valid URL
    // fails as invalidURL instead of being silently re-encoded.
    QString base = m_baseUrl.toString();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    const QUrl url(base + QStringLiteral("/repos/") + owner + QLatin1Char('/') + repo + QStringLiteral("/issues"),
                   QUrl::StrictMode);

    QJsonObject parameters{{QStringLiteral("title"), title}, {QStringLiteral("body"), body}};
    auto response = co_await HttpClient::postJson(url,
                                                  std::move(parameters),
                                                  headers(token),
                                                  HttpValidation::StatusCode,
                                                  std::move(cancellation));
    if (!response.ok()) {
        // Only an unacceptable status maps; a 404 that then timed out, say, stays a transport failure.
        const Error& error = response.error();
        const bool statusFailure = error.is(HttpClient::kErrorDomain, HttpErrorCase::responseValidationFailed);
        if (statusFailure && error.responseCode == 404)
            co_return GitHubClientError::repoNotFound(owner + QLatin1Char('/') + repo);
        // A 403 is a rate limit only when GitHub says so; otherwise the token lacks access.
        if (statusFailure && error.retry == Error::Retry::afterRateLimit) {
            Error limited = GitHubClientError::rateLimited();
            limited.retry = error.retry;
            limited.retryAt = error.retryAt;
            co_return limited;
        }
        co_return error;
    }
    co_return GitHubIssueResponse::decode(response.value().body, response.value().statusCode);
}

} // namespace jw
