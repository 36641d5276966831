#include "app/github/GitHubProjectsClient.h"

#include "app/github/ErrorText.h"
#include "platform/Log.h"
#include "platform/http/JsonDecoder.h"

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

// The "errors" member: absent or null gives nothing; otherwise every message, in order.
std::optional<QStringList> decodeErrors(JsonDecoder& decoder)
{
    const auto errors = decoder.optionalArray(decoder.root(), QStringLiteral("errors"), QString());
    if (!errors)
        return std::nullopt;
    QStringList messages;
    for (qsizetype i = 0; i < errors->size(); ++i) {
        const QString path = QStringLiteral("errors[%1]").arg(i);
        if (const auto error = decoder.objectElement(errors->at(i), path))
            if (const auto message = decoder.requiredString(*error, QStringLiteral("message"), path))
                messages << *message;
    }
    return messages;
}

struct AddItemAnswer
{
    bool hasItem = false;
    std::optional<QStringList> errors;
};

Expected<AddItemAnswer> decodeAddItem(const QByteArray& body, int status)
{
    JsonDecoder decoder(body);
    AddItemAnswer answer;
    if (const auto data = decoder.optionalObject(decoder.root(), QStringLiteral("data"), QString()))
        if (const auto added =
                decoder.optionalObject(*data, QStringLiteral("addProjectV2ItemById"), QStringLiteral("data")))
            if (const auto item =
                    decoder.optionalObject(*added, QStringLiteral("item"), QStringLiteral("data.addProjectV2ItemById")))
                answer.hasItem =
                    decoder
                        .requiredString(*item, QStringLiteral("id"), QStringLiteral("data.addProjectV2ItemById.item"))
                        .has_value();
    answer.errors = decodeErrors(decoder);
    if (!decoder.ok())
        return decoder.error(status);
    return answer;
}

struct Board
{
    QString id;
    QString title;
    QString url;
};

struct FetchAnswer
{
    bool hasData = false;
    std::vector<Board> boards; // organisation's first, then the user's
    std::optional<QStringList> errors;
};

void decodeOwner(JsonDecoder& decoder, const QJsonObject& data, const QString& key, std::vector<Board>& boards)
{
    const QString ownerPath = QStringLiteral("data.") + key;
    const auto owner = decoder.optionalObject(data, key, QStringLiteral("data"));
    if (!owner)
        return;
    const auto projects = decoder.optionalObject(*owner, QStringLiteral("projectsV2"), ownerPath);
    if (!projects)
        return;
    const QString projectsPath = ownerPath + QStringLiteral(".projectsV2");
    const auto nodes = decoder.requiredArray(*projects, QStringLiteral("nodes"), projectsPath);
    if (!nodes)
        return;
    for (qsizetype i = 0; i < nodes->size(); ++i) {
        const QString path = projectsPath + QStringLiteral(".nodes[%1]").arg(i);
        const auto node = decoder.objectElement(nodes->at(i), path);
        if (!node)
            return;
        const auto id = decoder.requiredString(*node, QStringLiteral("id"), path);
        const auto title = decoder.requiredString(*node, QStringLiteral("title"), path);
        const auto url = decoder.requiredString(*node, QStringLiteral("url"), path);
        if (!decoder.ok())
            return;
        boards.push_back(Board{*id, *title, *url});
    }
}

Expected<FetchAnswer> decodeFetch(const QByteArray& body, int status)
{
    JsonDecoder decoder(body);
    FetchAnswer answer;
    if (const auto data = decoder.optionalObject(decoder.root(), QStringLiteral("data"), QString())) {
        answer.hasData = true;
        decodeOwner(decoder, *data, QStringLiteral("organization"), answer.boards);
        decodeOwner(decoder, *data, QStringLiteral("user"), answer.boards);
    }
    answer.errors = decodeErrors(decoder);
    if (!decoder.ok())
        return decoder.error(status);
    return answer;
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
    const auto answer = decodeAddItem(response.value().body, response.value().statusCode);
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
    const auto answer = decodeFetch(response.value().body, response.value().statusCode);
    if (!answer.ok())
        co_return answer.error();
    const FetchAnswer& fetched = answer.value();
    if (fetched.errors && !fetched.errors->isEmpty()) {
        const QString joined = fetched.errors->join(QStringLiteral("; "));
        if (!fetched.hasData)
            co_return GitHubProjectsError::graphQLError(joined);
        log(QStringLiteral("GraphQL partial errors (non-fatal): ") + joined);
    }
    std::vector<std::shared_ptr<ProjectCache>> projects;
    projects.reserve(fetched.boards.size());
    for (const Board& board : fetched.boards)
        projects.push_back(std::make_shared<ProjectCache>(board.id,
                                                          board.title,
                                                          owner,
                                                          true,
                                                          board.url,
                                                          QDateTime::currentDateTime()));
    co_return projects;
}

} // namespace jw
