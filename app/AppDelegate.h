#pragma once

#include "app/AppState.h"
#include "app/FilingQueue.h"
#include "app/detection/TodoParser.h"
#include "app/github/GitHubClient.h"
#include "app/github/GitHubProjectsClient.h"
#include "app/github/RepoInfo.h"
#include "platform/store/ModelContainer.h"

#include <QCoroTask>
#include <QList>
#include <QObject>

#include <functional>
#include <memory>
#include <optional>

namespace jw {

class WatchedDirectory;

// Owns the shared state and the persistent store for the life of the process and runs the
// start-up sequence once launching has finished.
class AppDelegate : public QObject
{
    Q_OBJECT
public:
    using IslandFactory = std::function<std::unique_ptr<IslandPresenter>()>;

    // Opens the store; a store that cannot be opened stops the process.
    AppDelegate();
    ~AppDelegate() override;

    AppState* appState() const { return m_appState.get(); }
    store::ModelContainer* modelContainer() const { return m_modelContainer.get(); }

    // The island controller lives with the views; the scene hands over how to make one.
    void setIslandFactory(IslandFactory factory) { m_islandFactory = std::move(factory); }

    void applicationDidFinishLaunching();
    void bootstrap();
    void startWatching(store::ModelContext* context);
    void setUpIsland();

    static std::unique_ptr<store::ModelContainer> makeModelContainer();

    // The pipeline from a detected TODO to an issue, an annotated line and a record.
    void todoDetected(const ParsedTodo& todo, store::ModelContext* context);
    void handleDetectedTodo(const ParsedTodo& todo, store::ModelContext* context);
    // A quiet run (one tried again after GitHub could not be reached or asked to wait) shows no
    // detecting or creating, only how it ends.
    QCoro::Task<> processTodo(ParsedTodo todo,
                              RepoInfo repo,
                              QString token,
                              store::ModelContext* context,
                              std::shared_ptr<WatchedDirectory> directory,
                              bool quiet = false);
    // Appends the issue reference to the line that holds the TODO with `contentHash`. The path is
    // the bytes the file system names the file by, which need not be UTF-8.
    void annotateSourceFile(const QByteArray& localPath,
                            qint64 lineNumber,
                            qint64 issueNumber,
                            const QString& issueURL,
                            const QString& contentHash);

    // Where the GitHub API lives; tests point it at a local server.
    void setGitHubApiBaseUrl(const QUrl& baseUrl);
    const QUrl& gitHubApiBaseUrl() const { return m_gitHubClient.baseUrl(); }

private:
    // Asks the keyring for the token off the GUI thread; the answer lands in the shared state.
    void loadToken();
    // The start-up line waits for the keyring's first answer, so that it tells the truth.
    void logBootstrapCompleteOnceSettled();

    // While the token is still to come from the keyring, or GitHub cannot take issues now, a
    // detected TODO waits in the filing queue, behind those already waiting. True when kept.
    bool keepIfItMustWait(const ParsedTodo& todo);
    void fileTodosKeptForTheToken();
    void runTodo(const ParsedTodo& todo, store::ModelContext* context, bool quiet);
    // At launch: the TODOs the last run left waiting, each again if it still stands in its file.
    void offerWhatWaited(store::ModelContext* context);

    std::unique_ptr<AppState> m_appState;
    std::unique_ptr<store::ModelContainer> m_modelContainer;
    IslandFactory m_islandFactory;
    GitHubClient m_gitHubClient;
    GitHubProjectsClient m_projectsClient;
    bool m_bootstrapRan = false;
    bool m_tokenAsked = false;
    bool m_tokenSettled = false;
    bool m_bootstrapLogged = false;
    bool m_watchingForKeyring = false;
    FilingQueue m_filingQueue{m_appState.get()};
};

} // namespace jw
