#pragma once

#include "app/AppState.h"
#include "app/CreatedIssue.h"
#include "app/github/GitHubClient.h"
#include "app/models/AppSettings.h"
#include "app/models/ProjectCache.h"
#include "app/models/WatchedDirectory.h"
#include "platform/store/ModelContainer.h"

#include <QHash>
#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QAbstractButton;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class QVBoxLayout;

namespace jw {

class OwnerFetches;
class ProjectDropdownButton;

// The content of the menu-bar window: the pause switch, the token, the watched directories with
// a project picker each, the most recent issues, and the quit button. Every action takes effect
// at once; the lists follow the store and the shared state.
class SettingsView : public QWidget
{
    Q_OBJECT
public:
    // Fixed texts, translated where they are shown.
    static constexpr const char* kChooserMessage = QT_TR_NOOP("Choose a project directory to watch for TODO comments");
    static inline const QString kMaskedToken = QStringLiteral("ghp_") + QString(16, QChar(0x2022));
    static constexpr int kRecentRows = 5;
    // The line under the token field when the keyring stands in the way.
    static constexpr const char* kNoKeyringMessage =
        QT_TR_NOOP("The token cannot be saved: no keyring (Secret Service) is running.");
    static constexpr const char* kLockedAtStartMessage =
        QT_TR_NOOP("The keyring is locked. Unlock it to use the saved token.");
    static constexpr const char* kStayedLockedAtStartMessage =
        QT_TR_NOOP("The keyring stayed locked, so the saved token was not loaded.");
    static constexpr const char* kUnlockToSaveMessage = QT_TR_NOOP("Unlock the keyring to save the token.");
    static constexpr const char* kSaveStayedLockedMessage =
        QT_TR_NOOP("The token was not saved: the keyring stayed locked.");
    // The line under the directory rows when some of their folders cannot be watched.
    static constexpr const char* kWatchLimitMessage =
        QT_TR_NOOP("Changes in some folders of %1 are missed: the system's limit on file watches is reached"
                   " (fs.inotify.max_user_watches).");

    // What the panel asks of the desktop. Tests replace it (a "next answer" seam for the modal
    // chooser); the default uses the real dialogs, browser and application.
    struct Desktop
    {
        // The chosen directory's local path, or an empty text when cancelled.
        std::function<QString(QWidget* parent, const QString& message)> chooseDirectory;
        std::function<void(const QUrl&)> openUrl;
        std::function<void()> quit;
    };
    static Desktop defaultDesktop();
    static void setDesktopForTesting(std::optional<Desktop> desktop);

    SettingsView(AppState* appState,
                 store::ModelContext* modelContext,
                 QUrl projectsApiBaseUrl = GitHubClient::kDefaultBaseUrl,
                 QWidget* parent = nullptr);
    ~SettingsView() override;

    void beginTokenChange();
    void saveToken();
    void addDirectory();
    void removeDirectory(const std::shared_ptr<WatchedDirectory>& directory);
    void setWatching(bool value);
    void openIssue(const CreatedIssue& issue);
    void quit();
    void restartWatcher();

    const QString& tokenInput() const { return m_tokenInput; }
    bool showTokenField() const { return m_showTokenField; }
    // The line under the token field; empty when there is nothing to say.
    QString tokenMessage() const;
    // The live queries as they stand now.
    const std::vector<std::shared_ptr<AppSettings>>& settings();
    const std::vector<std::shared_ptr<WatchedDirectory>>& directories();
    const std::vector<std::shared_ptr<ProjectCache>>& cachedProjects();

    // The pickers of the directory rows, in row order.
    QList<ProjectDropdownButton*> projectPickers() const;

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    struct DirectoryRow
    {
        QWidget* row = nullptr;
        QLabel* path = nullptr;
        ProjectDropdownButton* picker = nullptr;
        QAbstractButton* remove = nullptr;
    };

    void buildUi();
    QWidget* buildHeader();
    QGroupBox* buildTokenBox();
    QGroupBox* buildDirectoriesBox();
    QGroupBox* buildRecentBox();
    QWidget* buildFooter();
    QWidget* makeDirectoryRow(const std::shared_ptr<WatchedDirectory>& directory);

    void storeChanged();
    void reloadQueries();
    void scheduleRefresh();
    void refresh();
    void refreshHeader();
    void refreshToken();
    void refreshDirectories();
    void refreshWatchNotice();
    void refreshRecent();
    void refreshDates();
    void recolour();
    void updateTabOrder();

    QPointer<AppState> m_appState;
    QPointer<store::ModelContext> m_modelContext;
    QUrl m_projectsApiBaseUrl;

    std::vector<std::shared_ptr<AppSettings>> m_settings;
    std::vector<std::shared_ptr<WatchedDirectory>> m_directories;
    std::vector<std::shared_ptr<ProjectCache>> m_cachedProjects;
    bool m_queriesStale = true;
    bool m_refreshQueued = false;
    bool m_recolourQueued = false;
    OwnerFetches* m_ownerFetches = nullptr;

    QString m_tokenInput;
    bool m_showTokenField = false;
    // A save handed to the keyring and not answered yet, and what the last save ran into.
    bool m_saving = false;
    QString m_saveMessage;

    QAbstractButton* m_switch = nullptr;
    QPushButton* m_changeButton = nullptr;
    QPushButton* m_addButton = nullptr;
    QPushButton* m_quitButton = nullptr;
    QLabel* m_status = nullptr;
    QWidget* m_maskedRow = nullptr;
    QWidget* m_entryRow = nullptr;
    QLineEdit* m_tokenField = nullptr;
    QPushButton* m_saveButton = nullptr;
    QLabel* m_tokenMessage = nullptr;
    QLabel* m_noDirectories = nullptr;
    QVBoxLayout* m_directoryRows = nullptr;
    QLabel* m_watchNotice = nullptr;
    QHash<WatchedDirectory*, DirectoryRow> m_rows;
    QGroupBox* m_recentBox = nullptr;
    QVBoxLayout* m_recentRows = nullptr;
    QTimer* m_dateTimer = nullptr;
};

} // namespace jw
