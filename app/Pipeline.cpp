// The TODO-to-issue pipeline: the delegate's operations from a detected TODO to a confirmation.
#include "app/AppDelegate.h"
#include "app/SourceLines.h"
#include "app/detection/FileWatcher.h"
#include "app/detection/TodoParser.h"
#include "app/github/GitHubClient.h"
#include "app/github/GitHubProjectsClient.h"
#include "app/github/RepoInfo.h"
#include "app/models/ProjectCache.h"
#include "app/models/SeenTodo.h"
#include "app/models/WatchedDirectory.h"
#include "platform/AtomicFile.h"
#include "platform/Log.h"
#include "platform/MainQueue.h"
#include "platform/Sleep.h"
#include "platform/TaskStart.h"

#include <QFile>
#include <QPointer>

namespace jw {

void AppDelegate::todoDetected(const ParsedTodo& todo, store::ModelContext* context)
{
    // One substitution: a "%1" in the title must stay text.
    log(QStringLiteral("TODO detected: \"%1\" in %2:%3")
            .arg(todo.title, todo.filePath, QString::number(todo.lineNumber)));
    QPointer<AppDelegate> weakSelf(this);
    runOnMain([weakSelf, todo, context] {
        if (weakSelf)
            weakSelf->handleDetectedTodo(todo, context);
    });
}

void AppDelegate::handleDetectedTodo(const ParsedTodo& todo, store::ModelContext* context)
{
    runTodo(todo, context, false);
}

void AppDelegate::runTodo(const ParsedTodo& todo, store::ModelContext* context, bool quiet)
{
    if (!m_appState->isWatchingEnabled()) {
        m_filingQueue.settle(todo);
        return;
    }
    if (keepIfItMustWait(todo))
        return;
    const std::optional<QString> token = m_appState->githubToken();
    if (!token) {
        m_filingQueue.settle(todo);
        m_appState->showIsland(IslandState::error(QStringLiteral("No GitHub token configured")));
        return;
    }
    if (!quiet)
        m_appState->showIsland(IslandState::detecting(todo.title));

    const std::optional<RepoInfo> repo = RepoInfo::resolve(todo.localPath);
    if (!repo) {
        m_filingQueue.settle(todo);
        m_appState->showIsland(IslandState::error(QStringLiteral("Not a GitHub repository")));
        return;
    }

    // A plain text prefix test: stored paths end in "/", so "app/" never matches "apple/".
    std::shared_ptr<WatchedDirectory> directory;
    if (auto directories = context->fetch<WatchedDirectory>()) {
        for (const auto& d : directories.value()) {
            if (todo.filePath.startsWith(d->path())) {
                directory = d;
                break;
            }
        }
    }

    QPointer<AppDelegate> self(this);
    const RepoInfo repoInfo = *repo;
    const QString tokenText = *token;
    m_filingQueue.onItsWay(todo);
    startTask([self, todo, repoInfo, tokenText, context, directory, quiet] {
        return self ? self->processTodo(todo, repoInfo, tokenText, context, directory, quiet) : QCoro::Task<>();
    });
}

QCoro::Task<> AppDelegate::processTodo(ParsedTodo todo,
                                       RepoInfo repo,
                                       QString token,
                                       store::ModelContext* context,
                                       std::shared_ptr<WatchedDirectory> directory,
                                       bool quiet)
{
    QPointer<AppDelegate> self(this);
    // Woken early only by the application's end: then nothing is filed, and the queue's file
    // leaves it to the next launch.
    const bool waited = co_await sleepFor(seconds(1.0));
    if (!waited || !self)
        co_return;
    if (!quiet)
        m_appState->showIsland(IslandState::creating(todo.title));
    const auto creatingShown = SteadyClock::now();

    // One creation at a time, as GitHub asks, so a burst of TODOs does not trip its limits.
    const bool turn = co_await m_filingQueue.waitForTurn();
    if (!turn || !self)
        co_return;
    if (const std::optional<WaitReason> hold = m_filingQueue.hold()) {
        // GitHub became unreachable, or asked to wait, while this one waited for its turn.
        m_filingQueue.endTurn();
        m_filingQueue.keep(todo, *hold);
        if (!quiet)
            m_filingQueue.showAgain();
        co_return;
    }

    // The clients are copied into the run, which may outlive a test's delegate.
    GitHubClient client = m_gitHubClient;
    GitHubProjectsClient projectsClient = m_projectsClient;
    m_filingQueue.sending(todo);
    const auto created = co_await client.createIssue(repo.owner, repo.repo, todo.title, todo.issueBody(), token);
    if (!self)
        co_return;
    if (!created) {
        const Error& error = created.error();
        // Kept only where sending again cannot file it twice: nothing left, or GitHub refused it
        // for a rate limit. The hold starts before the next creation takes its turn.
        if (error.retry == Error::Retry::whenReachable || error.retry == Error::Retry::afterRateLimit) {
            if (error.retry == Error::Retry::whenReachable)
                m_filingQueue.unreachable(todo);
            else
                m_filingQueue.rateLimited(todo, error.retryAt);
            m_filingQueue.endTurn();
            if (!quiet)
                m_filingQueue.showAgain();
            co_return;
        }
        m_filingQueue.endTurn();
        m_filingQueue.settle(todo);
        m_appState->showIsland(IslandState::error(error.description));
        log(QStringLiteral("Error creating issue: %1 (not filed: %2:%3)")
                .arg(error.textualForm, todo.filePath, QString::number(todo.lineNumber)));
        co_return;
    }
    m_filingQueue.endTurn();
    m_filingQueue.filed(todo);
    const GitHubIssueResponse issue = created.value();

    const auto onScreen = SteadyClock::now() - creatingShown;
    if (onScreen < seconds(1.0)) {
        co_await sleepFor(seconds(1.0) - onScreen);
        if (!self)
            co_return;
    }

    annotateSourceFile(todo.localPath, todo.lineNumber, issue.number, issue.htmlUrl, todo.contentHash);

    const QString repoFullName = repo.owner + QLatin1Char('/') + repo.repo;
    context->insert(std::make_shared<SeenTodo>(todo.contentHash,
                                               todo.filePath,
                                               todo.lineNumber,
                                               issue.htmlUrl,
                                               issue.number,
                                               repoFullName,
                                               todo.title,
                                               QDateTime::currentDateTimeUtc()));
    (void)context->save();

    m_appState->addRecentIssue(
        CreatedIssue(todo.title, issue.number, repoFullName, issue.htmlUrl, QDateTime::currentDateTimeUtc()));

    IslandState confirmed = IslandState::confirmed(todo.title,
                                                   repoFullName,
                                                   issue.number,
                                                   issue.htmlUrl,
                                                   std::nullopt,
                                                   std::nullopt,
                                                   false,
                                                   false);
    // The board is read now, not at detection: the user may have changed it meanwhile.
    const std::optional<QString> selected = directory ? directory->selectedProjectNodeId() : std::nullopt;
    std::shared_ptr<ProjectCache> project;
    if (selected) {
        if (auto boards = context->fetch<ProjectCache>()) {
            for (const auto& b : boards.value()) {
                if (b->projectNodeId() == *selected) {
                    project = b;
                    break;
                }
            }
        }
    }
    if (project) {
        const QString name = project->displayName();
        const QString url = project->projectURL();
        const bool isV2 = project->isV2();
        const auto added = co_await projectsClient.addIssueToProject(issue.nodeId, project, token);
        if (!self)
            co_return;
        if (added) {
            log(QStringLiteral("Issue #%1 added to project '%2'").arg(issue.number).arg(name));
        } else {
            log(QStringLiteral("Project assignment failed: ") + added.error().textualForm);
        }
        confirmed.projectName = name;
        confirmed.projectURL = url;
        confirmed.projectFailed = !added.ok();
        confirmed.isV2Project = isV2;
    }
    m_appState->showIsland(confirmed);
    log(QStringLiteral("Issue created: #%1 on %2").arg(issue.number).arg(repoFullName));
}

namespace {

// Tries at a file that keeps changing under the annotation before it is left alone.
constexpr int kAnnotationAttempts = 3;

// The line of `bytes` that takes this issue's reference: of the TODOs with its hash, the one
// nearest the line it was detected on, first among those without a reference yet, so that two of
// the same text each get their own. Nothing when the TODO is gone or one of them holds it already.
qint64 lineForReference(const QByteArray& bytes,
                        const QString& path,
                        qint64 lineNumber,
                        qint64 issueNumber,
                        const QString& contentHash)
{
    const QList<SourceLines::Span> lines = SourceLines::split(bytes);
    qint64 target = 0;
    bool targetBare = false;
    qint64 targetDistance = 0;
    for (const ParsedTodo& t : TodoParser::parseUtf8(bytes, path)) {
        if (t.contentHash != contentHash)
            continue;
        const SourceLines::Span span = lines[t.lineNumber - 1];
        if (SourceLines::isAnnotated(QString::fromUtf8(bytes.mid(span.start, span.end - span.start)), issueNumber))
            return 0;
        const bool bare = !t.isAnnotated;
        const qint64 distance = qAbs(t.lineNumber - lineNumber);
        if (target == 0 || (bare && !targetBare) || (bare == targetBare && distance < targetDistance)) {
            target = t.lineNumber;
            targetBare = bare;
            targetDistance = distance;
        }
    }
    return target;
}

} // namespace

void AppDelegate::annotateSourceFile(const QByteArray& localPath,
                                     qint64 lineNumber,
                                     qint64 issueNumber,
                                     const QString& issueURL,
                                     const QString& contentHash)
{
    const QString path = QFile::decodeName(localPath);
    const auto leftWithout = [&](qint64 line, const QString& reason) {
        log(QStringLiteral("Left %1:%2 without the issue reference: %3").arg(path, QString::number(line), reason));
    };
    for (int attempt = 1;; ++attempt) {
        // Opened by its bytes: a name that is not UTF-8 has no text that opens it.
        const std::optional<FileSnapshot> read = readFileSnapshot(localPath);
        if (!read || !isValidUtf8(read->bytes))
            return;
        const QByteArray& bytes = read->bytes;

        // The file may have changed since detection: annotate the line that holds this TODO now,
        // and nothing when the TODO is gone.
        const qint64 target = lineForReference(bytes, path, lineNumber, issueNumber, contentHash);
        if (target == 0)
            return;
        const std::optional<QByteArray> annotated = SourceLines::annotate(bytes, target, issueNumber, issueURL);
        if (!annotated) {
            leftWithout(target, QStringLiteral("it would change the TODO's text"));
            return;
        }

        switch (replaceUnchangedFile(localPath, *read, *annotated)) {
        case Replacement::written:
        case Replacement::failed:
            break;
        case Replacement::changed:
            if (attempt < kAnnotationAttempts)
                continue;
            leftWithout(target, QStringLiteral("the file kept changing"));
            return;
        case Replacement::readOnly:
            leftWithout(target, QStringLiteral("the file is read-only"));
            return;
        case Replacement::ownedByAnother:
            leftWithout(target, QStringLiteral("the file belongs to another user"));
            return;
        case Replacement::hardLinked:
            leftWithout(target, QStringLiteral("the file has more than one hard link"));
            return;
        }

        if (FileWatcher* watcher = m_appState->fileWatcher())
            watcher->updateCache(localPath, QString::fromUtf8(*annotated));
        return;
    }
}

} // namespace jw
