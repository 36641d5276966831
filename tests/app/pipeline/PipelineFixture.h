#pragma once

#include "app/AppDelegate.h"
#include "app/views/DynamicIslandController.h"
#include "platform/Sleep.h"
#include "tests/support/FakeGitHubServer.h"
#include "tests/support/LogCapture.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace jw::test {

// The real delegate against a private home, a real git work tree whose origin is on GitHub,
// a keyring item of its own holding the token, real inotify, and the fake GitHub API.
class PipelineFixture : public ::testing::Test
{
protected:
    static inline const QString kToken = QStringLiteral("ghp_pipelineSecret0123456789");

    void SetUp() override;
    void TearDown() override;

    // Creates the delegate and runs the start-up sequence (the watcher scans what exists); then,
    // unless told not to, waits for the token.
    void launch(bool waitForToken = true);

    // Cleared by a test whose keyring is its own: no token is stored here, the program's own
    // account is used, and launch() does not wait for a token.
    bool m_storesToken = true;

    QString repoPath() const { return m_repo; }
    QString file(const QString& name) const { return m_repo + QLatin1Char('/') + name; }
    void writeFile(const QString& name, const QByteArray& bytes);
    void appendToFile(const QString& name, const QByteArray& bytes);
    // The way editors save: a temporary file renamed over the target.
    void replaceAtomically(const QString& name, const QByteArray& bytes);
    void sedInPlace(const QString& name, const QString& expression);
    QByteArray readFile(const QString& name) const;

    // 201 with an issue of this number.
    static FakeResponse issueAnswer(qint64 number);
    static QString issueUrl(qint64 number);

    // Waits until `count` states of `kind` were shown in all.
    bool waitForStates(IslandState::Kind kind, int count = 1, int timeoutMs = 20000);
    QList<IslandState::Kind> kinds() const;
    int issueRequests() const;

    // Set before launch: the states also go to the real island controller.
    bool m_useRealIsland = false;
    DynamicIslandController* m_island = nullptr;

    QTemporaryDir m_home;
    QString m_repo;
    FakeGitHubServer m_server;
    std::unique_ptr<AppDelegate> m_delegate;
    QList<IslandState> m_shown;
    QList<SteadyClock::time_point> m_shownAt;
    LogCapture m_log;
};

} // namespace jw::test
