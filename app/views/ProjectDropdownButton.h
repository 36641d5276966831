#pragma once

#include "app/github/GitHubClient.h"
#include "app/github/GitHubProjectsClient.h"
#include "app/models/ProjectCache.h"
#include "app/models/WatchedDirectory.h"
#include "platform/store/ModelContainer.h"

#include <QAbstractButton>
#include <QColor>
#include <QCoroTask>
#include <QPointer>
#include <QSet>
#include <QUrl>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QMenu;

namespace jw {

using ProjectList = std::vector<std::shared_ptr<ProjectCache>>;

// What the pickers of one panel know of their owners' board fetches: the owners whose fetch is on
// its way, and those whose last answer held no board (kept until Refresh Projects asks again).
class OwnerFetches : public QObject
{
public:
    using QObject::QObject;
    QSet<QString> running;
    QSet<QString> empty;
};

// The capsule-shaped menu button of a directory row: shows the board chosen for the directory,
// lets the user choose another or none, and lists the owner's boards from GitHub into the store.
class ProjectDropdownButton : public QAbstractButton
{
    Q_OBJECT
public:
    // Fixed texts, translated where they are shown.
    static constexpr const char* kRefreshText = QT_TR_NOOP("Refresh Projects");
    static constexpr const char* kFetchingText = QT_TR_NOOP("Fetching\u2026");
    static constexpr const char* kNoProjectText = QT_TR_NOOP("No project");
    static constexpr const char* kNoRemoteText = QT_TR_NOOP("Could not resolve git remote");
    static inline const QString kCheckMark = QString(QChar(0x2713));

    // A menu item's text, with the trailing check mark when it is the current choice.
    static QString markedText(const QString& text, bool marked);

    ProjectDropdownButton(std::shared_ptr<WatchedDirectory> directory,
                          ProjectList cachedProjects,
                          std::optional<QString> token,
                          store::ModelContext* modelContext,
                          QUrl apiBaseUrl = GitHubClient::kDefaultBaseUrl,
                          QWidget* parent = nullptr);
    ~ProjectDropdownButton() override;

    const std::shared_ptr<WatchedDirectory>& directory() const { return m_directory; }
    const ProjectList& cachedProjects() const { return m_cachedProjects; }
    void setCachedProjects(ProjectList projects);
    const std::optional<QString>& token() const { return m_token; }
    void setToken(std::optional<QString> token);
    // Shared with the panel's other pickers, so that an owner is asked once at a time; none: every
    // refresh fetches.
    void setOwnerFetches(OwnerFetches* fetches) { m_ownerFetches = fetches; }
    bool isFetching() const { return m_isFetching; }
    const std::optional<QString>& fetchError() const { return m_fetchError; }

    std::shared_ptr<ProjectCache> selectedProject() const;
    std::vector<std::pair<QString, ProjectList>> groupedProjects() const { return groupProjects(m_cachedProjects); }
    // Owners ascending, boards by display name ascending, both by Unicode scalar values of the
    // canonically composed texts.
    static std::vector<std::pair<QString, ProjectList>> groupProjects(const ProjectList& projects);

    void refreshButtonAction();
    void clearSelection();
    void select(const std::shared_ptr<ProjectCache>& project);
    void autoFetchIfNeeded();
    QCoro::Task<> refreshProjects();
    std::optional<QString> resolveRepo() const;

    // The menu as it stands; rebuilt whenever what it shows changes (after a choice, on the next turn of the event
    // loop). An open menu keeps its items: only the refresh item follows, and the rest waits for the next opening.
    QMenu* menu() const { return m_menu; }
    QString faceText() const;
    QString faceSymbolName() const;
    QColor faceTextColor() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

Q_SIGNALS:
    void isFetchingChanged(bool value);
    void fetchErrorChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    static QCoro::Task<> runRefresh(QPointer<ProjectDropdownButton> button, bool automatic);
    void setIsFetching(bool value);
    void setFetchError(std::optional<QString> value);
    void rebuildMenu();
    void describeFace();
    void popUpMenu();
    QFont faceFont() const;

    std::shared_ptr<WatchedDirectory> m_directory;
    ProjectList m_cachedProjects;
    std::optional<QString> m_token;
    QPointer<store::ModelContext> m_modelContext;
    QUrl m_apiBaseUrl;
    QPointer<OwnerFetches> m_ownerFetches;
    bool m_isFetching = false;
    std::optional<QString> m_fetchError;
    QMenu* m_menu;
    QPointer<QAction> m_refreshAction;
    // The unselected face's text colour: reading the fill beneath it draws the group box once.
    mutable std::optional<QColor> m_plainFaceTextColor;
};

} // namespace jw
