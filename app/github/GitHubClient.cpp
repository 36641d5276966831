#include "app/github/GitHubClient.h"

#include "app/github/ErrorText.h"
#include "platform/http/JsonDecoder.h"

#include <QTextBoundaryFinder>

namespace jw {
namespace {

// GitHub's limits, which it counts in Unicode code points.
constexpr qsizetype kMaxTitleLength = 256;
constexpr qsizetype kMaxBodyLength = 65536;

qsizetype codePoints(QStringView text)
{
    qsizetype count = text.size();
    for (qsizetype i = 1; i < text.size(); ++i)
        if (text[i].isLowSurrogate() && text[i - 1].isHighSurrogate())
            --count;
    return count;
}

// The start of `text` and "…", at most `limit` code points in all: cut after the last whole word
// that fits, or, when a single word is longer, between two characters.
QString shortened(const QString& text, qsizetype limit)
{
    if (codePoints(text) <= limit)
        return text;
    qsizetype end = 0;
    for (qsizetype n = 0; n < limit - 1; ++n)
        end += text[end].isHighSurrogate() && end + 1 < text.size() && text[end + 1].isLowSurrogate() ? 2 : 1;
    qsizetype cut = end;
    if (!text[end].isSpace()) {
        qsizetype wordStart = end;
        while (wordStart > 0 && !text[wordStart - 1].isSpace())
            --wordStart;
        if (wordStart > 0) {
            cut = wordStart;
        } else {
            // An accent or a joined emoji stays with the character it belongs to.
            QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
            graphemes.setPosition(end);
            if (!graphemes.isAtBoundary() && graphemes.toPreviousBoundary() > 0)
                cut = graphemes.position();
        }
    }
    while (cut > 0 && text[cut - 1].isSpace())
        --cut;
    if (cut == 0)
        cut = end;
    return text.first(cut) + QChar(0x2026);
}

// A body over the limit keeps its last paragraph, which names the TODO's file and line.
QString fittedBody(const QString& body)
{
    if (codePoints(body) <= kMaxBodyLength)
        return body;
    const qsizetype lastParagraph = body.lastIndexOf(QStringLiteral("\n\n"));
    if (lastParagraph > 0) {
        const QString tail = body.sliced(lastParagraph);
        const qsizetype tailLength = codePoints(tail);
        if (tailLength <= kMaxBodyLength / 2)
            return shortened(body.first(lastParagraph), kMaxBodyLength - tailLength) + tail;
    }
    return shortened(body, kMaxBodyLength);
}

} // namespace

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

    // GitHub refuses a longer title: the issue gets a cut one, and its body the whole.
    if (codePoints(title) > kMaxTitleLength) {
        body = (body.isEmpty() || body.startsWith(QLatin1Char('\n')) ? title : title + QLatin1Char('\n')) + body;
        title = shortened(title, kMaxTitleLength);
    }
    QJsonObject parameters{{QStringLiteral("title"), title}, {QStringLiteral("body"), fittedBody(body)}};
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
