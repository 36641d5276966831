#include "app/AppState.h"

#include "platform/Log.h"

namespace jw {

AppState::AppState(QObject* parent)
    : QObject(parent)
{
}

AppState::~AppState() = default;

void AppState::setIsWatchingEnabled(bool value)
{
    if (m_isWatchingEnabled == value)
        return;
    m_isWatchingEnabled = value;
    Q_EMIT isWatchingEnabledChanged(value);
}

void AppState::setGithubToken(const std::optional<QString>& value)
{
    if (m_githubToken == value)
        return;
    m_githubToken = value;
    Q_EMIT githubTokenChanged();
}

void AppState::setKeyringState(KeyringState value)
{
    if (m_keyringState == value)
        return;
    m_keyringState = value;
    Q_EMIT keyringStateChanged();
}

void AppState::setIslandState(const IslandState& state)
{
    if (m_islandState == state)
        return;
    m_islandState = state;
    Q_EMIT islandStateChanged(state);
}

void AppState::setRecentIssues(const QList<CreatedIssue>& issues)
{
    m_recentIssues = issues;
    Q_EMIT recentIssuesChanged();
}

void AppState::addRecentIssue(const CreatedIssue& issue)
{
    m_recentIssues.prepend(issue);
    Q_EMIT recentIssuesChanged();
    if (m_recentIssues.size() > kMaxRecentIssues) {
        m_recentIssues.resize(kMaxRecentIssues);
        Q_EMIT recentIssuesChanged();
    }
}

void AppState::setFileWatcher(std::unique_ptr<FileWatcher> watcher)
{
    m_fileWatcher = std::move(watcher);
    Q_EMIT fileWatcherChanged();
}

void AppState::setIslandController(std::unique_ptr<IslandPresenter> controller)
{
    m_islandController = std::move(controller);
    Q_EMIT islandControllerChanged();
}

void AppState::showIsland(const IslandState& state)
{
    log(QStringLiteral("showIsland called, controller exists: ")
        + (m_islandController ? QStringLiteral("true") : QStringLiteral("false")));
    setIslandState(state);
    // Called even for an unchanged state: the controller restarts its countdown.
    if (m_islandController)
        m_islandController->show(state);
}

} // namespace jw
