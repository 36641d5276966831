#include "app/AppState.h"

#include "tests/support/LogCapture.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

namespace jw {
namespace {

class RecordingPresenter : public IslandPresenter
{
public:
    explicit RecordingPresenter(QList<IslandState>* shown)
        : m_shown(shown)
    {
    }
    void show(const IslandState& state) override { m_shown->append(state); }
    bool isVisible() const override { return false; }

private:
    QList<IslandState>* m_shown;
};

IslandState confirmedState()
{
    return IslandState::confirmed(QStringLiteral("t"),
                                  QStringLiteral("octo/demo"),
                                  42,
                                  QStringLiteral("https://github.com/octo/demo/issues/42"),
                                  std::nullopt,
                                  std::nullopt,
                                  false,
                                  false);
}

TEST(AppState, StartsWithItsDefaults)
{
    AppState state;
    EXPECT_TRUE(state.isWatchingEnabled());
    EXPECT_FALSE(state.githubToken().has_value());
    EXPECT_EQ(state.islandState(), IslandState::hidden());
    EXPECT_TRUE(state.recentIssues().isEmpty());
    EXPECT_EQ(state.islandController(), nullptr);
}

TEST(AppState, EqualWritesAreNotAnnounced)
{
    AppState state;
    QSignalSpy token(&state, &AppState::githubTokenChanged);
    QSignalSpy watching(&state, &AppState::isWatchingEnabledChanged);
    state.setGithubToken(QStringLiteral("abc"));
    state.setGithubToken(QStringLiteral("abc"));
    state.setGithubToken(QString()); // an empty token is a value, not an absence
    state.setGithubToken(std::nullopt);
    state.setGithubToken(std::nullopt);
    EXPECT_EQ(token.count(), 3);
    state.setIsWatchingEnabled(true);
    state.setIsWatchingEnabled(false);
    state.setIsWatchingEnabled(false);
    EXPECT_EQ(watching.count(), 1);
}

TEST(AppState, ShowIslandStoresComparesAndAlwaysCallsTheController)
{
    AppState state;
    QList<IslandState> shown;
    {
        test::LogCapture log;
        state.showIsland(IslandState::detecting(QStringLiteral("x")));
        EXPECT_EQ(log.lines(), QStringList{QStringLiteral("showIsland called, controller exists: false")});
        EXPECT_EQ(state.islandState(), IslandState::detecting(QStringLiteral("x")));
    }
    state.setIslandController(std::make_unique<RecordingPresenter>(&shown));
    QSignalSpy changed(&state, &AppState::islandStateChanged);
    test::LogCapture log;
    state.showIsland(IslandState::detecting(QStringLiteral("x")));
    state.showIsland(IslandState::detecting(QStringLiteral("x")));
    state.showIsland(IslandState::creating(QStringLiteral("x")));
    EXPECT_EQ(changed.count(), 1);
    ASSERT_EQ(shown.size(), 3);
    EXPECT_EQ(shown[2], IslandState::creating(QStringLiteral("x")));
    EXPECT_EQ(log.count(QStringLiteral("showIsland called, controller exists: true")), 3);
}

TEST(AppState, RecentIssuesKeepTheNewestTwenty)
{
    AppState state;
    QSignalSpy changed(&state, &AppState::recentIssuesChanged);
    for (int i = 1; i <= 3; ++i)
        state.addRecentIssue(CreatedIssue(QStringLiteral("t"), i, QStringLiteral("o/r"), QString(), {}));
    EXPECT_EQ(state.recentIssues().size(), 3);
    EXPECT_EQ(changed.count(), 3);
    for (int i = 4; i <= 20; ++i)
        state.addRecentIssue(CreatedIssue(QStringLiteral("t"), i, QStringLiteral("o/r"), QString(), {}));
    changed.clear();
    state.addRecentIssue(CreatedIssue(QStringLiteral("t"), 21, QStringLiteral("o/r"), QString(), {}));
    ASSERT_EQ(state.recentIssues().size(), 20);
    EXPECT_EQ(state.recentIssues().first().issueNumber, 21);
    EXPECT_EQ(state.recentIssues().last().issueNumber, 2);
    EXPECT_EQ(changed.count(), 2); // the insertion, then the trim
}

TEST(IslandState, EqualityLooksAtEveryPayloadField)
{
    EXPECT_EQ(IslandState::hidden(), IslandState::hidden());
    EXPECT_NE(IslandState::detecting(QStringLiteral("a")), IslandState::creating(QStringLiteral("a")));
    EXPECT_NE(IslandState::detecting(QStringLiteral("a")), IslandState::detecting(QStringLiteral("b")));
    EXPECT_EQ(IslandState::error(QStringLiteral("m")), IslandState::error(QStringLiteral("m")));

    const IslandState base = confirmedState();
    EXPECT_EQ(base, confirmedState());
    IslandState failed = base;
    failed.projectFailed = true;
    EXPECT_NE(base, failed);
    IslandState withProject = base;
    withProject.projectName = QString();
    EXPECT_NE(base, withProject); // an empty name is still a name
    IslandState v2 = base;
    v2.isV2Project = true;
    EXPECT_NE(base, v2);
    IslandState number = base;
    number.issueNumber = 420;
    EXPECT_NE(base, number);
}

TEST(IslandState, DescriptionKeepsPercentSignsOfItsTexts)
{
    EXPECT_EQ(IslandState::confirmed(QStringLiteral("use %1"),
                                     QStringLiteral("o/r%2"),
                                     7,
                                     QStringLiteral("u"),
                                     QStringLiteral("p%3"),
                                     std::nullopt,
                                     true,
                                     false)
                  .debugDescription()
                  .toStdString(),
              "confirmed(\"use %1\", o/r%2#7, project: p%3, failed)");
}

} // namespace
} // namespace jw
