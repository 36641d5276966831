#include "tests/fuzz/FuzzProperties.h"

#include "app/SourceLines.h"
#include "app/detection/TodoParser.h"
#include "app/github/GitHubClient.h"
#include "app/github/GraphQLAnswers.h"
#include "app/github/RepoInfo.h"

#include <QRegularExpression>

namespace jw::fuzz {
namespace {

std::string describe(const ParsedTodo& todo)
{
    return "line " + std::to_string(todo.lineNumber) + " \"" + todo.title.toStdString() + "\"";
}

std::optional<std::string> checkTodos(const QList<ParsedTodo>& todos, const QByteArray& bytes)
{
    static const QRegularExpression hexHash(QStringLiteral("^[0-9a-f]{64}$"));
    const QList<SourceLines::Span> lines = SourceLines::split(bytes);
    qint64 previousLine = 0;
    for (const ParsedTodo& todo : todos) {
        if (todo.lineNumber <= previousLine || todo.lineNumber > lines.size())
            return "line number outside the file or out of order: " + describe(todo);
        previousLine = todo.lineNumber;
        const SourceLines::Span span = lines[todo.lineNumber - 1];
        const QString line = QString::fromUtf8(bytes.constData() + span.start, span.end - span.start);
        if (!line.contains(QLatin1String("todo:"), Qt::CaseInsensitive))
            return "the reported line holds no tag: " + describe(todo);
        if (todo.title.trimmed().isEmpty())
            return "empty title: " + describe(todo);
        if (!hexHash.match(todo.contentHash).hasMatch()
            || todo.contentHash != TodoParser::contentHash(todo.fullContent))
            return "content hash is not the hash of the content: " + describe(todo);
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> checkTodoParser(QByteArrayView input)
{
    const QString path = QStringLiteral("/work/app/fuzz.c");
    const QByteArray bytes = input.toByteArray();
    if (!isValidUtf8(input)) {
        // The watcher skips such files; the text entry point must still cope with what a lossy
        // decode leaves.
        const QString decoded = QString::fromUtf8(bytes);
        (void)TodoParser::parse(decoded, path);
        return std::nullopt;
    }
    const QList<ParsedTodo> todos = TodoParser::parseUtf8(input, path);
    if (auto broken = checkTodos(todos, bytes))
        return broken;
    const QString text = QString::fromUtf8(bytes);
    if (TodoParser::parse(text, path) != todos)
        return std::string("the byte and text entry points disagree");
    if (!TodoParser::newTodos(text, std::optional<QString>(text), path, {}).isEmpty())
        return std::string("an unchanged file yields new TODOs");
    return std::nullopt;
}

std::optional<std::string> checkGitHubJson(QByteArrayView input)
{
    const QByteArray body = input.toByteArray();
    const auto failedRight = [](const Error& error, int status) {
        return !error.description.isEmpty() && error.responseCode == status;
    };
    const auto issue = GitHubIssueResponse::decode(body, 201);
    if (!issue.ok() && !failedRight(issue.error(), 201))
        return std::string("an issue decoding failure lost its description or status");
    const auto added = GraphQLAnswers::decodeAddItem(body, 200);
    if (!added.ok() && !failedRight(added.error(), 200))
        return std::string("a board mutation decoding failure lost its description or status");
    const auto fetched = GraphQLAnswers::decodeFetch(body, 200);
    if (!fetched.ok() && !failedRight(fetched.error(), 200))
        return std::string("a board query decoding failure lost its description or status");
    if (fetched.ok() && !fetched.value().hasData && !fetched.value().boards.empty())
        return std::string("boards without data");
    return std::nullopt;
}

std::optional<std::string> checkRemoteUrl(QByteArrayView input)
{
    const QString remote = QString::fromUtf8(input.toByteArray());
    const QString root = QStringLiteral("/work/root");
    const auto info = RepoInfo::parse(remote, root);
    if (!info)
        return std::nullopt;
    if (info->owner.isEmpty() || info->repo.isEmpty())
        return std::string("empty owner or repository");
    if (info->owner.contains(QLatin1Char('/')) || info->repo.contains(QLatin1Char('/')))
        return std::string("owner or repository spans more than one path segment");
    if (info->rootPath != root)
        return std::string("the root path changed");
    // git's output ends in a line feed that the caller trims; surrounding blanks change nothing.
    if (RepoInfo::parse(QStringLiteral(" ") + remote + QStringLiteral("\n"), root) != info)
        return std::string("surrounding white space changes the result");
    return std::nullopt;
}

} // namespace jw::fuzz
