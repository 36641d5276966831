#pragma once

#include "app/AppState.h"
#include "platform/store/ModelContainer.h"

#include <QObject>

#include <functional>
#include <memory>

namespace jw {

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

private:
    std::unique_ptr<AppState> m_appState;
    std::unique_ptr<store::ModelContainer> m_modelContainer;
    IslandFactory m_islandFactory;
};

} // namespace jw
