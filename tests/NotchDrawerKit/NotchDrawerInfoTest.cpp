#include "NotchDrawerKit/NotchDrawerInfo.h"

#include "NotchDrawerKit/FrameAnimator.h"
#include "NotchDrawerKit/NotchContentView.h"
#include "NotchDrawerKit/NotchDrawerInfoHelperViews.h"
#include "NotchDrawerKit/NotchEnvironment.h"
#include "NotchTestSupport.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

namespace jw {

using namespace jw::test;

namespace {

using Label = NotchDrawerInfo::Label;
using Style = NotchDrawerInfo::Label::Style;

Label symbol(const char* name = "checkmark.circle.fill", std::optional<QColor> color = std::nullopt)
{
    return Label(QString::fromLatin1(name), color);
}

std::unique_ptr<NotchDrawerInfo> info(std::optional<Label> icon,
                                      std::optional<Label> compactLeading,
                                      std::optional<Label> compactTrailing,
                                      std::optional<QString> description = QStringLiteral("owner/repo"),
                                      NotchDrawerStyle style = NotchDrawerStyle::standardNotch())
{
    return std::make_unique<NotchDrawerInfo>(std::move(icon),
                                             QStringLiteral("Created issue #42"),
                                             std::move(description),
                                             std::move(compactLeading),
                                             std::move(compactTrailing),
                                             NotchDrawerHoverBehavior::hapticOnHover,
                                             style);
}

NotchDrawerInfo::InfoView* infoView(NotchDrawerInfo& i)
{
    return dynamic_cast<NotchDrawerInfo::InfoView*>(i.internalNotchDrawer()->expandedContent());
}
NotchDrawerInfo::CompactLeadingView* leadingView(NotchDrawerInfo& i)
{
    return dynamic_cast<NotchDrawerInfo::CompactLeadingView*>(i.internalNotchDrawer()->compactLeadingContent());
}
NotchDrawerInfo::CompactTrailingView* trailingView(NotchDrawerInfo& i)
{
    return dynamic_cast<NotchDrawerInfo::CompactTrailingView*>(i.internalNotchDrawer()->compactTrailingContent());
}

void run(NotchDrawerInfo& i, NotchDrawerState state)
{
    Call c(state == NotchDrawerState::expanded ? i.expand(screen()) : i.compact(screen()));
    ASSERT_TRUE(c.wait());
    ASSERT_EQ(i.internalNotchDrawer()->state(), state);
    NotchDrawer& d = *i.internalNotchDrawer();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            auto* root = d.panel() ? qobject_cast<NotchContentView*>(d.panel()->contentView()) : nullptr;
            return root && !root->animator()->isRunning();
        },
        5000));
}

QColor withAlpha(QColor c, double alpha)
{
    c.setAlphaF(alpha);
    return c;
}

} // namespace

// --- The info notch object: labels, compact sides, skip-hide -------------------------------------

TEST(NotchDrawerInfo, IconWithoutLeadingLabelDoublesAsTheLeadingSideAndSkipsHide)
{
    auto i = info(symbol(), std::nullopt, std::nullopt);
    ASSERT_TRUE(i->compactLeading().has_value());
    EXPECT_EQ(i->compactLeading()->id(), i->icon()->id()) << "the icon itself, not a new label";
    EXPECT_FALSE(i->internalNotchDrawer()->disableCompactLeading());
    EXPECT_TRUE(i->internalNotchDrawer()->disableCompactTrailing());
    EXPECT_TRUE(i->shouldSkipHideWhenConverting());
    EXPECT_EQ(i->internalNotchDrawer()->state(), NotchDrawerState::hidden);
    EXPECT_EQ(i->internalNotchDrawer()->panel(), nullptr);
    EXPECT_FALSE(i->textColor().has_value());
}

TEST(NotchDrawerInfo, WithoutIconOrLeadingLabelTheSideIsDisabledButSkipHideIsStillSet)
{
    auto i = info(std::nullopt, std::nullopt, symbol("xmark"));
    EXPECT_FALSE(i->compactLeading().has_value());
    EXPECT_TRUE(i->internalNotchDrawer()->disableCompactLeading());
    EXPECT_FALSE(i->internalNotchDrawer()->disableCompactTrailing());
    EXPECT_TRUE(i->shouldSkipHideWhenConverting());
}

TEST(NotchDrawerInfo, OwnLeadingLabelIsKeptAndSwitchesThroughHidden)
{
    const Label leading = symbol("arrow.up");
    auto i = info(symbol(), leading, std::nullopt);
    EXPECT_EQ(i->compactLeading()->id(), leading.id());
    EXPECT_FALSE(i->shouldSkipHideWhenConverting());

    ScreenScope scope(notchedScreen());
    run(*i, NotchDrawerState::expanded);
    Timeline timeline(*i->internalNotchDrawer());
    run(*i, NotchDrawerState::compact);
    EXPECT_EQ(timeline.states(), (std::vector{NotchDrawerState::hidden, NotchDrawerState::compact}));
}

TEST(NotchDrawerInfo, IconAsLeadingLabelSpringsStraightBetweenTheVisibleStates)
{
    ScreenScope scope(notchedScreen());
    auto i = info(symbol(), std::nullopt, std::nullopt);
    run(*i, NotchDrawerState::expanded);
    Timeline timeline(*i->internalNotchDrawer());
    run(*i, NotchDrawerState::compact);
    run(*i, NotchDrawerState::expanded);
    EXPECT_EQ(timeline.states(), (std::vector{NotchDrawerState::compact, NotchDrawerState::expanded}));
    for (const auto& e : timeline.entries)
        EXPECT_EQ(e.spring, NotchDrawer::kSwitchSpring);

    // Expanding again changes nothing; hiding goes through the internal notch and closes it.
    Call again(i->expand(screen()));
    ASSERT_TRUE(again.wait());
    EXPECT_EQ(timeline.entries.size(), 2u);
    Call hide(i->hide());
    ASSERT_TRUE(hide.wait());
    EXPECT_EQ(i->internalNotchDrawer()->state(), NotchDrawerState::hidden);
    EXPECT_EQ(i->internalNotchDrawer()->panel(), nullptr);
}

TEST(NotchDrawerInfo, CompactWithNoLabelsHidesInsteadOfShowingAnEmptyNotch)
{
    ScreenScope scope(notchedScreen());
    auto i = info(std::nullopt, std::nullopt, std::nullopt);
    EXPECT_TRUE(i->internalNotchDrawer()->disableCompactLeading());
    EXPECT_TRUE(i->internalNotchDrawer()->disableCompactTrailing());

    Call fromHidden(i->compact(screen()));
    ASSERT_TRUE(fromHidden.wait());
    EXPECT_EQ(i->internalNotchDrawer()->state(), NotchDrawerState::hidden);
    EXPECT_EQ(i->internalNotchDrawer()->panel(), nullptr);

    run(*i, NotchDrawerState::expanded);
    Call fromExpanded(i->compact(screen()));
    ASSERT_TRUE(fromExpanded.wait());
    EXPECT_EQ(i->internalNotchDrawer()->state(), NotchDrawerState::hidden);
}

TEST(NotchDrawerInfo, CompactSidesFollowLaterChangesOfTheLabels)
{
    auto i = info(symbol(), std::nullopt, std::nullopt);
    NotchDrawer& d = *i->internalNotchDrawer();
    QSignalSpy trailingSpy(i.get(), &NotchDrawerInfo::compactTrailingChanged);
    // The flag is set after the change has been announced.
    bool flagWhenAnnounced = false;
    QObject::connect(i.get(), &NotchDrawerInfo::compactTrailingChanged, i.get(), [&] {
        flagWhenAnnounced = d.disableCompactTrailing();
    });

    i->setCompactTrailing(symbol("xmark"));
    EXPECT_FALSE(d.disableCompactTrailing());
    EXPECT_TRUE(flagWhenAnnounced);
    i->setCompactTrailing(std::nullopt);
    EXPECT_TRUE(d.disableCompactTrailing());
    EXPECT_EQ(trailingSpy.count(), 2);

    i->setCompactLeading(std::nullopt);
    EXPECT_TRUE(d.disableCompactLeading());
    EXPECT_TRUE(i->shouldSkipHideWhenConverting()) << "the setters never touch skip-hide";
    i->setCompactLeading(symbol("arrow.up"));
    EXPECT_FALSE(d.disableCompactLeading());
    EXPECT_TRUE(i->shouldSkipHideWhenConverting());
}

TEST(NotchDrawerInfo, EveryWriteOfAPublishedPropertyIsAnnounced)
{
    auto i = info(symbol(), std::nullopt, std::nullopt);
    QSignalSpy title(i.get(), &NotchDrawerInfo::titleChanged);
    QSignalSpy color(i.get(), &NotchDrawerInfo::textColorChanged);
    i->setTitle(i->title());
    i->setTitle(i->title());
    i->setTextColor(QColor(Qt::red));
    i->setTextColor(QColor(Qt::red));
    EXPECT_EQ(title.count(), 2);
    EXPECT_EQ(color.count(), 2);
    // Also reachable as properties.
    EXPECT_EQ(i->property("title").toString(), QStringLiteral("Created issue #42"));
    EXPECT_TRUE(i->property("shouldSkipHideWhenConverting").toBool());
}

// --- Label styles and their equality -------------------------------------------------------------

TEST(NotchDrawerInfoLabel, ProgressStylesCompareTheValuesReadNowAndTheColoursButNotTheOverlays)
{
    auto a = NotchDrawerProgressBinding::make(0.6);
    auto b = NotchDrawerProgressBinding::make(0.6);
    const Label withOverlay(a, QColor(Qt::blue), [] { return new QWidget; });
    const Label plain(b, QColor(Qt::blue));
    EXPECT_TRUE(withOverlay.iconStyle() == plain.iconStyle());

    b->setValue(0.7);
    EXPECT_FALSE(withOverlay.iconStyle() == plain.iconStyle()) << "read through the bindings at comparison";
    a->setValue(0.7);
    EXPECT_TRUE(withOverlay.iconStyle() == plain.iconStyle());

    EXPECT_FALSE(Label(a, std::nullopt).iconStyle() == plain.iconStyle()) << "absent against given colour";
    EXPECT_TRUE(Label(a, std::nullopt).iconStyle() == Label(b, std::nullopt).iconStyle());
    EXPECT_FALSE(Label(a, QColor(Qt::red)).iconStyle() == plain.iconStyle());
}

TEST(NotchDrawerInfoLabel, OtherStylesCompareByTheirOwnPayloads)
{
    EXPECT_TRUE(symbol("star").iconStyle() == symbol("star").iconStyle());
    EXPECT_FALSE(symbol("star").iconStyle() == symbol("star.fill").iconStyle());
    EXPECT_FALSE(symbol("star", QColor(Qt::red)).iconStyle() == symbol("star").iconStyle());
    EXPECT_TRUE(symbol("star", QColor(Qt::red)).iconStyle() == symbol("star", QColor(Qt::red)).iconStyle());

    QImage red(8, 8, QImage::Format_ARGB32);
    red.fill(Qt::red);
    QImage alsoRed(8, 8, QImage::Format_ARGB32);
    alsoRed.fill(Qt::red);
    QImage green(8, 8, QImage::Format_ARGB32);
    green.fill(Qt::green);
    EXPECT_TRUE(Label(red).iconStyle() == Label(alsoRed).iconStyle());
    EXPECT_FALSE(Label(red).iconStyle() == Label(green).iconStyle());

    // Custom views: the same builder twice is two contents; a copy is the same content.
    auto build = [] {
        return new QWidget;
    };
    const Label custom(build);
    EXPECT_FALSE(custom.iconStyle() == Label(build).iconStyle());
    const Label copy = custom;
    EXPECT_TRUE(copy.iconStyle() == custom.iconStyle());

    // Different cases are never equal.
    EXPECT_FALSE(Label(red).iconStyle() == symbol("star").iconStyle());
    EXPECT_FALSE(Label(NotchDrawerProgressBinding::make(0), std::nullopt).iconStyle() == custom.iconStyle());
}

TEST(NotchDrawerInfoLabel, EveryNewLabelHasItsOwnIdentityAndBuildsItsViewsOnce)
{
    const Label one = symbol("star");
    const Label two = symbol("star");
    EXPECT_NE(one.id(), two.id());
    EXPECT_TRUE(one.iconStyle() == two.iconStyle());
    EXPECT_FALSE(one == two);
    const Label copy = one;
    EXPECT_TRUE(copy == one);

    int built = 0;
    const Label custom([&built] {
        ++built;
        return new QWidget;
    });
    const Label overlaid(NotchDrawerProgressBinding::make(0.5), std::nullopt, [&built] {
        ++built;
        return new QWidget;
    });
    std::unique_ptr<QWidget> a(custom.makeView());
    std::unique_ptr<QWidget> b(custom.makeView());
    std::unique_ptr<QWidget> c(overlaid.makeView());
    EXPECT_EQ(built, 2);
}

// --- Views: ring, colours, layout ----------------------------------------------------------------

TEST(NotchDrawerInfoViews, RingIsFourPointsExpandedAndThreeInTheCompactSides)
{
    ScreenScope scope(notchedScreen());
    auto progress = NotchDrawerProgressBinding::make(0.6);
    auto i = info(Label(progress, std::nullopt), std::nullopt, Label(progress, std::nullopt));
    run(*i, NotchDrawerState::expanded);
    ASSERT_NE(infoView(*i)->iconView(), nullptr);
    auto* expandedRing = infoView(*i)->iconView()->progressRing();
    ASSERT_NE(expandedRing, nullptr);
    EXPECT_DOUBLE_EQ(expandedRing->thickness(), 4);

    run(*i, NotchDrawerState::compact);
    auto* leadingRing = leadingView(*i)->labelView()->progressRing();
    auto* trailingRing = trailingView(*i)->labelView()->progressRing();
    EXPECT_DOUBLE_EQ(leadingRing->thickness(), 3);
    EXPECT_DOUBLE_EQ(trailingRing->thickness(), 3);
    // Compact labels are smaller than the expanded icon.
    EXPECT_LT(leadingView(*i)->sizeHint().height(), infoView(*i)->iconView()->sizeHint().height());
}

TEST(NotchDrawerInfoViews, ARingOutsideAnyPanelReadsTheDefaults)
{
    QWidget window;
    const Label ring(NotchDrawerProgressBinding::make(0.3), std::nullopt);
    auto* view = ring.makeView(&window);
    EXPECT_DOUBLE_EQ(view->progressRing()->thickness(), 4);
    EXPECT_EQ(view->progressRing()->color(), window.palette().color(QPalette::WindowText));
    EXPECT_EQ(view->sizeHint(), QSize(40, 40));
}

TEST(NotchDrawerInfoViews, RingSweepsToItsValueEachTimeItComesOnScreen)
{
    using Ring = Label::ProgressRing;
    // The sweep: 0.1 s of nothing, then 0.8 s along its curve.
    EXPECT_DOUBLE_EQ(Ring::loadAt(0), 0);
    EXPECT_DOUBLE_EQ(Ring::loadAt(0.1), 0);
    EXPECT_GT(Ring::loadAt(0.11), 0);
    EXPECT_LT(Ring::loadAt(0.89), 1);
    EXPECT_DOUBLE_EQ(Ring::loadAt(0.9), 1);

    auto progress = NotchDrawerProgressBinding::make(0.6);
    QWidget window;
    window.resize(60, 60);
    auto* view = Label(progress, QColor(Qt::green)).makeView(&window);
    view->setGeometry(0, 0, 40, 40);
    auto* ring = view->progressRing();
    EXPECT_FALSE(ring->isLoaded());
    EXPECT_DOUBLE_EQ(ring->presentedFraction(), 0);
    for (int appearance = 0; appearance < 2; ++appearance) {
        window.show();
        EXPECT_TRUE(ring->isLoaded()) << appearance;
        ASSERT_TRUE(QTest::qWaitFor([&] { return ring->presentedLoad() == 1; }, 5000));
        EXPECT_DOUBLE_EQ(ring->presentedFraction(), 0.6);
        window.hide();
        EXPECT_FALSE(ring->isLoaded()) << "off screen: the next appearance sweeps anew";
        EXPECT_DOUBLE_EQ(ring->presentedFraction(), 0);
    }
    // Later changes redraw at once.
    window.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return ring->presentedLoad() == 1; }, 5000));
    progress->setValue(0.25);
    EXPECT_DOUBLE_EQ(ring->presentedFraction(), 0.25);
    EXPECT_EQ(ring->color(), QColor(Qt::green));
}

TEST(NotchDrawerInfoViews, ARingInTheNotchComesOnScreenWithItsInsertionEveryTime)
{
    ScreenScope scope(notchedScreen());
    auto progress = NotchDrawerProgressBinding::make(0.6);
    auto i = info(Label(progress, std::nullopt), std::nullopt, std::nullopt);
    NotchDrawer& d = *i->internalNotchDrawer();
    auto* ring = infoView(*i)->iconView()->progressRing();
    for (int appearance = 0; appearance < 2; ++appearance) {
        Call c(i->expand(screen()));
        // Connected after the panel's views, so it looks once they have placed the content.
        bool onScreenAtInsertion = false;
        const auto probe = QObject::connect(&d, &NotchDrawer::stateChanged, &d, [&](NotchDrawerState s) {
            if (s == NotchDrawerState::expanded)
                onScreenAtInsertion = ring->isVisible() && ring->isLoaded();
        });
        ASSERT_TRUE(c.wait());
        QObject::disconnect(probe);
        EXPECT_TRUE(onScreenAtInsertion) << "appearance " << appearance;
        Call h(i->hide());
        ASSERT_TRUE(h.wait());
        EXPECT_FALSE(ring->isLoaded()) << "gone with its panel";
    }
}

TEST(NotchDrawerInfoViews, TextsAndSymbolsAreWhiteInANotchPanel)
{
    ScreenScope scope(notchedScreen());
    auto i = info(symbol(), std::nullopt, Label(NotchDrawerProgressBinding::make(0.5), std::nullopt));
    run(*i, NotchDrawerState::expanded);
    auto* view = infoView(*i);
    EXPECT_EQ(view->titleColor(), QColor(Qt::white));
    EXPECT_EQ(view->descriptionColor(), withAlpha(Qt::white, 0.5));
    EXPECT_EQ(view->iconView()->tint(), QColor(Qt::white));
    run(*i, NotchDrawerState::compact);
    EXPECT_EQ(trailingView(*i)->labelView()->progressRing()->color(), QColor(Qt::white));

    // A caller's text colour wins, the description at half its opacity.
    i->setTextColor(QColor(255, 214, 10));
    EXPECT_EQ(view->titleColor(), QColor(255, 214, 10));
    EXPECT_EQ(view->descriptionColor(), withAlpha(QColor(255, 214, 10), 0.5));
}

TEST(NotchDrawerInfoViews, TheNotchStyleAloneMakesThemWhiteWhateverThePaletteSays)
{
    // Inside a notch panel the palette is white as well; here only the style can decide.
    auto i = info(symbol(), std::nullopt, std::nullopt);
    QWidget container;
    QPalette dark = container.palette();
    dark.setColor(QPalette::WindowText, QColor(20, 20, 20));
    container.setPalette(dark);
    EnvironmentValues::setNotchStyle(&container, NotchDrawerStyle::notch(6, 14));
    auto* view = infoView(*i);
    view->setParent(&container);
    EXPECT_EQ(view->titleColor(), QColor(Qt::white));
    EXPECT_EQ(view->iconView()->tint(), QColor(Qt::white));
    EnvironmentValues::setNotchStyle(&container, NotchDrawerStyle::automatic());
    EXPECT_EQ(view->titleColor(), QColor(20, 20, 20)) << "automatic does not count as the notch case";
    view->setParent(nullptr);
}

TEST(NotchDrawerInfoViews, TextsAndSymbolsTakeThePaletteOnAFloatingCard)
{
    ScreenScope scope(plainScreen());
    auto i = info(symbol(), std::nullopt, std::nullopt, QStringLiteral("owner/repo"), NotchDrawerStyle::automatic());
    run(*i, NotchDrawerState::expanded);
    auto* view = infoView(*i);
    ASSERT_TRUE(EnvironmentValues::notchStyle(view).isFloating());
    EXPECT_EQ(view->titleColor(), view->palette().color(QPalette::WindowText));
    EXPECT_EQ(view->descriptionColor(), view->palette().color(QPalette::PlaceholderText));
    EXPECT_NE(view->titleColor(), QColor(Qt::white));
    EXPECT_EQ(view->iconView()->tint(), view->palette().color(QPalette::WindowText));
    // A label's own colour wins everywhere.
    i->setIcon(symbol("star", QColor(Qt::red)));
    EXPECT_EQ(view->iconView()->tint(), QColor(Qt::red));
}

TEST(NotchDrawerInfoViews, RowLayoutWithAndWithoutIconAndDescription)
{
    auto bare = info(std::nullopt, std::nullopt, std::nullopt, std::nullopt);
    auto* view = infoView(*bare);
    EXPECT_EQ(view->iconView(), nullptr);
    EXPECT_EQ(view->sizeHint().height(), 40);
    EXPECT_DOUBLE_EQ(view->titleRect().left(), 0) << "texts start at the leading edge";
    EXPECT_DOUBLE_EQ(view->titleRect().center().y(), 20) << "a lone title is centred in the row";

    auto full = info(symbol(), std::nullopt, std::nullopt);
    auto* row = infoView(*full);
    ASSERT_NE(row->iconView(), nullptr);
    EXPECT_DOUBLE_EQ(row->titleRect().left(), 40 + 10);
    EXPECT_GT(row->descriptionRect().top(), row->titleRect().bottom() - 0.01);
    EXPECT_NEAR((row->titleRect().top() + row->descriptionRect().bottom()) / 2, 20, 0.01);
}

TEST(NotchDrawerInfoViews, TextsLongerThanTheirRoomEndInAnEllipsisInsideIt)
{
    // 160 characters whose glyphs all reach up to the cap height, unlike the dots of an ellipsis.
    const QString text = QStringLiteral("Fill ").repeated(32);
    for (bool notched : {true, false}) {
        SCOPED_TRACE(notched ? "notch" : "floating card");
        ScreenScope scope(notched ? notchedScreen() : plainScreen());
        NotchDrawerInfo i(symbol(), text, text, {}, {}, {}, NotchDrawerStyle::automatic());
        run(i, NotchDrawerState::expanded);
        auto* view = infoView(i);
        QWidget* panel = i.internalNotchDrawer()->panel();
        const QPoint at = view->mapTo(panel, QPoint(0, 0));
        ASSERT_TRUE(panel->rect().contains(QRect(at, view->size()))) << "the row stays inside the panel";
        const QImage image = panel->grab().toImage().convertToFormat(QImage::Format_ARGB32);
        const int background = qGray(image.pixel(at.x() + view->width() + 5, at.y() + 20));
        auto ink = [&](int x, int y) {
            return std::abs(qGray(image.pixel(x, y)) - background) > 40;
        };
        for (const QRectF& rect : {view->titleRect(), view->descriptionRect()}) {
            EXPECT_LE(rect.right(), view->width());
            // The last column of ink in the line, and how high the line's ink reaches.
            int right = -1, top = 1000, bottom = -1;
            for (int y = at.y() + int(rect.top()); y < at.y() + int(std::ceil(rect.bottom())); ++y)
                for (int x = at.x() + int(rect.left()); x < at.x() + view->width(); ++x)
                    if (ink(x, y))
                        right = std::max(right, x), top = std::min(top, y), bottom = std::max(bottom, y);
            ASSERT_GE(right, 0);
            int lastGlyphTop = top;
            while (lastGlyphTop < bottom && !ink(right, lastGlyphTop) && !ink(right - 1, lastGlyphTop))
                ++lastGlyphTop;
            EXPECT_GE(lastGlyphTop, bottom - (bottom - top) / 3) << "the last glyph is a dot on the baseline";
        }
    }
}

TEST(NotchDrawerInfoViews, ANewLabelInACompactSideRunsTheTransitionEvenWhenEqual)
{
    ScreenScope scope(notchedScreen());
    auto i = info(symbol(), std::nullopt, symbol("xmark"));
    run(*i, NotchDrawerState::compact);
    auto* side = trailingView(*i);
    const QUuid before = side->labelView()->labelId();
    EXPECT_FALSE(side->isTransitioning());

    // The same label again is the same view: nothing happens.
    i->setCompactTrailing(i->compactTrailing());
    EXPECT_FALSE(side->isTransitioning());
    EXPECT_EQ(side->labelView()->labelId(), before);

    const Label equal = symbol("xmark");
    ASSERT_TRUE(equal.iconStyle() == i->compactTrailing()->iconStyle());
    i->setCompactTrailing(equal);
    EXPECT_TRUE(side->isTransitioning());
    EXPECT_EQ(side->labelView()->labelId(), equal.id());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !side->isTransitioning(); }, 5000));
    EXPECT_TRUE(side->labelView()->isVisible());
}

TEST(NotchDrawerInfoViews, ARingThatReplacesACompactLabelComesOnScreenWithItsTransition)
{
    ScreenScope scope(notchedScreen());
    auto i = info(symbol(), std::nullopt, symbol("xmark"));
    run(*i, NotchDrawerState::compact);
    auto* side = trailingView(*i);
    i->setCompactTrailing(Label(NotchDrawerProgressBinding::make(0.5), std::nullopt));
    ASSERT_TRUE(side->isTransitioning());
    auto* ring = side->labelView()->progressRing();
    ASSERT_NE(ring, nullptr);
    EXPECT_TRUE(ring->isVisible() && ring->isLoaded()) << "on screen from the transition's first frame";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !side->isTransitioning(); }, 5000));
    EXPECT_EQ(side->labelView()->graphicsEffect(), nullptr) << "drawn plainly at rest";
}

TEST(NotchDrawerInfoViews, TheIconTravelsBetweenItsExpandedAndCompactPlaces)
{
    ScreenScope scope(notchedScreen());
    auto i = info(symbol(), std::nullopt, std::nullopt);
    run(*i, NotchDrawerState::expanded);
    auto* row = infoView(*i);
    auto* leading = leadingView(*i);
    EXPECT_TRUE(row->matchedIcon().isSource());
    EXPECT_FALSE(leading->matchedIcon().isSource());

    // Observed right after the switch: the compact end flies the icon, the row's copy is hidden.
    bool flying = false;
    bool rowIconHidden = false;
    QObject::connect(i->internalNotchDrawer(), &NotchDrawer::stateChanged, i.get(), [&] {
        flying = leading->matchedIcon().isFlying();
        rowIconHidden = row->iconView()->isHidden();
    });
    run(*i, NotchDrawerState::compact);
    EXPECT_TRUE(flying);
    EXPECT_TRUE(rowIconHidden);
    EXPECT_TRUE(leading->matchedIcon().isSource());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !leading->matchedIcon().isFlying(); }, 5000));
    EXPECT_TRUE(leading->labelView()->isVisible());

    // With its own leading label the notch passes through hidden, and nothing travels.
    auto own = info(symbol(), symbol("arrow.up"), std::nullopt);
    run(*own, NotchDrawerState::expanded);
    bool ownFlying = false;
    QObject::connect(own->internalNotchDrawer(), &NotchDrawer::stateChanged, own.get(), [&] {
        ownFlying = ownFlying || leadingView(*own)->matchedIcon().isFlying();
    });
    run(*own, NotchDrawerState::compact);
    EXPECT_FALSE(ownFlying);
    EXPECT_FALSE(leadingView(*own)->matchedIcon().isSource());
}

TEST(NotchDrawerInfoViews, ACustomIconIsBuiltOnceAndFollowsTheIconOnScreen)
{
    ScreenScope scope(notchedScreen());
    int built = 0;
    const Label custom([&built] {
        ++built;
        auto* star = label(QStringLiteral("*"));
        star->setFixedSize(18, 18);
        return star;
    });
    QWidget* widget = custom.iconStyle().view().get();
    auto i = info(custom, std::nullopt, std::nullopt);
    run(*i, NotchDrawerState::expanded);
    EXPECT_TRUE(infoView(*i)->isAncestorOf(widget));
    run(*i, NotchDrawerState::compact);
    ASSERT_TRUE(QTest::qWaitFor([&] { return leadingView(*i)->isAncestorOf(widget); }, 5000));
    EXPECT_TRUE(widget->isVisible());
    run(*i, NotchDrawerState::expanded);
    ASSERT_TRUE(QTest::qWaitFor([&] { return infoView(*i)->isAncestorOf(widget); }, 5000));
    EXPECT_EQ(built, 1);
}

// Its snapshot stood for it through the flight, so the ring that lands is no new appearance.
TEST(NotchDrawerInfoViews, ARingThatFliesAcrossLandsWithoutSweepingAgain)
{
    ScreenScope scope(notchedScreen());
    auto i = info(Label(NotchDrawerProgressBinding::make(0.6), std::nullopt), std::nullopt, std::nullopt);
    run(*i, NotchDrawerState::compact);
    auto* compactRing = leadingView(*i)->labelView()->progressRing();
    ASSERT_TRUE(QTest::qWaitFor([&] { return compactRing->presentedLoad() >= 1; }, 5000));
    auto* view = infoView(*i);
    Call expand(i->expand(screen()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->matchedIcon().isFlying(); }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view->matchedIcon().isFlying(); }, 5000));
    auto* landed = view->iconView()->progressRing();
    EXPECT_TRUE(landed->isVisible());
    EXPECT_GE(landed->presentedLoad(), 1);
    ASSERT_TRUE(expand.wait());
}

TEST(NotchDrawerInfoViews, AHideDuringTheFlightEndsItAtOnce)
{
    ScreenScope scope(notchedScreen());
    auto i = info(symbol(), std::nullopt, std::nullopt);
    run(*i, NotchDrawerState::expanded);
    auto* leading = leadingView(*i);
    Call compact(i->compact(screen()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return leading->matchedIcon().isFlying(); }, 5000));
    Call hide(i->hide());
    EXPECT_EQ(i->internalNotchDrawer()->state(), NotchDrawerState::hidden);
    EXPECT_FALSE(leading->matchedIcon().isFlying());
    ASSERT_TRUE(compact.wait());
    ASSERT_TRUE(hide.wait());
}

// A dock or desktop panel that appears changes the screen's available geometry, which renews
// the notch's panel and takes the flight's overlay with it.
TEST(NotchDrawerInfoViews, AScreenChangeDuringTheFlightLandsTheIcon)
{
    ScreenScope scope(notchedScreen());
    auto i = info(symbol(), std::nullopt, std::nullopt);
    run(*i, NotchDrawerState::expanded);
    for (const NotchDrawerState target : {NotchDrawerState::compact, NotchDrawerState::expanded}) {
        SCOPED_TRACE(int(target));
        const bool toCompact = target == NotchDrawerState::compact;
        NotchDrawerInfoMatchedIcon& end = toCompact ? leadingView(*i)->matchedIcon() : infoView(*i)->matchedIcon();
        const QPointer<NotchDrawerPanel> before = i->internalNotchDrawer()->panel();
        Call c(toCompact ? i->compact(screen()) : i->expand(screen()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return end.isFlying(); }, 5000));
        Q_EMIT screen()->availableGeometryChanged(screen()->availableGeometry());
        ASSERT_TRUE(QTest::qWaitFor([&] { return before.isNull(); }, 5000)) << "the panel was renewed";
        ASSERT_TRUE(c.wait());
        run(*i, target);
        EXPECT_FALSE(end.isFlying());
        ASSERT_NE(end.element(), nullptr);
        EXPECT_TRUE(end.element()->isVisible()) << "the icon is on screen in the new panel";
    }
}

} // namespace jw
