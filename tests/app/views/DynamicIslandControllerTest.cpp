#include "IslandTestSupport.h"
#include "app/AppState.h"
#include "app/views/SystemColors.h"
#include "tests/support/ManualClock.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>

#include <gtest/gtest.h>

namespace jw {

using namespace jw::test;

namespace {

// Generous bounds: the close of a hidden panel takes 0.4 s after the hide starts.
constexpr int kWaitMs = 10000;

bool waitExpanded(NotchDrawer* notch)
{
    QPointer<NotchDrawer> guard = notch;
    return QTest::qWaitFor([guard] { return guard && guard->state() == NotchDrawerState::expanded; }, kWaitMs);
}

// ---- The view model table -------------------------------------------------------------

struct Row
{
    const char* name;
    IslandState state;
    const char* icon;
    QColor color;
    IconAnimation animation;
    QString title;
    QString subtitle;
};

void PrintTo(const Row& row, std::ostream* os)
{
    *os << row.name;
}

class ViewModelTable : public ::testing::TestWithParam<Row>
{};

TEST_P(ViewModelTable, FillsIconColourMotionAndTexts)
{
    const Row& row = GetParam();
    DynamicIslandController controller;
    controller.show(row.state);
    const NotchViewModel& vm = *controller.viewModel();
    EXPECT_EQ(vm.icon(), QString::fromLatin1(row.icon));
    EXPECT_EQ(vm.iconColor(), row.color);
    EXPECT_EQ(vm.iconAnimation(), row.animation);
    EXPECT_EQ(vm.title(), row.title);
    EXPECT_EQ(vm.subtitle(), row.subtitle);
    if (row.state.kind != IslandState::Kind::confirmed) {
        EXPECT_FALSE(vm.issueURL().has_value());
        EXPECT_FALSE(vm.projectName().has_value());
        EXPECT_FALSE(vm.projectURL().has_value());
        EXPECT_FALSE(vm.projectFailed());
        EXPECT_FALSE(vm.isV2Project());
    }
}

INSTANTIATE_TEST_SUITE_P(Island,
                         ViewModelTable,
                         ::testing::Values(Row{"detecting",
                                               IslandState::detecting(QStringLiteral("Fix it")),
                                               "gear",
                                               SystemColor::blue(),
                                               IconAnimation::rotating,
                                               QStringLiteral("TODO detected"),
                                               QStringLiteral("Fix it")},
                                           Row{"creating",
                                               IslandState::creating(QStringLiteral("Fix it")),
                                               "arrow.trianglehead.2.counterclockwise",
                                               SystemColor::orange(),
                                               IconAnimation::rotating,
                                               QStringLiteral("Creating issue..."),
                                               QStringLiteral("Fix it")},
                                           Row{"confirmed",
                                               confirmed(42),
                                               "checkmark.circle.fill",
                                               SystemColor::green(),
                                               IconAnimation::pulsing,
                                               QStringLiteral("Pushed #42"),
                                               QStringLiteral("octo/demo")},
                                           Row{"error",
                                               IslandState::error(QStringLiteral("Not a GitHub repository")),
                                               "xmark.circle.fill",
                                               SystemColor::red(),
                                               IconAnimation::none,
                                               QStringLiteral("Failed"),
                                               QStringLiteral("Not a GitHub repository")}),
                         [](const ::testing::TestParamInfo<Row>& p) { return std::string(p.param.name); });

TEST(IslandViewModel, StandardColoursAreTheFamiliarValues)
{
    EXPECT_EQ(SystemColor::blue(), QColor(0, 122, 255));
    EXPECT_EQ(SystemColor::orange(), QColor(255, 149, 0));
    EXPECT_EQ(SystemColor::green(), QColor(52, 199, 89));
    EXPECT_EQ(SystemColor::red(), QColor(255, 59, 48));
}

TEST(IslandViewModel, ConfirmedCopiesTheBoardFieldsAndTheIssueAddress)
{
    DynamicIslandController controller;
    controller.show(
        confirmed(7, QStringLiteral("Roadmap"), QStringLiteral("https://github.com/orgs/octo/projects/1"), true, true));
    const NotchViewModel& vm = *controller.viewModel();
    EXPECT_EQ(vm.issueURL(), QStringLiteral("https://github.com/octo/demo/issues/7"));
    EXPECT_EQ(vm.projectName(), QStringLiteral("Roadmap"));
    EXPECT_EQ(vm.projectURL(), QStringLiteral("https://github.com/orgs/octo/projects/1"));
    EXPECT_TRUE(vm.projectFailed());
    EXPECT_TRUE(vm.isV2Project());
}

TEST(IslandViewModel, IssueNumberIsPlainDecimal)
{
    DynamicIslandController controller;
    controller.show(confirmed(1234567));
    EXPECT_EQ(controller.viewModel()->title(), QStringLiteral("Pushed #1234567"));
    controller.show(confirmed(-3));
    EXPECT_EQ(controller.viewModel()->title(), QStringLiteral("Pushed #-3"));
}

TEST(IslandViewModel, RepeatingAStateAnnouncesNothing)
{
    DynamicIslandController controller;
    const IslandState state = confirmed(42, QStringLiteral("Board"), QStringLiteral("https://x.test/p"), false, true);
    controller.show(state);
    ViewModelSpies spies(controller.viewModel());
    controller.show(state);
    EXPECT_EQ(spies.total(), 0);
    // The countdown still starts again.
    EXPECT_TRUE(controller.isCountingDown());
}

TEST(IslandViewModel, DetectingToCreatingChangesOnlyWhatDiffers)
{
    DynamicIslandController controller;
    controller.show(IslandState::detecting(QStringLiteral("Same title")));
    ViewModelSpies spies(controller.viewModel());
    controller.show(IslandState::creating(QStringLiteral("Same title")));
    // icon, colour and title change; motion, second line and the reset five do not.
    EXPECT_EQ(spies.spies[0]->count(), 1);
    EXPECT_EQ(spies.spies[1]->count(), 1);
    EXPECT_EQ(spies.spies[2]->count(), 0);
    EXPECT_EQ(spies.spies[3]->count(), 1);
    EXPECT_EQ(spies.total(), 3);
}

TEST(IslandViewModel, HiddenLeavesTheViewModelAlone)
{
    DynamicIslandController controller;
    controller.show(IslandState::error(QStringLiteral("boom")));
    ViewModelSpies spies(controller.viewModel());
    controller.show(IslandState::hidden());
    drainEvents();
    EXPECT_EQ(spies.total(), 0);
    EXPECT_EQ(controller.viewModel()->title(), QStringLiteral("Failed"));
}

// ---- Appearances and the countdown ---------------------------------------------------

TEST(IslandController, StartsHidden)
{
    DynamicIslandController controller;
    EXPECT_FALSE(controller.isVisible());
    EXPECT_EQ(controller.notch(), nullptr);
    EXPECT_FALSE(controller.isCountingDown());
    EXPECT_EQ(controller.viewModel()->icon(), QStringLiteral("circle.fill"));
    EXPECT_EQ(controller.viewModel()->iconColor(), SystemColor::blue());
}

TEST(IslandController, ShowReturnsBeforeAnyTaskRuns)
{
    DynamicIslandController controller;
    NotchLog log(controller);
    controller.show(IslandState::detecting(QStringLiteral("t")));
    ASSERT_NE(controller.notch(), nullptr);
    // The object exists at once; its expand has not started.
    EXPECT_EQ(controller.notch()->state(), NotchDrawerState::hidden);
    EXPECT_EQ(controller.notch()->panel(), nullptr);
    EXPECT_TRUE(waitExpanded(controller.notch()));
}

TEST(IslandController, TheNotchObjectIsTheIslandsOwn)
{
    DynamicIslandController controller;
    controller.show(IslandState::detecting(QStringLiteral("t")));
    NotchDrawer* notch = controller.notch();
    ASSERT_NE(notch, nullptr);
    EXPECT_EQ(notch->hoverBehavior(), NotchDrawerHoverBehavior{NotchDrawerHoverBehavior::hapticOnHover});
    EXPECT_FALSE(notch->hoverBehavior().contains(NotchDrawerHoverBehavior::holdWhileHovered));
    EXPECT_EQ(notch->style(), NotchDrawerStyle::standardNotch());
    EXPECT_TRUE(notch->disableCompactLeading());
    EXPECT_TRUE(notch->disableCompactTrailing());
    EXPECT_NE(qobject_cast<QWidget*>(notch->expandedContent()), nullptr);
    EXPECT_EQ(notch->expandedContent()->metaObject()->className(), QByteArray("jw::NotchExpandedView"));
}

// The island stays up for exactly its delay, then its notch hides and closes 0.4 s later.
void expectTakenDownAfter(ManualClock& clock,
                          DynamicIslandController& controller,
                          const NotchLog& log,
                          NotchDrawer* notch,
                          double delay)
{
    clock.advance(delay - 0.001);
    EXPECT_TRUE(controller.isVisible()) << "still up just before " << delay << " s";
    EXPECT_EQ(notch->state(), NotchDrawerState::expanded);
    clock.advance(0.001);
    EXPECT_FALSE(controller.isVisible()) << "taken down at " << delay << " s";
    EXPECT_EQ(notch->state(), NotchDrawerState::hidden);
    EXPECT_FALSE(log.wasReleased(notch)) << "its close is still to come";
    clock.advance(0.4);
    EXPECT_TRUE(log.wasReleased(notch));
    EXPECT_EQ(controller.notch(), nullptr);
}

TEST(IslandController, OneTodoUsesOnePanelObjectAndClosesThreeSecondsAfterConfirmation)
{
    ManualClock clock;
    DynamicIslandController controller;
    NotchLog log(controller);
    controller.show(IslandState::detecting(QStringLiteral("t")));
    NotchDrawer* notch = controller.notch();
    clock.advance(0.4);
    ASSERT_EQ(notch->state(), NotchDrawerState::expanded);
    controller.show(IslandState::creating(QStringLiteral("t")));
    EXPECT_EQ(controller.notch(), notch);
    EXPECT_EQ(controller.viewModel()->title(), QStringLiteral("Creating issue..."));
    EXPECT_FALSE(controller.isCountingDown());
    clock.advance(5);
    EXPECT_TRUE(controller.isVisible()) << "no countdown before a confirmation";
    controller.show(confirmed());
    EXPECT_EQ(controller.notch(), notch);
    EXPECT_TRUE(controller.isCountingDown());

    expectTakenDownAfter(clock, controller, log, notch, 3.0);
    EXPECT_EQ(log.created.size(), 1u);
}

TEST(IslandController, AnErrorClosesAfterFourSeconds)
{
    ManualClock clock;
    DynamicIslandController controller;
    NotchLog log(controller);
    controller.show(IslandState::detecting(QStringLiteral("t")));
    NotchDrawer* notch = controller.notch();
    clock.runQueued();
    controller.show(IslandState::error(QStringLiteral("Not a GitHub repository")));
    EXPECT_EQ(controller.viewModel()->icon(), QStringLiteral("xmark.circle.fill"));
    expectTakenDownAfter(clock, controller, log, notch, 4.0);
}

TEST(IslandController, ASecondConfirmationRestartsTheCountdown)
{
    ManualClock clock;
    DynamicIslandController controller;
    NotchLog log(controller);
    controller.show(confirmed(1));
    NotchDrawer* notch = controller.notch();
    clock.advance(1); // the gap between the two confirmations
    controller.show(confirmed(2));
    expectTakenDownAfter(clock, controller, log, notch, 3.0);
    EXPECT_EQ(log.created.size(), 1u);
}

TEST(IslandController, DetectingCancelsTheCountdownAndResetsTheIssueFields)
{
    ManualClock clock;
    DynamicIslandController controller;
    NotchLog log(controller);
    controller.show(confirmed(5, QStringLiteral("Board"), QStringLiteral("https://x.test/b")));
    NotchDrawer* notch = controller.notch();
    clock.advance(0.4);
    ASSERT_EQ(notch->state(), NotchDrawerState::expanded);
    controller.show(IslandState::detecting(QStringLiteral("next")));
    EXPECT_FALSE(controller.isCountingDown());
    EXPECT_FALSE(controller.viewModel()->issueURL().has_value());
    EXPECT_FALSE(controller.viewModel()->projectName().has_value());

    // Well past the cancelled 3 s the island is still up on the same object.
    clock.advance(4);
    EXPECT_TRUE(controller.isVisible());
    EXPECT_EQ(controller.notch(), notch);
    EXPECT_EQ(notch->state(), NotchDrawerState::expanded);
    EXPECT_TRUE(log.released.empty());

    // Only a later confirmation (or error) takes it down, after its own delay.
    controller.show(confirmed(6));
    expectTakenDownAfter(clock, controller, log, notch, 3.0);
    EXPECT_EQ(log.created.size(), 1u);
}

TEST(IslandController, HiddenWhileHiddenDoesNothing)
{
    DynamicIslandController controller;
    NotchLog log(controller);
    QSignalSpy visible(&controller, &DynamicIslandController::isVisibleChanged);
    controller.show(IslandState::hidden());
    drainEvents();
    EXPECT_EQ(controller.notch(), nullptr);
    EXPECT_FALSE(controller.isVisible());
    EXPECT_TRUE(log.created.empty());
    EXPECT_TRUE(log.released.empty());
    EXPECT_EQ(visible.count(), 0);
}

TEST(IslandController, HiddenTakesTheIslandDownAndNeverSchedulesADismissal)
{
    DynamicIslandController controller;
    NotchLog log(controller);
    controller.show(confirmed());
    NotchDrawer* notch = controller.notch();
    ASSERT_TRUE(waitExpanded(notch));
    controller.show(IslandState::hidden());
    EXPECT_FALSE(controller.isVisible());
    EXPECT_FALSE(controller.isCountingDown());
    // Hiding: the object stays until its hide has finished.
    EXPECT_EQ(controller.notch(), notch);
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.wasReleased(notch); }, kWaitMs));
    EXPECT_EQ(controller.notch(), nullptr);
    // A second hidden after that finds nothing to hide.
    controller.show(IslandState::hidden());
    controller.show(IslandState::hidden());
    drainEvents();
    EXPECT_EQ(log.released.size(), 1u);
}

TEST(IslandController, TheNextAppearanceUsesANewObject)
{
    DynamicIslandController controller;
    NotchLog log(controller);
    controller.show(IslandState::error(QStringLiteral("x")));
    QPointer<NotchDrawer> first = controller.notch();
    controller.show(IslandState::hidden());
    // Released, then deleted: nothing of the first appearance is kept.
    ASSERT_TRUE(QTest::qWaitFor([&] { return first.isNull(); }, kWaitMs));
    EXPECT_EQ(log.released.size(), 1u);
    controller.show(IslandState::detecting(QStringLiteral("y")));
    ASSERT_EQ(log.created.size(), 2u);
    EXPECT_NE(controller.notch(), nullptr);
    EXPECT_TRUE(waitExpanded(controller.notch()));
}

TEST(IslandController, WithoutAMainScreenNothingShowsButTheIslandCountsAsVisible)
{
    DynamicIslandController controller;
    NotchLog log(controller);
    bool hasScreen = false;
    controller.setScreenProvider(
        [&hasScreen]() -> QScreen* { return hasScreen ? QGuiApplication::primaryScreen() : nullptr; });
    controller.show(IslandState::detecting(QStringLiteral("t")));
    NotchDrawer* notch = controller.notch();
    ASSERT_NE(notch, nullptr);
    drainEvents();
    QTest::qWait(200); // time enough for an expand to have begun, were there a screen
    EXPECT_EQ(notch->state(), NotchDrawerState::hidden);
    EXPECT_EQ(notch->panel(), nullptr);
    EXPECT_TRUE(controller.isVisible());

    controller.show(IslandState::creating(QStringLiteral("t")));
    EXPECT_EQ(controller.notch(), notch);
    EXPECT_EQ(log.created.size(), 1u);

    // The dismissal's hide finds the object hidden and returns at once; the object goes.
    controller.show(confirmed());
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.wasReleased(notch); }, kWaitMs));
    EXPECT_FALSE(controller.isVisible());

    // The next appearance tries the main screen again.
    hasScreen = true;
    controller.show(IslandState::detecting(QStringLiteral("u")));
    EXPECT_TRUE(waitExpanded(controller.notch()));
}

// ---- An appearance that arrives while the island is hiding ----------------------------

TEST(IslandController, ANewAppearanceDuringAHiddenIsNeitherHiddenNorDropped)
{
    DynamicIslandController controller;
    NotchLog log(controller);
    controller.show(IslandState::detecting(QStringLiteral("a")));
    NotchDrawer* first = controller.notch();
    ASSERT_TRUE(waitExpanded(first));

    // The hide is decided, and before its task has run a new state arrives.
    controller.show(IslandState::hidden());
    controller.show(IslandState::detecting(QStringLiteral("b")));
    ASSERT_EQ(log.created.size(), 2u);
    QPointer<NotchDrawer> second = controller.notch();
    NotchDrawer* const secondObject = second;
    ASSERT_NE(secondObject, first);
    EXPECT_TRUE(controller.isVisible());

    ASSERT_TRUE(QTest::qWaitFor([&] { return log.wasReleased(first); }, kWaitMs));
    ASSERT_TRUE(waitExpanded(second));
    QTest::qWait(600); // past the first object's close pause
    EXPECT_EQ(controller.notch(), second.data());
    EXPECT_EQ(second->state(), NotchDrawerState::expanded);
    EXPECT_FALSE(log.wasReleased(second));

    // The new object is the one a later dismissal takes down.
    controller.show(confirmed());
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.wasReleased(secondObject); }, kWaitMs));
    EXPECT_EQ(controller.notch(), nullptr);
}

TEST(IslandController, ANewAppearanceDuringADismissalSurvivesIt)
{
    DynamicIslandController controller;
    NotchLog log(controller);
    controller.show(confirmed(1));
    NotchDrawer* first = controller.notch();
    // The countdown has ended and its hide is under way.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !controller.isVisible(); }, kWaitMs));
    ASSERT_FALSE(log.wasReleased(first));
    EXPECT_EQ(controller.notch(), first);

    controller.show(IslandState::detecting(QStringLiteral("b")));
    QPointer<NotchDrawer> second = controller.notch();
    ASSERT_NE(second.data(), first);
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.wasReleased(first); }, kWaitMs));
    EXPECT_EQ(controller.notch(), second.data());
    EXPECT_TRUE(controller.isVisible());
    ASSERT_TRUE(waitExpanded(second));
    QTest::qWait(600);
    EXPECT_EQ(second->state(), NotchDrawerState::expanded);
    EXPECT_EQ(controller.heldNotchCount(), 1);
}

TEST(IslandController, HiddenTwiceHidesOnce)
{
    DynamicIslandController controller;
    NotchLog log(controller);
    controller.show(IslandState::detecting(QStringLiteral("a")));
    NotchDrawer* notch = controller.notch();
    ASSERT_TRUE(waitExpanded(notch));
    controller.show(IslandState::hidden());
    controller.show(IslandState::hidden());
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.wasReleased(notch); }, kWaitMs));
    drainEvents();
    EXPECT_EQ(log.released.size(), 1u);
}

TEST(IslandController, ReleasingTheControllerWithTasksPendingIsSafe)
{
    auto controller = std::make_unique<DynamicIslandController>();
    controller->show(confirmed());
    controller->show(IslandState::hidden());
    controller->show(IslandState::error(QStringLiteral("x")));
    drainEvents();
    controller.reset();
    QTest::qWait(700); // let every orphaned task wake and find its objects gone
    SUCCEED();
}

TEST(IslandController, TheSharedStateDrivesTheIsland)
{
    AppState state;
    auto owned = std::make_unique<DynamicIslandController>();
    DynamicIslandController* controller = owned.get();
    state.setIslandController(std::move(owned));
    state.showIsland(IslandState::detecting(QStringLiteral("t")));
    EXPECT_TRUE(controller->isVisible());
    ASSERT_NE(controller->notch(), nullptr);
    EXPECT_EQ(controller->viewModel()->title(), QStringLiteral("TODO detected"));
}

} // namespace
} // namespace jw
