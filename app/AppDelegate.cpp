#include "app/AppDelegate.h"

#include "app/detection/TreeScanner.h"
#include "app/github/ErrorText.h"
#include "app/github/KeychainHelper.h"
#include "app/models/AppSettings.h"
#include "app/models/Schema.h"
#include "app/models/SeenTodo.h"
#include "app/models/WatchedDirectory.h"
#include "platform/AtomicFile.h"
#include "platform/Log.h"
#include "platform/keychain/Keychain.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QSet>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <utility>

namespace jw {

AppDelegate::AppDelegate()
    : m_appState(std::make_unique<AppState>())
    , m_modelContainer(makeModelContainer())
{
    const QFileInfo store(m_modelContainer->filePath());
    m_filingQueue.setFilePath(store.dir().filePath(store.completeBaseName() + QStringLiteral(".waiting.json")));
    // Queued: the kept TODOs run once whoever handed the token over has finished.
    connect(m_appState.get(),
            &AppState::githubTokenChanged,
            this,
            &AppDelegate::fileTodosKeptForTheToken,
            Qt::QueuedConnection);
    connect(&m_filingQueue, &FilingQueue::released, this, [this](const ParsedTodo& todo, WaitReason reason) {
        // Each goes through every check again: the watch switch and the repository are read now.
        runTodo(todo, m_modelContainer->mainContext(), reason != WaitReason::token);
    });
}

AppDelegate::~AppDelegate()
{
    // The watcher's handler must not outlive the delegate it reports to.
    m_appState->setFileWatcher(nullptr);
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
    offerWhatWaited(context);

    m_bootstrapRan = true;
    logBootstrapCompleteOnceSettled();
}

void AppDelegate::loadToken()
{
    m_tokenAsked = true;
    KeychainHelper::loadTokenInBackground(
        this,
        [this] {
            m_appState->setKeyringState(KeyringState::waitingForUnlock);
            log(QStringLiteral("Keyring is locked; the token will be loaded once it is unlocked"));
            m_tokenSettled = true;
            m_filingQueue.setKeyringAnswered();
            logBootstrapCompleteOnceSettled();
        },
        [this](const TokenLoad& load) {
            const bool waited = m_appState->keyringState() == KeyringState::waitingForUnlock;
            if (load.status == KeychainStatus::notAvailable) {
                m_appState->setKeyringState(KeyringState::notRunning);
                log(QStringLiteral("Keyring not reachable: no Secret Service is running on the session bus"));
                // It often starts after the program at log-in.
                if (!std::exchange(m_watchingForKeyring, true))
                    Keychain::whenServiceAppears(this, [this] {
                        m_watchingForKeyring = false;
                        log(QStringLiteral("A Secret Service appeared on the session bus; loading the token"));
                        loadToken();
                    });
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
            m_filingQueue.setKeyringAnswered();
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

bool AppDelegate::keepIfItMustWait(const ParsedTodo& todo)
{
    const KeyringState keyring = m_appState->keyringState();
    const bool tokenToCome = (m_tokenAsked && !m_tokenSettled) || keyring == KeyringState::waitingForUnlock
                             || keyring == KeyringState::stayedLocked || keyring == KeyringState::notRunning;
    // Once TODOs wait, a new one takes its turn behind them, even when the token is just in.
    if ((!m_appState->githubToken() && tokenToCome) || m_filingQueue.holds(WaitReason::token)) {
        m_filingQueue.keep(todo, WaitReason::token);
        return true;
    }
    if (const std::optional<WaitReason> hold = m_filingQueue.hold()) {
        m_filingQueue.keep(todo, *hold);
        return true;
    }
    return false;
}

void AppDelegate::fileTodosKeptForTheToken()
{
    if (m_appState->githubToken() && m_filingQueue.holds(WaitReason::token))
        m_filingQueue.release(WaitReason::token);
}

void AppDelegate::offerWhatWaited(store::ModelContext* context)
{
    // By place too: of two TODOs of one text, one may be filed while the other waits.
    QSet<QString> filed;
    const auto key = [](const QString& hash, const QString& path, qint64 line) {
        return hash + QLatin1Char('\n') + path + QLatin1Char('\n') + QString::number(line);
    };
    if (auto seen = context->fetch<SeenTodo>())
        for (const auto& record : seen.value())
            filed.insert(key(record->contentHash(), record->filePath(), record->lineNumber()));
    qsizetype offered = 0;
    for (const ParsedTodo& stored : m_filingQueue.takeStored()) {
        if (filed.contains(key(stored.contentHash, stored.filePath, stored.lineNumber)))
            continue;
        const auto dropped = [&](const QString& why) {
            log(QStringLiteral("Not offering again %1:%2: %3")
                    .arg(stored.filePath, QString::number(stored.lineNumber), why));
        };
        // The watcher's cap: a larger file is never read whole on the GUI thread.
        struct stat st;
        if (::stat(stored.localPath.constData(), &st) == 0 && st.st_size > TreeScanner::kMaxFileBytes) {
            dropped(QStringLiteral("the file is larger than 32 MiB"));
            continue;
        }
        // Opened by its bytes: a name that is not UTF-8 has no text that opens it.
        const std::optional<FileSnapshot> read = readFileSnapshot(stored.localPath);
        if (!read) {
            dropped(QStringLiteral("the file cannot be read"));
            continue;
        }
        const QByteArray& bytes = read->bytes;
        if (!isValidUtf8(bytes))
            continue;
        // The TODO as it stands now, on its line now; nothing when its text changed or it is gone.
        std::optional<ParsedTodo> standing;
        for (const ParsedTodo& t : TodoParser::parseUtf8(bytes, stored.filePath)) {
            if (t.contentHash != stored.contentHash || t.isAnnotated)
                continue;
            if (!standing || t.lineNumber == stored.lineNumber)
                standing = t;
        }
        if (!standing)
            continue;
        standing->localPath = stored.localPath;
        // It waits for the token like one detected now, then takes its turn.
        m_filingQueue.keep(*standing, WaitReason::token);
        ++offered;
    }
    if (offered == 0)
        return;
    log(QStringLiteral("Offering again %1 left waiting when the program last ended")
            .arg(offered == 1 ? QStringLiteral("1 TODO") : QStringLiteral("%1 TODOs").arg(offered)));
    QMetaObject::invokeMethod(this, &AppDelegate::fileTodosKeptForTheToken, Qt::QueuedConnection);
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
