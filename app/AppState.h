#pragma once

#include "app/CreatedIssue.h"
#include "app/IslandPresenter.h"
#include "app/IslandState.h"
#include "app/detection/FileWatcher.h"

#include <QList>
#include <QObject>

#include <memory>
#include <optional>

namespace jw {

// What the program last learned of the keyring that holds the token.
enum class KeyringState
{
    available,        // reached, or not asked yet
    notRunning,       // nothing owns the Secret Service name on the session bus
    waitingForUnlock, // locked: its unlock prompt is up and the token comes once it is answered
    stayedLocked,     // locked: the unlock prompt was dismissed, so the token was not loaded
};

// The program's one observable state object, used on the GUI thread only. Writes of the
// watch switch, the token and the island state announce a change only when the value differs.
class AppState : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isWatchingEnabled READ isWatchingEnabled WRITE setIsWatchingEnabled NOTIFY isWatchingEnabledChanged)

public:
    static constexpr int kMaxRecentIssues = 20;

    explicit AppState(QObject* parent = nullptr);
    ~AppState() override;

    bool isWatchingEnabled() const { return m_isWatchingEnabled; }
    void setIsWatchingEnabled(bool value);

    const std::optional<QString>& githubToken() const { return m_githubToken; }
    void setGithubToken(const std::optional<QString>& value);

    KeyringState keyringState() const { return m_keyringState; }
    void setKeyringState(KeyringState value);

    const IslandState& islandState() const { return m_islandState; }

    const QList<CreatedIssue>& recentIssues() const { return m_recentIssues; }
    void setRecentIssues(const QList<CreatedIssue>& issues);
    void addRecentIssue(const CreatedIssue& issue);

    FileWatcher* fileWatcher() const { return m_fileWatcher.get(); }
    void setFileWatcher(std::unique_ptr<FileWatcher> watcher);

    IslandPresenter* islandController() const { return m_islandController.get(); }
    void setIslandController(std::unique_ptr<IslandPresenter> controller);

    // The only road to the island: logs, stores the state, and hands it to the controller.
    void showIsland(const IslandState& state);

Q_SIGNALS:
    void isWatchingEnabledChanged(bool value);
    void githubTokenChanged();
    void keyringStateChanged();
    void islandStateChanged(const jw::IslandState& state);
    void recentIssuesChanged();
    void fileWatcherChanged();
    void islandControllerChanged();

private:
    void setIslandState(const IslandState& state);

    bool m_isWatchingEnabled = true;
    std::optional<QString> m_githubToken;
    KeyringState m_keyringState = KeyringState::available;
    IslandState m_islandState;
    QList<CreatedIssue> m_recentIssues;
    std::unique_ptr<FileWatcher> m_fileWatcher;
    std::unique_ptr<IslandPresenter> m_islandController;
};

} // namespace jw
