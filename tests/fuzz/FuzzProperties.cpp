#include "tests/fuzz/FuzzProperties.h"

#include "app/SourceLines.h"
#include "app/detection/TodoParser.h"
#include "app/github/GitHubClient.h"
#include "app/github/GraphQLAnswers.h"
#include "app/github/RepoInfo.h"
#include "platform/http/HttpClient.h"

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

// Annotating any one TODO changes that line's bytes only, and no TODO's hash.
std::optional<std::string> checkAnnotation(const QList<ParsedTodo>& todos, const QByteArray& bytes)
{
    constexpr qint64 kIssue = 4;
    const QString url = QStringLiteral("https://github.com/octo/demo/issues/4");
    const QList<SourceLines::Span> lines = SourceLines::split(bytes);
    // A few TODOs per input keep the check cheap; the fuzzer varies which come first.
    for (const ParsedTodo& todo : todos.mid(0, 4)) {
        const auto annotated = SourceLines::annotate(bytes, todo.lineNumber, kIssue, url);
        if (!annotated)
            continue;
        const SourceLines::Span span = lines[todo.lineNumber - 1];
        const qsizetype tail = bytes.size() - span.end;
        if (annotated->first(span.start) != bytes.first(span.start) || annotated->last(tail) != bytes.last(tail))
            return "annotating changed bytes outside its line: " + describe(todo);
        const QList<ParsedTodo> after = TodoParser::parseUtf8(*annotated, todo.filePath);
        if (after.size() != todos.size())
            return "annotating changed the number of TODOs: " + describe(todo);
        for (qsizetype i = 0; i < after.size(); ++i) {
            if (after[i].contentHash != todos[i].contentHash || after[i].lineNumber != todos[i].lineNumber)
                return "annotating changed a TODO's hash: " + describe(todo) + " changed " + describe(todos[i]);
        }
        if (SourceLines::annotate(*annotated, todo.lineNumber, kIssue, url))
            return "an annotated line is annotated again: " + describe(todo);
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
    return checkAnnotation(todos, bytes);
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
    // A refusal's body adds GitHub's message to one short line that still names the status.
    const QString refusal = HttpClient::statusFailureDescription(422, body);
    if (!refusal.contains(QLatin1String("(HTTP 422)")) || refusal.size() > 300)
        return std::string("a refusal's text lost its status or grew long");
    for (const QChar c : refusal)
        if (c.category() == QChar::Other_Control)
            return std::string("a refusal's text holds a control character");
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
