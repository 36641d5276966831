#include "app/github/GitHubProjectsClient.h"

#include "app/github/ErrorText.h"
#include "app/github/GraphQLAnswers.h"
#include "platform/Log.h"

#include <QDateTime>
#include <QStringList>

namespace jw {
namespace {

QUrl graphQLUrl(const QUrl& baseUrl)
{
    QString base = baseUrl.toString();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return QUrl(base + QStringLiteral("/graphql"), QUrl::StrictMode);
}

QJsonObject requestBody(const QString& document, const QJsonObject& variables)
{
    return QJsonObject{{QStringLiteral("query"), document}, {QStringLiteral("variables"), variables}};
}

} // namespace

Error GitHubProjectsError::graphQLError(const QString& message)
{
    return Error{kDomain,
                 QStringLiteral("graphQLError"),
                 message,
                 QStringLiteral("graphQLError(") + quotedPayload(message) + QLatin1Char(')'),
                 std::nullopt};
}

Error GitHubProjectsError::noToken()
{
    return Error{kDomain,
                 QStringLiteral("noToken"),
                 QStringLiteral("No GitHub token configured"),
                 QStringLiteral("noToken"),
                 std::nullopt};
}

Error GitHubProjectsError::assignmentFailed()
{
    return Error{kDomain,
                 QStringLiteral("assignmentFailed"),
                 QStringLiteral("Failed to assign issue to project"),
                 QStringLiteral("assignmentFailed"),
                 std::nullopt};
}

GitHubProjectsClient::GitHubProjectsClient(QUrl baseUrl)
    : m_baseUrl(std::move(baseUrl))
{
}

HttpHeaders GitHubProjectsClient::headers(const QString& token)
{
    return {
        {QByteArrayLiteral("Authorization"), QByteArrayLiteral("Bearer ") + token.toUtf8()},
        {QByteArrayLiteral("Content-Type"), QByteArrayLiteral("application/json")},
    };
}

const QString& GitHubProjectsClient::addItemMutation()
{
    static const QString document =
        QStringList{
            QStringLiteral("mutation AddIssueToProjectV2($projectId: ID!, $contentId: ID!) {"),
            QStringLiteral("  addProjectV2ItemById(input: { projectId: $projectId, contentId: $contentId }) {"),
            QStringLiteral("    item { id }"),
            QStringLiteral("  }"),
            QStringLiteral("}"),
        }
            .join(QLatin1Char('\n'));
    return document;
}

const QString& GitHubProjectsClient::fetchProjectsQuery()
{
    static const QString document =
        QStringList{
            QStringLiteral("query FetchOwnerProjects($owner: String!) {"),
            QStringLiteral("  organization(login: $owner) {"),
            QStringLiteral("    projectsV2(first: 50) {"),
            QStringLiteral("      nodes { id title url }"),
            QStringLiteral("    }"),
            QStringLiteral("  }"),
            QStringLiteral("  user(login: $owner) {"),
            QStringLiteral("    projectsV2(first: 50) {"),
            QStringLiteral("      nodes { id title url }"),
            QStringLiteral("    }"),
            QStringLiteral("  }"),
            QStringLiteral("}"),
        }
            .join(QLatin1Char('\n'));
    return document;
}

QCoro::Task<Expected<Unit>> GitHubProjectsClient::addIssueToProject(QString contentId,
                                                                    std::shared_ptr<ProjectCache> project,
                                                                    QString token,
                                                                    std::optional<CancellationToken> cancellation)
{
    if (!project)
        co_return GitHubProjectsError::assignmentFailed();
    const QJsonObject variables{{QStringLiteral("projectId"), project->projectNodeId()},
                                {QStringLiteral("contentId"), contentId}};
    auto response = co_await HttpClient::postJson(graphQLUrl(m_baseUrl),
                                                  requestBody(addItemMutation(), variables),
                                                  headers(token),
                                                  HttpValidation::StatusCodeAndContentType,
                                                  std::move(cancellation));
    if (!response.ok())
        co_return response.error();
    const auto answer = GraphQLAnswers::decodeAddItem(response.value().body, response.value().statusCode);
    if (!answer.ok())
        co_return answer.error();
    if (answer.value().errors && !answer.value().errors->isEmpty())
        co_return GitHubProjectsError::graphQLError(answer.value().errors->join(QStringLiteral("; ")));
    if (!answer.value().hasItem)
        co_return GitHubProjectsError::assignmentFailed();
    co_return Unit{};
}

QCoro::Task<Expected<std::vector<std::shared_ptr<ProjectCache>>>>
GitHubProjectsClient::fetchOwnerProjects(QString owner, QString token, std::optional<CancellationToken> cancellation)
{
    const QJsonObject variables{{QStringLiteral("owner"), owner}};
    auto response = co_await HttpClient::postJson(graphQLUrl(m_baseUrl),
                                                  requestBody(fetchProjectsQuery(), variables),
                                                  headers(token),
                                                  HttpValidation::StatusCodeAndContentType,
                                                  std::move(cancellation));
    if (!response.ok())
        co_return response.error();
    const auto answer = GraphQLAnswers::decodeFetch(response.value().body, response.value().statusCode);
    if (!answer.ok())
        co_return answer.error();
    const GraphQLAnswers::FetchAnswer& fetched = answer.value();
    if (fetched.errors && !fetched.errors->isEmpty()) {
        const QString joined = fetched.errors->join(QStringLiteral("; "));
        if (!fetched.hasData)
            co_return GitHubProjectsError::graphQLError(joined);
        log(QStringLiteral("GraphQL partial errors (non-fatal): ") + joined);
    }
    std::vector<std::shared_ptr<ProjectCache>> projects;
    projects.reserve(fetched.boards.size());
    for (const GraphQLAnswers::Board& board : fetched.boards)
        projects.push_back(std::make_shared<ProjectCache>(board.id,
                                                          board.title,
                                                          owner,
                                                          true,
                                                          board.url,
                                                          QDateTime::currentDateTime()));
    co_return projects;
}

} // namespace jw
