#include "NotchDrawerKit/NotchLayout.h"

#include "NotchDrawerKit/NotchShape.h"

#include <QRegion>

#include <gtest/gtest.h>

#include <vector>

namespace jw {
namespace {

// The points the outline passes through: move and line targets and each curve's end.
std::vector<QPointF> vertices(const QPainterPath& path)
{
    std::vector<QPointF> points;
    for (int i = 0; i < path.elementCount(); ++i) {
        const auto e = path.elementAt(i);
        const bool curveEnd =
            e.type == QPainterPath::CurveToDataElement
            && (i + 1 == path.elementCount() || path.elementAt(i + 1).type != QPainterPath::CurveToDataElement);
        if (e.isMoveTo() || e.isLineTo() || curveEnd)
            points.emplace_back(e.x, e.y);
    }
    return points;
}

NotchLayout::Input notchInput(NotchDrawerState state)
{
    NotchLayout::Input in;
    in.state = state;
    in.notchSize = QSizeF(200, 32);
    in.menubarHeight = 37;
    in.storedStyle = NotchDrawerStyle::standardNotch();
    in.compactLeadingContent = QSizeF(32, 16);
    in.compactTrailingContent = QSizeF(92, 16);
    in.expandedContent = QSizeF(300, 60);
    return in;
}

} // namespace

TEST(NotchShape, OutlineFlaresAtTheTopAndRoundsAtTheBottom)
{
    const QPainterPath path = NotchShape{6, 14}.path(QRectF(0, 0, 200, 32));
    const std::vector<QPointF>
        expected{{0, 0}, {6, 6}, {6, 18}, {20, 32}, {180, 32}, {194, 18}, {194, 6}, {200, 0}, {0, 0}};
    EXPECT_EQ(vertices(path), expected);
    // Quadratic curves: the first runs from (0, 0) toward control (6, 0); as a cubic its
    // controls lie two thirds of the way to the quadratic control.
    ASSERT_GE(path.elementCount(), 4);
    EXPECT_EQ(path.elementAt(1).type, QPainterPath::CurveToElement);
    EXPECT_NEAR(path.elementAt(1).x, 4, 1e-9);
    EXPECT_NEAR(path.elementAt(1).y, 0, 1e-9);
    EXPECT_NEAR(path.elementAt(2).x, 6, 1e-9);
    EXPECT_NEAR(path.elementAt(2).y, 2, 1e-9);
    // The concave flare leaves the top corners' lower part outside, the body inside.
    EXPECT_FALSE(path.contains(QPointF(1, 10)));
    EXPECT_TRUE(path.contains(QPointF(100, 16)));
    EXPECT_FALSE(path.contains(QPointF(7, 31)));
}

TEST(NotchShape, ZeroRadiiGiveThePlainRectangle)
{
    const QRectF rect(10, 5, 200, 32);
    const QPainterPath path = NotchShape{0, 0}.path(rect);
    EXPECT_EQ(path.boundingRect(), rect);
    EXPECT_EQ(QRegion(path.toFillPolygon().toPolygon()), QRegion(rect.toRect()));
    NotchShape shape;
    shape.setAnimatableData({3, 4});
    EXPECT_EQ(shape.animatableData(), std::make_pair(3.0, 4.0));
}

TEST(NotchLayout, CompactKeepsTheGapCentredOnTheNotch)
{
    NotchLayout::Input in = notchInput(NotchDrawerState::compact);
    in.compactLeadingWidth = 40;
    in.compactTrailingWidth = 100;
    const NotchLayout l = NotchLayout::compute(in);
    EXPECT_EQ(l.leadingBox, QSizeF(40, 28));
    EXPECT_EQ(l.trailingBox, QSizeF(100, 28));
    EXPECT_DOUBLE_EQ(l.compactOffsetDelta, 30);
    EXPECT_DOUBLE_EQ(l.compactXOffset, 30);
    EXPECT_EQ(l.size, QSizeF(40 + 200 + 100 + 12, 32));
    EXPECT_DOUBLE_EQ(l.sidePadding, 6);
    EXPECT_DOUBLE_EQ(l.maskTopRadius, 6);
    EXPECT_DOUBLE_EQ(l.maskBottomRadius, 14);
    const double panel = 1000;
    const QRectF view = l.viewRect(panel);
    EXPECT_DOUBLE_EQ(view.left(), (panel - 352) / 2 + 30);
    // The notch-wide gap starts after the padding and the leading side, at the notch's left edge.
    EXPECT_DOUBLE_EQ(view.left() + 6 + 40, panel / 2 - 100);
    EXPECT_DOUBLE_EQ(l.leadingRect(panel, 200).right(), panel / 2 - 100);
    EXPECT_DOUBLE_EQ(l.trailingRect(panel, 200).left(), panel / 2 + 100);
    EXPECT_DOUBLE_EQ(l.shapeRect(panel).width(), 351);
}

TEST(NotchLayout, CompactWithTheTrailingSideDisabledShiftsLeftByHalfTheLeadingWidth)
{
    NotchLayout::Input in = notchInput(NotchDrawerState::compact);
    in.disableCompactTrailing = true;
    in.compactLeadingWidth = 40;
    const NotchLayout l = NotchLayout::compute(in);
    EXPECT_TRUE(l.showsLeading);
    EXPECT_FALSE(l.showsTrailing);
    EXPECT_DOUBLE_EQ(l.compactXOffset, -20);
    EXPECT_EQ(l.size, QSizeF(40 + 200 + 12, 32));
}

TEST(NotchLayout, HoverRaisesOnlyTheCompactRow)
{
    NotchLayout::Input in = notchInput(NotchDrawerState::compact);
    in.isHovering = true;
    EXPECT_DOUBLE_EQ(NotchLayout::compute(in).size.height(), 37);
    in.menubarHeight = 20;
    EXPECT_DOUBLE_EQ(NotchLayout::compute(in).size.height(), 32) << "never lower than the notch";
    for (auto state : {NotchDrawerState::expanded, NotchDrawerState::hidden}) {
        NotchLayout::Input other = notchInput(state);
        const QSizeF still = NotchLayout::compute(other).size;
        other.isHovering = true;
        EXPECT_EQ(NotchLayout::compute(other).size, still);
    }
}

TEST(NotchLayout, HiddenShrinksToTheNotchPlusTwelve)
{
    NotchLayout::Input in = notchInput(NotchDrawerState::hidden);
    // Widths measured in an earlier compact state keep the row displaced but not the shape.
    in.compactLeadingWidth = 40;
    in.compactTrailingWidth = 100;
    const NotchLayout l = NotchLayout::compute(in);
    EXPECT_EQ(l.size, QSizeF(212, 32));
    EXPECT_DOUBLE_EQ(l.compactXOffset, 0);
    EXPECT_DOUBLE_EQ(l.compactOffsetDelta, 30);
    EXPECT_DOUBLE_EQ(l.shapeRect(800).width(), 211);
    EXPECT_DOUBLE_EQ(l.shapeRect(800).left(), 400 - 105.5);
    EXPECT_DOUBLE_EQ(l.maskTopRadius, 6);
    EXPECT_DOUBLE_EQ(l.maskBottomRadius, 14);
    EXPECT_FALSE(l.showsLeading || l.showsTrailing || l.showsExpanded);
}

TEST(NotchLayout, ExpandedTakesTheStoredNotchRadiiOrTheStandardOnes)
{
    NotchLayout::Input in = notchInput(NotchDrawerState::expanded);
    in.storedStyle = NotchDrawerStyle::notch(10, 12);
    NotchLayout l = NotchLayout::compute(in);
    EXPECT_EQ(l.expandedBox, QSizeF(330, 60 + 32 + 15));
    EXPECT_EQ(l.size, QSizeF(330 + 20, 107));
    EXPECT_DOUBLE_EQ(l.maskTopRadius, 10);
    EXPECT_DOUBLE_EQ(l.maskBottomRadius, 12);
    EXPECT_DOUBLE_EQ(l.minimumWidth, 220);

    // `automatic` expands like the standard notch, whatever the screen resolved it to.
    in.storedStyle = NotchDrawerStyle::automatic();
    const NotchLayout automatic = NotchLayout::compute(in);
    in.storedStyle = NotchDrawerStyle::standardNotch();
    const NotchLayout standard = NotchLayout::compute(in);
    EXPECT_EQ(automatic.size, standard.size);
    EXPECT_EQ(automatic.size, QSizeF(360, 107));
    EXPECT_DOUBLE_EQ(automatic.maskTopRadius, 15);
    EXPECT_DOUBLE_EQ(automatic.maskBottomRadius, 20);
    EXPECT_DOUBLE_EQ(automatic.sidePadding, standard.sidePadding);

    // Small content: at least the notch wide plus the padding, and at least the notch high.
    in.expandedContent = QSizeF(20, 0);
    EXPECT_EQ(NotchLayout::compute(in).size, QSizeF(230, 47));

    // Content wider than the panel has room for gets that room, and the view stays inside the
    // panel however tall the content is.
    in.panelSize = QSizeF(400, 300);
    EXPECT_DOUBLE_EQ(NotchLayout::expandedContentRoom(in.storedStyle, 400), 400 - 2 * 15 - 2 * 15);
    in.expandedContent = QSizeF(500, 400);
    const NotchLayout wide = NotchLayout::compute(in);
    EXPECT_EQ(wide.expandedContentSize, QSizeF(340, 400));
    EXPECT_EQ(wide.size, QSizeF(400, 300));
    EXPECT_EQ(wide.viewRect(400).left(), 0);
    in.expandedContent = QSizeF(300, 60);
    EXPECT_EQ(NotchLayout::compute(in).expandedContentSize, QSizeF(300, 60)) << "room to spare: the ideal size";
}

TEST(NotchlessLayout, CardAroundContentOfIdealSize200By60)
{
    const NotchlessLayout hidden =
        NotchlessLayout::compute(QSizeF(200, 60), NotchDrawerStyle::automatic(), NotchDrawerState::hidden, 24);
    EXPECT_EQ(hidden.cardSize, QSizeF(230, 90));
    EXPECT_EQ(hidden.viewSize, QSizeF(270, 130));
    EXPECT_DOUBLE_EQ(hidden.windowHeight, 130);
    EXPECT_DOUBLE_EQ(hidden.yOffset, -130);
    EXPECT_DOUBLE_EQ(hidden.cornerRadius, 20);

    const NotchlessLayout compact =
        NotchlessLayout::compute(QSizeF(200, 60), NotchDrawerStyle::automatic(), NotchDrawerState::compact, 24);
    EXPECT_DOUBLE_EQ(compact.yOffset, hidden.yOffset) << "compact is drawn like hidden";

    const NotchlessLayout expanded =
        NotchlessLayout::compute(QSizeF(200, 60), NotchDrawerStyle::floating(12), NotchDrawerState::expanded, 24);
    EXPECT_DOUBLE_EQ(expanded.yOffset, 24);
    EXPECT_EQ(expanded.viewRect(1000), QRectF(365, 24, 270, 130));
    EXPECT_EQ(expanded.cardRect(1000), QRectF(385, 44, 230, 90));
}

TEST(NotchlessLayout, CornerRadiusComesFromAStoredFloatingStyleOnly)
{
    EXPECT_DOUBLE_EQ(NotchlessLayout::cornerRadiusFor(NotchDrawerStyle::floating(12)), 12);
    EXPECT_DOUBLE_EQ(NotchlessLayout::cornerRadiusFor(NotchDrawerStyle::automatic()), 20);
    EXPECT_DOUBLE_EQ(NotchlessLayout::cornerRadiusFor(NotchDrawerStyle::notch(6, 9)), 20);
}

struct ShadowCase
{
    const char* name;
    NotchDrawerHoverBehavior behavior;
    bool hovering;
    NotchDrawerState state;
    double opacity;
    double radius;
};

void PrintTo(const ShadowCase& c, std::ostream* os)
{
    *os << c.name;
}

class NotchShadowTable : public ::testing::TestWithParam<ShadowCase>
{};

TEST_P(NotchShadowTable, FollowsStateAndHover)
{
    const ShadowCase c = GetParam();
    const NotchShadow s = NotchShadow::of(c.behavior, c.hovering, c.state);
    EXPECT_DOUBLE_EQ(s.opacity, c.opacity);
    EXPECT_DOUBLE_EQ(s.radius, c.radius);
}

constexpr NotchDrawerHoverBehavior kShadow = NotchDrawerHoverBehavior::shadowOnHover;
constexpr NotchDrawerHoverBehavior kHaptic = NotchDrawerHoverBehavior::hapticOnHover;

INSTANTIATE_TEST_SUITE_P(
    NotchContentView,
    NotchShadowTable,
    ::testing::Values(ShadowCase{"ExpandedPlain", kHaptic, false, NotchDrawerState::expanded, 0.5, 10},
                      ShadowCase{"CompactPlain", kHaptic, false, NotchDrawerState::compact, 0, 10},
                      ShadowCase{"HiddenPlain", kHaptic, false, NotchDrawerState::hidden, 0, 0},
                      ShadowCase{"ExpandedHoveredWithOption", kShadow, true, NotchDrawerState::expanded, 0.8, 20},
                      ShadowCase{"CompactHoveredWithOption", kShadow, true, NotchDrawerState::compact, 0.8, 20},
                      ShadowCase{"HiddenHoveredWithOption", kShadow, true, NotchDrawerState::hidden, 0.8, 0},
                      ShadowCase{"ExpandedUnhoveredWithOption", kShadow, false, NotchDrawerState::expanded, 0.5, 10},
                      // Hovered without the option: as if not hovered.
                      ShadowCase{"ExpandedHoveredWithoutOption", kHaptic, true, NotchDrawerState::expanded, 0.5, 10},
                      ShadowCase{"CompactHoveredWithoutOption", kHaptic, true, NotchDrawerState::compact, 0, 10},
                      ShadowCase{"CompactHoveredAllEffects",
                                 NotchDrawerHoverBehavior::allEffects,
                                 true,
                                 NotchDrawerState::compact,
                                 0.8,
                                 20}),
    [](const ::testing::TestParamInfo<ShadowCase>& param) { return std::string(param.param.name); });

} // namespace jw
