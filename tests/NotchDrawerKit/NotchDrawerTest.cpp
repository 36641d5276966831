#include "NotchDrawerKit/FrameAnimator.h"
#include "NotchDrawerKit/NotchContentView.h"
#include "NotchDrawerKit/NotchEnvironment.h"
#include "NotchDrawerKit/NotchView.h"
#include "NotchDrawerKit/NotchlessView.h"
#include "NotchTestSupport.h"
#include "platform/screen/ScreenChangeObserver.h"

#include <QPushButton>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <optional>

namespace jw {

using namespace jw::test;

namespace {

std::unique_ptr<NotchDrawer> notchWithSides(NotchDrawerHoverBehavior behavior = NotchDrawerHoverBehavior::hapticOnHover,
                                            NotchDrawerStyle style = NotchDrawerStyle::standardNotch())
{
    return std::make_unique<NotchDrawer>(
        behavior,
        style,
        [] { return label(QStringLiteral("Expanded")); },
        [] { return label(QStringLiteral("L")); },
        [] { return label(QStringLiteral("Trailing")); });
}

void expandAndWait(NotchDrawer& d)
{
    Call c(d.expand(screen()));
    ASSERT_TRUE(c.wait());
    ASSERT_EQ(d.state(), NotchDrawerState::expanded);
}

// Moves the notch to `state` on the manual clock and lets every pause on the way end.
void bringTo(NotchDrawer& d, ManualClock& clock, NotchDrawerState state)
{
    std::optional<Call> c;
    switch (state) {
    case NotchDrawerState::expanded:
        c.emplace(d.expand(screen()));
        break;
    case NotchDrawerState::compact:
        c.emplace(d.compact(screen()));
        break;
    case NotchDrawerState::hidden:
        c.emplace(d.hide());
        break;
    }
    clock.advance(1);
    ASSERT_TRUE(c->done());
    ASSERT_EQ(d.state(), state);
}

// Panels of earlier tests in this process may still be on their way out.
void waitForNoPanels()
{
    ASSERT_TRUE(QTest::qWaitFor([] { return panelCount() == 0; }, 5000));
}

} // namespace

TEST(NotchDrawer, ShortInitialiserStartsHiddenWithBothSidesDisabledAndNoPanel)
{
    int built = 0;
    NotchDrawer d(NotchDrawerHoverBehavior::hapticOnHover, NotchDrawerStyle::standardNotch(), [&] {
        ++built;
        return label(QStringLiteral("Island"));
    });
    EXPECT_EQ(built, 1);
    EXPECT_TRUE(d.disableCompactLeading());
    EXPECT_TRUE(d.disableCompactTrailing());
    EXPECT_EQ(d.state(), NotchDrawerState::hidden);
    EXPECT_EQ(d.notchSize(), QSizeF(0, 0));
    EXPECT_DOUBLE_EQ(d.menubarHeight(), 0);
    EXPECT_EQ(d.panel(), nullptr);
    EXPECT_EQ(d.namespaceId(), 0u);
    EXPECT_EQ(d.property("state").value<NotchDrawerState>(), NotchDrawerState::hidden);
    EXPECT_EQ(d.property("disableCompactLeading").toBool(), true);
    ASSERT_NE(d.compactLeadingContent(), nullptr);

    // Nothing to show compact: it hides, and being hidden that returns at once.
    Call c(d.compact(screen()));
    EXPECT_TRUE(c.done());
    EXPECT_EQ(d.state(), NotchDrawerState::hidden);
    EXPECT_EQ(d.panel(), nullptr);
}

TEST(NotchDrawer, ExpandFromHiddenCreatesThePanelSpringsWithNotchDampingAndReturnsAfterThePause)
{
    ManualClock clock;
    ScreenScope scope(notchedScreen());
    auto d = notchWithSides();
    Timeline timeline(*d, &clock);
    Call c(d->expand(screen()));
    ASSERT_NE(d->panel(), nullptr) << "the panel exists before the animation starts";
    EXPECT_EQ(d->state(), NotchDrawerState::hidden) << "the animation runs after the current work";
    EXPECT_EQ(d->notchSize(), QSizeF(200, 32));
    EXPECT_DOUBLE_EQ(d->menubarHeight(), 37);

    clock.runQueued();
    ASSERT_EQ(timeline.states(), std::vector{NotchDrawerState::expanded});
    EXPECT_EQ(timeline.entries[0].spring, (Spring{0.4, 0.7}));
    clock.advance(0.399);
    EXPECT_FALSE(c.done()) << "not before the 0.4 s pause has passed";
    clock.advance(0.001);
    EXPECT_TRUE(c.done()) << "and not after";

    Call again(d->expand(screen()));
    EXPECT_TRUE(again.done()) << "already expanded: no animation, no pause";
    clock.advance(1);
    EXPECT_EQ(timeline.entries.size(), 1u);
}

TEST(NotchDrawer, AutomaticStyleDrawsTheNotchButSpringsOpenWithCardDamping)
{
    ScreenScope scope(notchedScreen());
    auto d = notchWithSides(NotchDrawerHoverBehavior::hapticOnHover, NotchDrawerStyle::automatic());
    Timeline timeline(*d);
    expandAndWait(*d);
    ASSERT_EQ(timeline.entries.size(), 1u);
    EXPECT_DOUBLE_EQ(timeline.entries[0].spring.dampingFraction, 0.85);
    auto* root = qobject_cast<NotchContentView*>(d->panel()->contentView());
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->style(), NotchDrawerStyle::standardNotch());
    EXPECT_NE(qobject_cast<NotchView*>(root->surface()), nullptr);
    // Views inside read the drawn style, never `automatic`, and the section they sit in.
    EXPECT_EQ(EnvironmentValues::notchStyle(d->expandedContent()), NotchDrawerStyle::standardNotch());
    EXPECT_EQ(EnvironmentValues::notchSection(d->expandedContent()), NotchDrawerSection::expanded);
    EXPECT_EQ(EnvironmentValues::notchSection(d->compactLeadingContent()), NotchDrawerSection::compactLeading);
    EXPECT_EQ(EnvironmentValues::notchSection(d->compactTrailingContent()), NotchDrawerSection::compactTrailing);
}

TEST(NotchDrawer, CompactOnAScreenThatResolvesToTheCardHidesInstead)
{
    ManualClock clock;
    ScreenScope scope(plainScreen());
    auto d = notchWithSides(NotchDrawerHoverBehavior::hapticOnHover, NotchDrawerStyle::automatic());
    bringTo(*d, clock, NotchDrawerState::expanded);
    auto* root = qobject_cast<NotchContentView*>(d->panel()->contentView());
    EXPECT_NE(qobject_cast<NotchlessView*>(root->surface()), nullptr);
    EXPECT_EQ(EnvironmentValues::notchStyle(d->expandedContent()), NotchDrawerStyle::standardFloating());

    Call c(d->compact(screen()));
    EXPECT_EQ(d->state(), NotchDrawerState::hidden);
    clock.advance(0.399);
    EXPECT_FALSE(c.done()) << "the whole hide is awaited";
    EXPECT_NE(d->panel(), nullptr);
    clock.advance(0.001);
    EXPECT_TRUE(c.done());
    EXPECT_EQ(d->panel(), nullptr);
}

TEST(NotchDrawer, SwitchingBetweenVisibleStatesPassesThroughHiddenAndKeepsThePanel)
{
    ManualClock clock;
    ScreenScope scope(notchedScreen());
    auto d = notchWithSides();
    bringTo(*d, clock, NotchDrawerState::compact);
    const QPointer<NotchDrawerPanel> panel = d->panel();
    ASSERT_NE(panel, nullptr);
    Timeline timeline(*d, &clock);
    Call c(d->expand(screen()));
    clock.runQueued();
    ASSERT_EQ(timeline.states(), std::vector{NotchDrawerState::hidden});
    EXPECT_DOUBLE_EQ(timeline.entries[0].spring.dampingFraction, 1.0);
    clock.advance(0.249);
    EXPECT_EQ(d->state(), NotchDrawerState::hidden) << "hidden for the whole 0.25 s pause";
    clock.advance(0.001);
    ASSERT_EQ(timeline.states(), (std::vector{NotchDrawerState::hidden, NotchDrawerState::expanded}));
    EXPECT_DOUBLE_EQ(timeline.entries[1].spring.dampingFraction, 0.85);
    EXPECT_DOUBLE_EQ(timeline.entries[1].at - timeline.entries[0].at, 0.25);
    clock.advance(0.149);
    EXPECT_FALSE(c.done()) << "the call still takes its own 0.4 s";
    clock.advance(0.001);
    EXPECT_TRUE(c.done());
    EXPECT_EQ(d->panel(), panel.data()) << "the panel on screen is reused";

    // With skip-hide it springs straight across, in the same panel.
    Timeline direct(*d, &clock);
    Call s(d->compact(screen(), true));
    clock.advance(0.4);
    ASSERT_TRUE(s.done());
    ASSERT_EQ(direct.states(), std::vector{NotchDrawerState::compact});
    EXPECT_DOUBLE_EQ(direct.entries[0].spring.dampingFraction, 0.85);
    EXPECT_EQ(d->panel(), panel.data());
}

TEST(NotchDrawer, CompactDuringTheHideThenShowPauseWinsTheRace)
{
    ManualClock clock;
    ScreenScope scope(notchedScreen());
    auto d = notchWithSides();
    bringTo(*d, clock, NotchDrawerState::compact);
    Timeline timeline(*d, &clock);
    Call expand(d->expand(screen()));
    clock.advance(0.1);
    ASSERT_EQ(d->state(), NotchDrawerState::hidden);
    Call compact(d->compact(screen()));
    clock.advance(1);
    ASSERT_TRUE(expand.done());
    ASSERT_TRUE(compact.done());
    // The expand's second half found the state no longer hidden and did nothing.
    EXPECT_EQ(d->state(), NotchDrawerState::compact);
    ASSERT_EQ(timeline.states(), (std::vector{NotchDrawerState::hidden, NotchDrawerState::compact}));
    EXPECT_DOUBLE_EQ(timeline.entries[1].spring.dampingFraction, 0.7) << "from hidden with a stored notch style";
    EXPECT_NE(d->panel(), nullptr);
}

TEST(NotchDrawer, HideReturnsAtOnceWhenHiddenAndAfterClosingOtherwise)
{
    ManualClock clock;
    ScreenScope scope(notchedScreen());
    auto d = notchWithSides();
    Call idle(d->hide());
    EXPECT_TRUE(idle.done());

    bringTo(*d, clock, NotchDrawerState::expanded);
    Timeline timeline(*d, &clock);
    Call h(d->hide());
    ASSERT_EQ(timeline.states(), std::vector{NotchDrawerState::hidden}) << "the hide animation starts at once";
    EXPECT_DOUBLE_EQ(timeline.entries[0].spring.dampingFraction, 1.0);
    clock.advance(0.399);
    EXPECT_FALSE(h.done());
    EXPECT_NE(d->panel(), nullptr) << "the panel closes 0.4 s after the hide";
    clock.advance(0.001);
    EXPECT_TRUE(h.done());
    EXPECT_EQ(d->panel(), nullptr);
    EXPECT_TRUE(QTest::qWaitFor([] { return panelCount() == 0; }, 5000));
}

TEST(NotchDrawer, HeldHideWaitsUntilThePointerLeaves)
{
    ManualClock clock;
    ScreenScope scope(notchedScreen());
    auto d = notchWithSides(NotchDrawerHoverBehavior::holdWhileHovered);
    bringTo(*d, clock, NotchDrawerState::expanded);
    d->setHovering(true);
    Call h(d->hide());
    // Looked at again every 0.1 s while the pointer stays.
    clock.runQueued();
    EXPECT_EQ(clock.pending(), std::vector{0.1});
    clock.advance(0.35);
    EXPECT_EQ(d->state(), NotchDrawerState::expanded);
    EXPECT_FALSE(h.done());
    ASSERT_EQ(clock.pending().size(), 1u);
    EXPECT_NEAR(clock.pending()[0], 0.05, 1e-9) << "the fourth look";

    d->setHovering(false);
    clock.advance(0.049);
    EXPECT_EQ(d->state(), NotchDrawerState::expanded);
    clock.advance(0.001);
    EXPECT_EQ(d->state(), NotchDrawerState::hidden) << "the next look after the pointer left hides";
    clock.advance(0.399);
    EXPECT_FALSE(h.done());
    clock.advance(0.001);
    EXPECT_TRUE(h.done());
    EXPECT_EQ(d->panel(), nullptr);
}

TEST(NotchDrawer, HideWhileHoveredWithoutHoldHidesAtOnceAndClearsTheHover)
{
    ManualClock clock;
    ScreenScope scope(notchedScreen());
    auto d = notchWithSides(NotchDrawerHoverBehavior::hapticOnHover | NotchDrawerHoverBehavior::shadowOnHover);
    bringTo(*d, clock, NotchDrawerState::expanded);
    d->setHovering(true);
    ASSERT_TRUE(d->isHovering());
    Call h(d->hide());
    EXPECT_EQ(d->state(), NotchDrawerState::hidden);
    EXPECT_FALSE(d->isHovering());
    clock.advance(0.4);
    EXPECT_TRUE(h.done());
}

TEST(NotchDrawer, ExpandSoonAfterHideCancelsTheCloseAndResumesTheHidesCaller)
{
    ManualClock clock;
    ScreenScope scope(notchedScreen());
    auto d = notchWithSides();
    bringTo(*d, clock, NotchDrawerState::expanded);
    Call h(d->hide());
    clock.advance(0.2);
    Call expand(d->expand(screen()));
    clock.runQueued();
    EXPECT_TRUE(h.done()) << "the cancelled close ends its hide at once";
    EXPECT_EQ(d->state(), NotchDrawerState::expanded);
    // Past the time the close would have happened.
    clock.advance(0.4);
    EXPECT_TRUE(expand.done());
    EXPECT_EQ(d->state(), NotchDrawerState::expanded);
    ASSERT_NE(d->panel(), nullptr);
    EXPECT_TRUE(d->panel()->isVisible());
    EXPECT_TRUE(QTest::qWaitFor([] { return panelCount() == 1; }, 5000));

    // The resumed caller hides again at once, from inside the expand or compact that overtook
    // it: that hide is overtaken as well, and the overtaking call's panel stays.
    for (NotchDrawerState target : {NotchDrawerState::expanded, NotchDrawerState::compact}) {
        SCOPED_TRACE(target == NotchDrawerState::expanded ? "expand" : "compact");
        int outer = 0, nested = 0;
        d->performHide([&] {
            ++outer;
            d->performHide([&] { ++nested; });
        });
        clock.advance(0.2);
        Call again(target == NotchDrawerState::expanded ? d->expand(screen()) : d->compact(screen()));
        clock.advance(2);
        EXPECT_TRUE(again.done());
        EXPECT_EQ(outer, 1);
        EXPECT_EQ(nested, 1);
        EXPECT_EQ(d->state(), target);
        ASSERT_NE(d->panel(), nullptr);
        EXPECT_TRUE(d->panel()->isVisible());
        EXPECT_TRUE(clock.pending().empty());
    }
    bringTo(*d, clock, NotchDrawerState::hidden);
    bringTo(*d, clock, NotchDrawerState::expanded);
    EXPECT_NE(d->panel(), nullptr) << "later calls still show it";
}

// ---- The last call wins ------------------------------------------------------------------------

namespace {

enum class Op
{
    expand,
    compact,
    hide
};

struct Step
{
    Op op;
    // Time let pass before the call; 0 keeps it in the same turn of the event loop as the one before.
    double after = 0;
};

struct Sequence
{
    const char* name;
    NotchDrawerState start;
    std::vector<Step> steps;
};

void PrintTo(const Sequence& sequence, std::ostream* os)
{
    *os << sequence.name;
}

QCoro::Task<> perform(NotchDrawer& d, Op op)
{
    switch (op) {
    case Op::expand:
        return d.expand(screen());
    case Op::compact:
        return d.compact(screen());
    case Op::hide:
        break;
    }
    return d.hide();
}

NotchDrawerState stateAfter(Op op)
{
    switch (op) {
    case Op::expand:
        return NotchDrawerState::expanded;
    case Op::compact:
        return NotchDrawerState::compact;
    case Op::hide:
        break;
    }
    return NotchDrawerState::hidden;
}

class LastCallWins : public ::testing::TestWithParam<Sequence>
{};

} // namespace

TEST_P(LastCallWins, EndsInTheStateOfTheLastCallAndResumesEveryCaller)
{
    const Sequence& sequence = GetParam();
    ManualClock clock;
    ScreenScope scope(notchedScreen());
    waitForNoPanels();
    auto d = notchWithSides();
    if (sequence.start != NotchDrawerState::hidden)
        bringTo(*d, clock, sequence.start);
    std::vector<Call> calls;
    for (const Step& step : sequence.steps) {
        if (step.after > 0)
            clock.advance(step.after);
        calls.emplace_back(perform(*d, step.op));
    }
    // Longer than every pause of every call together.
    clock.advance(2);
    for (size_t i = 0; i < calls.size(); ++i)
        EXPECT_TRUE(calls[i].done()) << "call " << i << " was resumed";
    const NotchDrawerState last = stateAfter(sequence.steps.back().op);
    EXPECT_EQ(d->state(), last);
    EXPECT_TRUE(clock.pending().empty()) << "nothing is left to change it later";
    if (last == NotchDrawerState::hidden) {
        EXPECT_EQ(d->panel(), nullptr);
        EXPECT_TRUE(QTest::qWaitFor([] { return panelCount() == 0; }, 5000));
    } else {
        ASSERT_NE(d->panel(), nullptr);
        EXPECT_TRUE(d->panel()->isVisible());
        EXPECT_TRUE(QTest::qWaitFor([] { return panelCount() == 1; }, 5000));
    }
}

using S = NotchDrawerState;
INSTANTIATE_TEST_SUITE_P(
    NotchDrawer,
    LastCallWins,
    ::testing::Values(
        Sequence{"ExpandHideInOneTurn", S::hidden, {{Op::expand}, {Op::hide}}},
        Sequence{"CompactHideInOneTurn", S::hidden, {{Op::compact}, {Op::hide}}},
        Sequence{"ExpandCompactHideInOneTurn", S::hidden, {{Op::expand}, {Op::compact}, {Op::hide}}},
        Sequence{"ExpandCompactHideAcrossPauses", S::hidden, {{Op::expand}, {Op::compact, 0.4}, {Op::hide, 0.7}}},
        Sequence{"HideInTheHiddenHalfOfASwitch", S::hidden, {{Op::expand}, {Op::compact, 0.4}, {Op::hide, 0.1}}},
        Sequence{"SwitchThenHideInOneTurn", S::expanded, {{Op::compact}, {Op::hide}}},
        Sequence{"HideInTheHiddenHalfOfExpandFromCompact", S::compact, {{Op::expand}, {Op::hide, 0.2}}},
        Sequence{"HideAtTheEndOfTheHiddenHalf", S::compact, {{Op::expand}, {Op::hide, 0.25}}},
        Sequence{"SwitchBackInOneTurn", S::expanded, {{Op::compact}, {Op::expand}}},
        Sequence{"SwitchBackInTheHiddenHalf", S::expanded, {{Op::compact}, {Op::expand, 0.1}}},
        Sequence{"HideThenExpandInOneTurn", S::expanded, {{Op::hide}, {Op::expand}}},
        Sequence{"HideThenCompactDuringTheClosePause", S::expanded, {{Op::hide}, {Op::compact, 0.2}}},
        Sequence{"ExpandHideExpandInOneTurn", S::hidden, {{Op::expand}, {Op::hide}, {Op::expand}}}),
    [](const ::testing::TestParamInfo<Sequence>& p) { return std::string(p.param.name); });

TEST(NotchDrawer, RepeatedCallsInOneTurnAnimateOnce)
{
    ManualClock clock;
    ScreenScope scope(notchedScreen());
    auto d = notchWithSides();
    Timeline timeline(*d, &clock);
    Call first(d->expand(screen()));
    Call second(d->expand(screen()));
    clock.advance(1);
    EXPECT_EQ(timeline.states(), std::vector{NotchDrawerState::expanded}) << "no hide-then-show of itself";

    Timeline again(*d, &clock);
    Call third(d->compact(screen()));
    Call fourth(d->compact(screen()));
    clock.advance(1);
    EXPECT_EQ(again.states(), (std::vector{NotchDrawerState::hidden, NotchDrawerState::compact}));
    EXPECT_TRUE(first.done() && second.done() && third.done() && fourth.done());
}

TEST(NotchDrawer, AnExpandDuringAHeldHideWinsAndTheHidesCallerResumes)
{
    ManualClock clock;
    ScreenScope scope(notchedScreen());
    auto d = notchWithSides(NotchDrawerHoverBehavior::holdWhileHovered);
    bringTo(*d, clock, NotchDrawerState::expanded);
    d->setHovering(true);
    Call h(d->hide());
    clock.advance(0.15);
    Call e(d->expand(screen()));
    EXPECT_TRUE(e.done()) << "already expanded";
    clock.advance(0.1);
    EXPECT_TRUE(h.done()) << "its next look finds it overtaken";
    d->setHovering(false);
    clock.advance(1);
    EXPECT_EQ(d->state(), NotchDrawerState::expanded);
    EXPECT_NE(d->panel(), nullptr);
}

TEST(NotchDrawer, AHeldHideOvertakenByAnotherHideReturnsWithIt)
{
    ManualClock clock;
    ScreenScope scope(notchedScreen());
    auto d = notchWithSides(NotchDrawerHoverBehavior::holdWhileHovered);
    bringTo(*d, clock, NotchDrawerState::expanded);
    d->setHovering(true);
    Call first(d->hide());
    clock.advance(0.15);
    Call second(d->hide());
    clock.advance(0.5);
    EXPECT_EQ(d->state(), NotchDrawerState::expanded);
    EXPECT_FALSE(first.done()) << "still expanded with its panel up";
    EXPECT_FALSE(second.done());

    d->setHovering(false);
    clock.advance(0.1);
    EXPECT_EQ(d->state(), NotchDrawerState::hidden);
    clock.advance(0.399);
    EXPECT_FALSE(first.done()) << "not before the panel has closed";
    clock.advance(0.001);
    EXPECT_TRUE(first.done());
    EXPECT_TRUE(second.done());
    EXPECT_EQ(d->panel(), nullptr);

    // An expand that overtakes the later hide resumes both callers, as it does a single one.
    bringTo(*d, clock, NotchDrawerState::expanded);
    d->setHovering(true);
    Call third(d->hide());
    clock.advance(0.15);
    Call fourth(d->hide());
    clock.advance(0.15);
    Call expand(d->expand(screen()));
    clock.advance(0.2);
    EXPECT_TRUE(third.done());
    EXPECT_TRUE(fourth.done());
    EXPECT_EQ(d->state(), NotchDrawerState::expanded);
    d->setHovering(false);
    clock.advance(1);
    EXPECT_EQ(d->state(), NotchDrawerState::expanded);

    // Released while both wait: no pointer will leave a notch that is gone, and both resume.
    d->setHovering(true);
    Call fifth(d->hide());
    clock.advance(0.15);
    Call sixth(d->hide());
    d.reset();
    EXPECT_TRUE(QTest::qWaitFor([&] { return fifth.done() && sixth.done(); }, 5000));
}

TEST(NotchDrawer, HoverChangesPlayOneHapticEachAndOnlyWhileShown)
{
    HapticsScope haptics;
    ScreenScope scope(notchedScreen());
    auto d = notchWithSides(NotchDrawerHoverBehavior::hapticOnHover);
    QSignalSpy spy(d.get(), &NotchDrawer::isHoveringChanged);
    d->setHovering(true);
    EXPECT_FALSE(d->isHovering());
    EXPECT_EQ(haptics.haptics->count, 0);

    expandAndWait(*d);
    d->setHovering(true);
    d->setHovering(true);
    EXPECT_TRUE(d->isHovering());
    EXPECT_EQ(haptics.haptics->count, 1);
    d->setHovering(false);
    EXPECT_FALSE(d->isHovering());
    EXPECT_EQ(haptics.haptics->count, 2);
    EXPECT_EQ(spy.count(), 2);
    EXPECT_EQ(d->state(), NotchDrawerState::expanded) << "hovering never changes the state";

    auto quiet = notchWithSides(NotchDrawerHoverBehavior::shadowOnHover);
    expandAndWait(*quiet);
    quiet->setHovering(true);
    quiet->setHovering(false);
    EXPECT_EQ(haptics.haptics->count, 2);
}

TEST(NotchDrawer, APointerThatLeavesInTheHiddenHalfOfASwitchNoLongerHoldsTheNextHide)
{
    HapticsScope haptics;
    ManualClock clock;
    ScreenScope scope(notchedScreen());
    auto d = notchWithSides(NotchDrawerHoverBehavior::holdWhileHovered | NotchDrawerHoverBehavior::hapticOnHover);
    bringTo(*d, clock, NotchDrawerState::compact);
    d->setHovering(true);
    const int played = haptics.haptics->count;
    Call e(d->expand(screen()));
    clock.advance(0.1);
    ASSERT_EQ(d->state(), NotchDrawerState::hidden);
    // Reported by the notch view as the window system tells it.
    auto* root = qobject_cast<NotchContentView*>(d->panel()->contentView());
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(root->surface(), &leave);
    EXPECT_FALSE(d->isHovering());
    EXPECT_EQ(haptics.haptics->count, played) << "nothing on screen to feel while hidden";
    // Entering is still ignored while hidden: nothing is there to enter.
    d->setHovering(true);
    EXPECT_FALSE(d->isHovering());

    clock.advance(1);
    ASSERT_EQ(d->state(), NotchDrawerState::expanded);
    Call h(d->hide());
    EXPECT_EQ(d->state(), NotchDrawerState::hidden) << "not held for a pointer long gone";
    clock.advance(0.4);
    EXPECT_TRUE(h.done());
}

TEST(NotchDrawer, ReleasedObjectLeavesNoPanelTimerOrObserverBehind)
{
    ManualClock clock;
    ScreenScope scope(notchedScreen());
    waitForNoPanels();
    const int observers = ScreenChangeObserver::liveCount();
    const int animators = FrameAnimator::liveCount();
    {
        auto d = notchWithSides();
        EXPECT_EQ(ScreenChangeObserver::liveCount(), observers + 1);
        bringTo(*d, clock, NotchDrawerState::expanded);
        EXPECT_EQ(FrameAnimator::liveCount(), animators + 1);
        bringTo(*d, clock, NotchDrawerState::hidden);
    }
    EXPECT_EQ(ScreenChangeObserver::liveCount(), observers);
    EXPECT_TRUE(QTest::qWaitFor([&] { return FrameAnimator::liveCount() == animators && panelCount() == 0; }, 5000));
    EXPECT_TRUE(clock.pending().empty());

    // Released while its close is pending: the hide's caller still resumes, nothing stays.
    auto d = notchWithSides();
    bringTo(*d, clock, NotchDrawerState::expanded);
    QPointer<NotchDrawerPanel> panel = d->panel();
    Call h(d->hide());
    d.reset();
    EXPECT_FALSE(panel && panel->isVisible());
    clock.runQueued();
    EXPECT_TRUE(h.done());
    EXPECT_TRUE(clock.pending().empty()) << "no pause is left waiting";
    EXPECT_EQ(ScreenChangeObserver::liveCount(), observers);
    EXPECT_TRUE(QTest::qWaitFor([&] { return FrameAnimator::liveCount() == animators && panelCount() == 0; }, 5000));
}

TEST(NotchDrawer, CanBeReleasedFromAHandlerInsideItsOwnContent)
{
    ScreenScope scope(notchedScreen());
    std::unique_ptr<NotchDrawer> d;
    QPointer<QPushButton> button;
    d = std::make_unique<NotchDrawer>(NotchDrawerHoverBehavior::hapticOnHover, NotchDrawerStyle::standardNotch(), [&] {
        button = new QPushButton(QStringLiteral("Open"));
        QObject::connect(button, &QPushButton::clicked, [&] { d.reset(); });
        return button;
    });
    expandAndWait(*d);
    ASSERT_TRUE(QTest::qWaitFor([&] { return button->isVisible(); }, 5000));
    button->click();
    EXPECT_EQ(d, nullptr);
    EXPECT_TRUE(QTest::qWaitFor([&] { return button.isNull() && panelCount() == 0; }, 5000));
}

TEST(NotchDrawer, ScreenChangeRenewsThePanelOfAShownNotchOnTheFirstScreen)
{
    ManualClock clock;
    ScreenScope scope(notchedScreen());
    auto d = notchWithSides();
    auto* observer = d->findChild<ScreenChangeObserver*>();
    ASSERT_NE(observer, nullptr);
    bringTo(*d, clock, NotchDrawerState::expanded);
    QPointer<NotchDrawerPanel> before = d->panel();
    Q_EMIT observer->screenParametersChanged();
    EXPECT_NE(d->panel(), before.data());
    EXPECT_EQ(d->panel()->targetScreen(), QGuiApplication::screens().first());
    EXPECT_EQ(d->state(), NotchDrawerState::expanded);
    EXPECT_TRUE(QTest::qWaitFor([] { return panelCount() == 1; }, 5000));
    EXPECT_TRUE(d->expandedContent()->isVisibleTo(d->panel())) << "the contents moved to the new panel";

    // In the hidden half of a hide-then-show the panel is still needed for what follows.
    bringTo(*d, clock, NotchDrawerState::compact);
    Call expand(d->expand(screen()));
    clock.advance(0.1);
    ASSERT_EQ(d->state(), NotchDrawerState::hidden);
    before = d->panel();
    Q_EMIT observer->screenParametersChanged();
    ASSERT_NE(d->panel(), nullptr);
    EXPECT_NE(d->panel(), before.data());
    clock.advance(1);
    EXPECT_EQ(d->state(), NotchDrawerState::expanded);
    EXPECT_NE(d->panel(), nullptr);
}

// The pointer was over the panel that went; only the new panel can say whether it still is.
TEST(NotchDrawer, AHeldHideEndsWhenThePanelUnderThePointerIsReplaced)
{
    ManualClock clock;
    ScreenScope scope(notchedScreen());
    auto d = notchWithSides(NotchDrawerHoverBehavior::holdWhileHovered);
    bringTo(*d, clock, NotchDrawerState::expanded);
    d->setHovering(true);
    Call h(d->hide());
    clock.advance(0.25);
    ASSERT_EQ(d->state(), NotchDrawerState::expanded);
    Q_EMIT d->findChild<ScreenChangeObserver*>()->screenParametersChanged();
    EXPECT_FALSE(d->isHovering());
    clock.advance(0.1);
    EXPECT_EQ(d->state(), NotchDrawerState::hidden);
    clock.advance(0.4);
    EXPECT_TRUE(h.done());
}

// On a screen without a housing the hidden notch style is an opaque bar the height of the menu
// bar that would catch clicks: a hidden notch must have no panel.
TEST(NotchDrawer, ScreenChangeWhileHiddenLeavesNoPanelBehind)
{
    ManualClock clock;
    ScreenScope scope(plainScreen());
    auto d = notchWithSides();
    auto* observer = d->findChild<ScreenChangeObserver*>();
    Q_EMIT observer->screenParametersChanged();
    EXPECT_EQ(d->panel(), nullptr) << "never shown";
    EXPECT_EQ(d->state(), NotchDrawerState::hidden);

    // During the pause before the close: the renewed panel closes when the pause ends.
    bringTo(*d, clock, NotchDrawerState::expanded);
    Call h(d->hide());
    clock.advance(0.2);
    Q_EMIT observer->screenParametersChanged();
    clock.advance(0.2);
    EXPECT_TRUE(h.done());
    EXPECT_EQ(d->panel(), nullptr);
    EXPECT_TRUE(QTest::qWaitFor([] { return panelCount() == 0; }, 5000));

    // After the close.
    Q_EMIT observer->screenParametersChanged();
    clock.advance(1);
    EXPECT_EQ(d->panel(), nullptr);
    EXPECT_EQ(panelCount(), 0);

    // The next appearance measures the screen afresh.
    ScreenScope other(notchedScreen());
    bringTo(*d, clock, NotchDrawerState::compact);
    EXPECT_EQ(d->notchSize(), QSizeF(200, 32));
}

TEST(NotchDrawer, CreatingThePanelTwiceLeavesOne)
{
    ScreenScope scope(plainScreen());
    auto d = notchWithSides();
    d->createPanel(screen());
    d->createPanel(screen());
    EXPECT_TRUE(QTest::qWaitFor([] { return panelCount() == 1; }, 5000));
    d->closePanel();
    EXPECT_EQ(d->panel(), nullptr);
    EXPECT_TRUE(QTest::qWaitFor([] { return panelCount() == 0; }, 5000));
    ASSERT_NE(d->expandedContent(), nullptr) << "closing a panel keeps the contents";
}

TEST(NotchDrawerPanel, IsAFramelessNonActivatingWindowAtTheTopCentreThatTakesInputOnlyWhereItPaints)
{
    ScreenScope scope(notchedScreen());
    auto d = notchWithSides();
    expandAndWait(*d);
    NotchDrawerPanel* panel = d->panel();
    const Qt::WindowFlags flags = panel->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowDoesNotAcceptFocus)) << "a click into a caller's field may take the keyboard";
    EXPECT_EQ(panel->windowType(), Qt::Tool);
    EXPECT_TRUE(panel->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_TRUE(panel->testAttribute(Qt::WA_TranslucentBackground));
    EXPECT_EQ(panel->geometry(), QRect(200, 0, 400, 300));

    auto* root = qobject_cast<NotchContentView*>(panel->contentView());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !root->animator()->isRunning(); }, 5000)) << "the frame timer stops";
    const QRegion input = panel->inputRegion();
    EXPECT_TRUE(input.contains(QPoint(200, 5)));
    EXPECT_TRUE(input.contains(QPoint(200, 40)));
    EXPECT_FALSE(input.contains(QPoint(5, 295)));
    EXPECT_FALSE(input.contains(QPoint(395, 5)));
}

TEST(NotchContentView, HandsItsNamespaceToTheNotchObjectOnce)
{
    ScreenScope scope(notchedScreen());
    auto d = notchWithSides();
    expandAndWait(*d);
    auto* first = qobject_cast<NotchContentView*>(d->panel()->contentView());
    EXPECT_NE(d->namespaceId(), 0u);
    EXPECT_EQ(d->namespaceId(), first->namespaceIdentifier());
    const quint64 kept = d->namespaceId();
    d->createPanel(screen());
    auto* second = qobject_cast<NotchContentView*>(d->panel()->contentView());
    EXPECT_NE(second->namespaceIdentifier(), kept);
    EXPECT_EQ(d->namespaceId(), kept);
}

} // namespace jw
