#include "app/AppDelegate.h"

#include "app/github/ErrorText.h"
#include "app/github/KeychainHelper.h"
#include "app/models/AppSettings.h"
#include "app/models/Schema.h"
#include "app/models/SeenTodo.h"
#include "app/models/WatchedDirectory.h"
#include "platform/Log.h"
#include "platform/keychain/Keychain.h"

#include <QPointer>
#include <QSet>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace jw {

namespace {

// The TODOs of one save, or of files saved together (the watcher groups a burst over 0.25 s),
// make one notice.
constexpr std::chrono::milliseconds kKeyringNoticeGathering(500);

QString todoCount(qsizetype count)
{
    return count == 1 ? QStringLiteral("1 TODO") : QStringLiteral("%1 TODOs").arg(count);
}

QString keyringNotice(qsizetype count)
{
    return QStringLiteral("Keyring locked: ") + todoCount(count)
           + (count == 1 ? QStringLiteral(" waits") : QStringLiteral(" wait"))
           + QStringLiteral(" for it to be unlocked");
}

} // namespace

AppDelegate::AppDelegate()
    : m_appState(std::make_unique<AppState>())
    , m_modelContainer(makeModelContainer())
{
    m_keyringNoticeTimer.setSingleShot(true);
    m_keyringNoticeTimer.setInterval(kKeyringNoticeGathering);
    connect(&m_keyringNoticeTimer, &QTimer::timeout, this, &AppDelegate::tellTheKeyringWait);
    // Queued: the kept TODOs run once whoever handed the token over has finished.
    connect(m_appState.get(),
            &AppState::githubTokenChanged,
            this,
            &AppDelegate::fileTodosKeptForTheToken,
            Qt::QueuedConnection);
}

AppDelegate::~AppDelegate()
{
    // The watcher's handler must not outlive the delegate it reports to.
    m_appState->setFileWatcher(nullptr);
    if (!m_keptForToken.isEmpty()) {
        QStringList where;
        for (const ParsedTodo& todo : std::as_const(m_keptForToken))
            where << todo.filePath + QLatin1Char(':') + QString::number(todo.lineNumber);
        log(QStringLiteral("Quitting with %1 not filed while the keyring was locked: %2")
                .arg(todoCount(m_keptForToken.size()), where.join(QStringLiteral(", "))));
    }
}

void AppDelegate::setGitHubApiBaseUrl(const QUrl& baseUrl)
{
    m_gitHubClient = GitHubClient(baseUrl);
    m_projectsClient = GitHubProjectsClient(baseUrl);
}

std::unique_ptr<store::ModelContainer> AppDelegate::makeModelContainer()
{
    auto container = store::ModelContainer::open(jotwardenSchema(), jotwardenConfiguration());
    if (!container) {
        const QByteArray message =
            "Fatal error: Failed to create model container: " + container.error().toUtf8() + '\n';
        std::fwrite(message.constData(), 1, static_cast<size_t>(message.size()), stderr);
        std::fflush(stderr);
        std::exit(EXIT_FAILURE);
    }
    return std::move(container.value());
}

void AppDelegate::applicationDidFinishLaunching()
{
    bootstrap();
}

void AppDelegate::bootstrap()
{
    store::ModelContext* context = m_modelContainer->mainContext();

    // Until the keyring answers (which waits for the user when it is locked) the program runs as
    // with no token.
    loadToken();

    if (auto count = context->fetchCount<AppSettings>(); count && count.value() == 0) {
        context->insert(std::make_shared<AppSettings>(true));
        (void)context->save();
    }

    // The 20 newest filed issues; records without an issue address neither show nor count.
    if (auto records = context->fetch<SeenTodo>(store::SortDescriptor<SeenTodo>::by(&SeenTodo::createdAt, true))) {
        QList<CreatedIssue> recent;
        for (const auto& record : records.value()) {
            if (!record->issueURL())
                continue;
            recent << CreatedIssue(*record);
            if (recent.size() == AppState::kMaxRecentIssues)
                break;
        }
        m_appState->setRecentIssues(recent);
    }

    startWatching(context);
    setUpIsland();

    m_bootstrapRan = true;
    logBootstrapCompleteOnceSettled();
}

void AppDelegate::loadToken()
{
    KeychainHelper::loadTokenInBackground(
        this,
        [this] {
            m_appState->setKeyringState(KeyringState::waitingForUnlock);
            log(QStringLiteral("Keyring is locked; the token will be loaded once it is unlocked"));
            m_tokenSettled = true;
            logBootstrapCompleteOnceSettled();
        },
        [this](const TokenLoad& load) {
            const bool waited = m_appState->keyringState() == KeyringState::waitingForUnlock;
            if (load.status == KeychainStatus::notAvailable) {
                m_appState->setKeyringState(KeyringState::notRunning);
                log(QStringLiteral("Keyring not reachable: no Secret Service is running on the session bus"));
            } else if (waited && load.status == KeychainStatus::interactionNotAllowed) {
                m_appState->setKeyringState(KeyringState::stayedLocked);
                log(QStringLiteral("Keyring stayed locked; the token was not loaded"));
            } else {
                m_appState->setKeyringState(KeyringState::available);
            }
            if (load.token) {
                m_appState->setGithubToken(load.token);
                if (waited)
                    log(QStringLiteral("Token loaded from the keyring once it was unlocked"));
            }
            m_tokenSettled = true;
            logBootstrapCompleteOnceSettled();
        });
}

void AppDelegate::logBootstrapCompleteOnceSettled()
{
    if (!m_bootstrapRan || !m_tokenSettled || m_bootstrapLogged)
        return;
    m_bootstrapLogged = true;
    log(QStringLiteral("Bootstrap complete. Token: ")
        + (m_appState->githubToken() ? QStringLiteral("present") : QStringLiteral("missing")));
}

bool AppDelegate::keepUntilTheTokenComes(const ParsedTodo& todo)
{
    const KeyringState keyring = m_appState->keyringState();
    const bool locked = keyring == KeyringState::waitingForUnlock || keyring == KeyringState::stayedLocked;
    // Once TODOs wait, a new one takes its turn behind them, even when the token is just in.
    if (m_keptForToken.isEmpty() && (m_appState->githubToken() || !locked))
        return false;
    m_keptForToken << todo;
    if (!m_keyringNotice) {
        if (!m_keyringNoticeTimer.isActive())
            m_keyringNoticeTimer.start();
        return true;
    }
    // Said once for this wait; only a notice still on screen takes the new count.
    IslandPresenter* island = m_appState->islandController();
    if (island && island->isVisible() && m_appState->islandState() == IslandState::error(*m_keyringNotice)) {
        m_keyringNotice = keyringNotice(m_keptForToken.size());
        m_appState->showIsland(IslandState::error(*m_keyringNotice));
    }
    return true;
}

void AppDelegate::tellTheKeyringWait()
{
    if (m_keptForToken.isEmpty() || m_keyringNotice)
        return;
    m_keyringNotice = keyringNotice(m_keptForToken.size());
    log(*m_keyringNotice);
    m_appState->showIsland(IslandState::error(*m_keyringNotice));
}

void AppDelegate::fileTodosKeptForTheToken()
{
    if (!m_appState->githubToken() || m_keptForToken.isEmpty())
        return;
    m_keyringNoticeTimer.stop();
    m_keyringNotice.reset();
    // Each goes through every check again: the watch switch and the repository are read now.
    const QList<ParsedTodo> kept = std::exchange(m_keptForToken, {});
    for (const ParsedTodo& todo : kept)
        handleDetectedTodo(todo, m_modelContainer->mainContext());
}

void AppDelegate::startWatching(store::ModelContext* context)
{
    m_appState->setFileWatcher(std::make_unique<FileWatcher>());
    FileWatcher* watcher = m_appState->fileWatcher();

    // Assigned before any stream exists, so no event races with it.
    if (auto seen = context->fetch<SeenTodo>()) {
        QSet<QString> hashes;
        for (const auto& record : seen.value())
            hashes.insert(record->contentHash());
        watcher->setSeenHashes(hashes);
    }

    QPointer<AppDelegate> self(this);
    watcher->onTodoDetected = [self, context](const ParsedTodo& todo) {
        // Runs on the watcher's queue; the delegate outlives the watcher it owns.
        if (AppDelegate* delegate = self.data())
            delegate->todoDetected(todo, context);
    };

    auto directories = context->fetch<WatchedDirectory>();
    if (!directories)
        return;
    QStringList paths;
    for (const auto& d : directories.value())
        if (d->isEnabled())
            paths << d->path();
    if (paths.isEmpty()) {
        log(QStringLiteral("No watched directories configured"));
        return;
    }
    // The list as it prints: each path quoted, with quotes and backslashes escaped.
    QStringList quoted;
    for (const QString& p : paths)
        quoted << quotedPayload(p);
    log(QStringLiteral("Starting watcher for %1 directory(ies): [%2]")
            .arg(paths.size())
            .arg(quoted.join(QStringLiteral(", "))));
    watcher->start(paths, true);
}

void AppDelegate::setUpIsland()
{
    if (m_islandFactory)
        m_appState->setIslandController(m_islandFactory());
}

} // namespace jw
