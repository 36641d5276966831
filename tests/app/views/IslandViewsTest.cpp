#include "IslandTestSupport.h"
#include "NotchDrawerKit/FrameAnimator.h"
#include "NotchDrawerKit/NotchContentView.h"
#include "NotchDrawerKit/NotchDrawerPanel.h"
#include "NotchDrawerKit/NotchSurface.h"
#include "app/github/GitHubClient.h"
#include "app/views/AnimatedIcon.h"
#include "app/views/NotchExpandedView.h"
#include "app/views/ProjectBadge.h"
#include "app/views/SystemColors.h"
#include "platform/UrlOpener.h"
#include "platform/symbols/Symbols.h"
#include "tests/NotchDrawerKit/NotchTestSupport.h"
#include "tests/support/AwaitTask.h"
#include "tests/support/FakeGitHubServer.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

#include <gtest/gtest.h>

namespace jw {

using namespace jw::test;

namespace {

// Captures every address the views would open in the browser.
struct OpenedUrls
{
    QList<QUrl> urls;
    OpenedUrls()
    {
        setUrlOpenHandler([this](const QUrl& url) { urls.append(url); });
    }
    ~OpenedUrls() { setUrlOpenHandler(nullptr); }
};

void tap(QWidget* widget)
{
    QTest::mouseClick(widget, Qt::LeftButton, {}, widget->rect().center());
}

// ---- Project badge -------------------------------------------------------------------

struct BadgeCase
{
    const char* name;
    bool isV2;
    bool failed;
    const char* symbol;
    QColor color;
    QString text;
};

void PrintTo(const BadgeCase& c, std::ostream* os)
{
    *os << c.name;
}

class BadgeByFlags : public ::testing::TestWithParam<BadgeCase>
{};

TEST_P(BadgeByFlags, SymbolColourAndText)
{
    const BadgeCase& c = GetParam();
    ProjectBadge badge(QStringLiteral("Roadmap"), std::nullopt, c.isV2, c.failed);
    EXPECT_EQ(badge.symbolName(), QString::fromLatin1(c.symbol));
    EXPECT_EQ(badge.badgeColor(), c.color);
    EXPECT_EQ(badge.text(), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Island,
    BadgeByFlags,
    ::testing::Values(
        BadgeCase{"failed",
                  false,
                  true,
                  "exclamationmark.triangle.fill",
                  SystemColor::orange(),
                  QStringLiteral("Failed: Roadmap")},
        BadgeCase{"failedV2",
                  true,
                  true,
                  "exclamationmark.triangle.fill",
                  SystemColor::orange(),
                  QStringLiteral("Failed: Roadmap")},
        BadgeCase{"v2", true, false, "sparkles", QColor::fromRgbF(0.47f, 0.36f, 0.96f), QStringLiteral("Roadmap")},
        BadgeCase{"classic", false, false, "folder.fill", SystemColor::blue(), QStringLiteral("Roadmap")}),
    [](const ::testing::TestParamInfo<BadgeCase>& p) { return std::string(p.param.name); });

TEST(IslandBadge, ATapOpensTheBoardOnlyWhenItsAddressParses)
{
    OpenedUrls opened;
    ProjectBadge badge(QStringLiteral("Roadmap"),
                       QStringLiteral("https://github.com/orgs/octo/projects/3"),
                       true,
                       false);
    badge.resize(badge.sizeHint());
    badge.show();
    tap(&badge);
    ASSERT_EQ(opened.urls.size(), 1);
    EXPECT_EQ(opened.urls[0], QUrl(QStringLiteral("https://github.com/orgs/octo/projects/3")));

    badge.setUrlString(std::nullopt);
    tap(&badge);
    badge.setUrlString(QString());
    tap(&badge);
    badge.setUrlString(QStringLiteral("http://[broken"));
    tap(&badge);
    EXPECT_EQ(opened.urls.size(), 1);
}

TEST(IslandBadge, ALongNameStaysOnOneLine)
{
    ProjectBadge shortBadge(QStringLiteral("A"), std::nullopt, false, false);
    ProjectBadge longBadge(QString(300, QLatin1Char('x')), std::nullopt, false, false);
    EXPECT_EQ(longBadge.sizeHint().height(), shortBadge.sizeHint().height());
    EXPECT_LE(longBadge.sizeHint().width(),
              ProjectBadge::kMaximumTextWidth + 2 * ProjectBadge::kHorizontalPadding + 30);
}

// ---- The row ------------------------------------------------------------------------

class IslandRow : public ::testing::Test
{
protected:
    void SetUp() override { Symbols::setThemeLookupEnabled(false); }
    void TearDown() override { Symbols::setThemeLookupEnabled(true); }
    NotchViewModel vm;
};

TEST_F(IslandRow, AnEmptySecondLineIsNotShown)
{
    NotchExpandedView view(&vm);
    vm.setTitle(QStringLiteral("Failed"));
    vm.setSubtitle(QString());
    EXPECT_TRUE(view.subtitleLabel()->isHidden());
    const int withoutSubtitle = view.sizeHint().height();
    vm.setSubtitle(QStringLiteral("Not a GitHub repository"));
    EXPECT_FALSE(view.subtitleLabel()->isHidden());
    EXPECT_EQ(view.subtitleLabel()->text(), QStringLiteral("Not a GitHub repository"));
    EXPECT_GE(view.sizeHint().height(), withoutSubtitle);
}

TEST_F(IslandRow, IsAtLeastFortyHighPlusItsPadding)
{
    NotchExpandedView view(&vm);
    EXPECT_GE(view.sizeHint().height(), NotchExpandedView::kMinimumHeight + 2 * NotchExpandedView::kVerticalPadding);
}

TEST_F(IslandRow, TextsAreVerbatim)
{
    NotchExpandedView view(&vm);
    vm.setTitle(QStringLiteral("<b>not bold</b> &amp;"));
    EXPECT_EQ(view.titleLabel()->textFormat(), Qt::PlainText);
    EXPECT_EQ(view.titleLabel()->text(), QStringLiteral("<b>not bold</b> &amp;"));
}

TEST_F(IslandRow, TheBadgeFollowsTheProjectName)
{
    NotchExpandedView view(&vm);
    EXPECT_TRUE(view.badge()->isHidden());
    vm.setProjectName(QStringLiteral("Roadmap"));
    vm.setIsV2Project(true);
    EXPECT_FALSE(view.badge()->isHidden());
    EXPECT_EQ(view.badge()->name(), QStringLiteral("Roadmap"));
    EXPECT_EQ(view.badge()->symbolName(), QStringLiteral("sparkles"));
    vm.setProjectFailed(true);
    EXPECT_EQ(view.badge()->text(), QStringLiteral("Failed: Roadmap"));
    vm.setProjectName(std::nullopt);
    EXPECT_TRUE(view.badge()->isHidden());
}

TEST_F(IslandRow, OpenIsOfferedOnlyForAnAddressThatParses)
{
    OpenedUrls opened;
    NotchExpandedView view(&vm);
    EXPECT_TRUE(view.openButton()->isHidden());
    vm.setIssueURL(QString());
    EXPECT_TRUE(view.openButton()->isHidden());
    vm.setIssueURL(QStringLiteral("http://[broken"));
    EXPECT_TRUE(view.openButton()->isHidden());
    vm.setIssueURL(QStringLiteral("https://github.com/octo/demo/issues/42"));
    ASSERT_FALSE(view.openButton()->isHidden());
    EXPECT_EQ(view.openButton()->text(), QStringLiteral("Open"));

    view.resize(view.sizeHint());
    view.show();
    tap(view.openButton());
    ASSERT_EQ(opened.urls.size(), 1);
    EXPECT_EQ(opened.urls[0], QUrl(QStringLiteral("https://github.com/octo/demo/issues/42")));
}

TEST_F(IslandRow, OpenSitsAtTheTrailingEdgeWhenTheRowIsWider)
{
    NotchExpandedView view(&vm);
    vm.setTitle(QStringLiteral("Pushed #42"));
    vm.setIssueURL(QStringLiteral("https://github.com/octo/demo/issues/42"));
    view.resize(view.sizeHint().width() + 100, view.sizeHint().height());
    view.show();
    EXPECT_EQ(view.openButton()->geometry().right(), view.width() - 1);
    EXPECT_LT(view.titleLabel()->geometry().right(), view.openButton()->geometry().left());
}

TEST_F(IslandRow, ControllerStatesReachTheRow)
{
    DynamicIslandController controller;
    controller.show(confirmed(42, QStringLiteral("Roadmap"), QStringLiteral("https://x.test/p"), false, false));
    auto* view = qobject_cast<NotchExpandedView*>(controller.notch()->expandedContent());
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->titleLabel()->text(), QStringLiteral("Pushed #42"));
    EXPECT_EQ(view->subtitleLabel()->text(), QStringLiteral("octo/demo"));
    EXPECT_FALSE(view->badge()->isHidden());
    EXPECT_FALSE(view->openButton()->isHidden());
    EXPECT_EQ(view->icon()->systemName(), QStringLiteral("checkmark.circle.fill"));
    EXPECT_EQ(view->icon()->animation(), IconAnimation::pulsing);
    controller.show(IslandState::detecting(QStringLiteral("Next")));
    EXPECT_TRUE(view->badge()->isHidden());
    EXPECT_TRUE(view->openButton()->isHidden());
}

// GitHub's refusals reach the second line as the client words them: cause and status, no address.
TEST_F(IslandRow, GitHubRefusalsReadAsTheirCause)
{
    FakeGitHubServer server;
    ASSERT_TRUE(server.start());
    DynamicIslandController controller;
    const std::pair<int, QString> cases[] = {
        {500, QStringLiteral("GitHub is unavailable (HTTP 500)")},
        {401, QStringLiteral("GitHub refused the token (HTTP 401); change it in the panel")},
    };
    for (const auto& [status, text] : cases) {
        server.enqueue(FakeResponse::json(status, R"({"message":"Bad credentials"})"));
        GitHubClient client(server.baseUrl());
        const auto created = awaitTask(client.createIssue(QStringLiteral("octo"),
                                                          QStringLiteral("broken"),
                                                          QStringLiteral("t"),
                                                          QStringLiteral("b"),
                                                          QStringLiteral("ghp_x")));
        ASSERT_TRUE(created && !created->ok());
        controller.show(IslandState::error(created->error().description));
        auto* view = qobject_cast<NotchExpandedView*>(controller.notch()->expandedContent());
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(view->titleLabel()->text(), QStringLiteral("Failed"));
        EXPECT_EQ(view->subtitleLabel()->text(), text);
        EXPECT_FALSE(view->subtitleLabel()->isHidden());
    }
}

// ---- Animated icon ---------------------------------------------------------------------

TEST_F(IslandRow, TheIconKeepsItsInnerViewWhenOnlySymbolOrColourChange)
{
    NotchExpandedView view(&vm);
    vm.setIcon(QStringLiteral("gear"));
    vm.setIconAnimation(IconAnimation::rotating);
    view.resize(view.sizeHint());
    view.show();
    QPointer<AnimatedIconInner> inner = view.icon()->inner();
    ASSERT_TRUE(inner);
    EXPECT_EQ(inner->rotation(), 360);
    EXPECT_TRUE(inner->isAnimating());

    // detecting -> creating: same turning, new symbol and colour.
    vm.setIcon(QStringLiteral("arrow.trianglehead.2.counterclockwise"));
    vm.setIconColor(SystemColor::orange());
    EXPECT_EQ(view.icon()->inner(), inner.data());
    EXPECT_EQ(inner->systemName(), QStringLiteral("arrow.trianglehead.2.counterclockwise"));
    EXPECT_EQ(inner->color(), SystemColor::orange());
    EXPECT_TRUE(inner->isAnimating());

    // creating -> confirmed: a new inner view that starts unrotated and pulses.
    vm.setIcon(QStringLiteral("checkmark.circle.fill"));
    vm.setIconAnimation(IconAnimation::pulsing);
    AnimatedIconInner* pulsing = view.icon()->inner();
    EXPECT_NE(pulsing, inner.data());
    EXPECT_EQ(pulsing->rotation(), 0);
    EXPECT_EQ(pulsing->scale(), AnimatedIconInner::kPulseScale);
    EXPECT_TRUE(pulsing->isAnimating());
    // The old one, and its timer, are gone.
    EXPECT_TRUE(QTest::qWaitFor([&] { return inner.isNull(); }, 2000));

    // error: a new, still inner view.
    vm.setIconAnimation(IconAnimation::none);
    AnimatedIconInner* still = view.icon()->inner();
    EXPECT_NE(still, pulsing);
    EXPECT_FALSE(still->isAnimating());
    EXPECT_EQ(still->rotation(), 0);
    EXPECT_EQ(still->scale(), 1.0);
}

TEST(IslandIcon, AnInnerViewStartsAtRestAndMovesOnlyOnceOnScreen)
{
    AnimatedIcon icon(QStringLiteral("gear"), SystemColor::blue(), IconAnimation::rotating);
    icon.resize(30, 30);
    AnimatedIconInner* inner = icon.inner();
    EXPECT_EQ(inner->rotation(), 0);
    EXPECT_FALSE(inner->isAnimating());
    icon.show();
    EXPECT_EQ(inner->rotation(), 360);
    ASSERT_TRUE(QTest::qWaitFor([&] { return inner->presentedRotation() > 10; }, 3000));
    EXPECT_LT(inner->presentedRotation(), 360);
    icon.hide();
    EXPECT_FALSE(inner->isAnimating());
}

TEST(IslandIcon, APulseStaysBetweenRestAndItsPeak)
{
    AnimatedIcon icon(QStringLiteral("checkmark.circle.fill"), SystemColor::green(), IconAnimation::pulsing);
    icon.resize(30, 30);
    icon.show();
    AnimatedIconInner* inner = icon.inner();
    double highest = 1.0;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const double s = inner->presentedScale();
            EXPECT_GE(s, 1.0);
            EXPECT_LE(s, AnimatedIconInner::kPulseScale + 1e-9);
            highest = std::max(highest, s);
            return highest > 1.1;
        },
        3000));
    EXPECT_EQ(inner->presentedRotation(), 0);
}

TEST(IslandIcon, NoTimerRunsForAStillIcon)
{
    AnimatedIcon icon(QStringLiteral("xmark.circle.fill"), SystemColor::red(), IconAnimation::none);
    icon.resize(30, 30);
    icon.show();
    EXPECT_FALSE(icon.inner()->isAnimating());
}

TEST(IslandIcon, TheSameKindKeepsTheInnerView)
{
    AnimatedIcon icon(QStringLiteral("gear"), SystemColor::blue(), IconAnimation::rotating);
    QSignalSpy replaced(&icon, &AnimatedIcon::innerReplaced);
    AnimatedIconInner* inner = icon.inner();
    icon.setAnimation(IconAnimation::rotating);
    icon.setSystemName(QStringLiteral("plus"));
    icon.setColor(Qt::red);
    EXPECT_EQ(icon.inner(), inner);
    EXPECT_EQ(replaced.count(), 0);
}

TEST(IslandUrl, ParsingRejectsEmptyAndMalformedText)
{
    EXPECT_FALSE(parseURL(QString()).has_value());
    EXPECT_FALSE(parseURL(QStringLiteral("   ")).has_value());
    EXPECT_FALSE(parseURL(QStringLiteral("http://[broken")).has_value());
    EXPECT_TRUE(parseURL(QStringLiteral("https://github.com/octo/demo/issues/1")).has_value());
}

} // namespace
} // namespace jw

namespace jw {
namespace {

using namespace jw::test;

bool near(QRgb p, const QColor& c, int tolerance = 12)
{
    return std::abs(qRed(p) - c.red()) <= tolerance && std::abs(qGreen(p) - c.green()) <= tolerance
           && std::abs(qBlue(p) - c.blue()) <= tolerance;
}

int countNear(const QImage& image, const QRect& area, const QColor& c)
{
    int n = 0;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (near(image.pixel(x, y), c))
                ++n;
    return n;
}

// The row drawn over the notch's black, as the panel shows it.
QImage renderOnBlack(QWidget& view)
{
    QImage image(view.size(), QImage::Format_ARGB32);
    image.fill(Qt::black);
    view.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

TEST(IslandRender, ConfirmedRowShowsAGreenIconWhiteTitleAndTheOpenCapsule)
{
    Symbols::setThemeLookupEnabled(false);
    DynamicIslandController controller;
    controller.show(confirmed(42, QStringLiteral("Roadmap"), QStringLiteral("https://x.test/p"), false, true));
    auto* view = qobject_cast<NotchExpandedView*>(controller.notch()->expandedContent());
    ASSERT_NE(view, nullptr);
    view->resize(view->sizeHint());
    const QImage image = renderOnBlack(*view);

    const QRect icon = view->icon()->symbolFrame().translated(view->icon()->pos());
    EXPECT_EQ(icon.size(), QSize(30, 30));
    EXPECT_GE(icon.left(), 0);
    EXPECT_GT(countNear(image, icon, SystemColor::green()), 150);
    EXPECT_EQ(countNear(image, view->titleLabel()->geometry(), SystemColor::green()), 0);
    EXPECT_GT(countNear(image, view->titleLabel()->geometry(), Qt::white), 5);
    // White at 0.15 over black, beside the button's text.
    const QRect open = view->openButton()->geometry();
    EXPECT_TRUE(near(image.pixel(open.left() + 5, open.center().y()), QColor(38, 38, 38), 6));
    // The badge's violet tint.
    const QRect badge = view->badge()->geometry();
    EXPECT_GT(countNear(image, badge, ProjectBadge::v2Color()), 3);
    Symbols::setThemeLookupEnabled(true);
}

bool dark(QRgb p)
{
    return qRed(p) < 24 && qGreen(p) < 24 && qBlue(p) < 24;
}

TEST(IslandRender, ThePulsingIconNeverReachesTheEdgeOfItsRoom)
{
    Symbols::setThemeLookupEnabled(false);
    DynamicIslandController controller;
    controller.show(confirmed());
    auto* view = qobject_cast<NotchExpandedView*>(controller.notch()->expandedContent());
    ASSERT_NE(view, nullptr);
    view->resize(view->sizeHint());
    view->show();
    AnimatedIconInner* inner = view->icon()->inner();
    ASSERT_EQ(inner->animation(), IconAnimation::pulsing);
    ASSERT_TRUE(QTest::qWaitFor([&] { return inner->presentedScale() > 1.14; }, 5000));
    const QImage image = renderOnBlack(*view);

    // What the icon may paint: its own rectangle within the row. Ink on that edge is ink cut off.
    const QRect room = QRect(view->icon()->mapTo(view, QPoint()), view->icon()->size()).intersected(view->rect());
    EXPECT_GT(countNear(image, room, SystemColor::green()), 400);
    int inkOnEdge = 0;
    for (int x = room.left(); x <= room.right(); ++x)
        inkOnEdge += !dark(image.pixel(x, room.top())) + !dark(image.pixel(x, room.bottom()));
    for (int y = room.top(); y <= room.bottom(); ++y)
        inkOnEdge += !dark(image.pixel(room.left(), y)) + !dark(image.pixel(room.right(), y));
    EXPECT_EQ(inkOnEdge, 0);
    Symbols::setThemeLookupEnabled(true);
}

TEST(IslandRender, TheRowIsDrawnInsideTheExpandedNotch)
{
    Symbols::setThemeLookupEnabled(false);
    DynamicIslandController controller;
    controller.show(IslandState::error(QStringLiteral("Not a GitHub repository")));
    QPointer<NotchDrawer> notch = controller.notch();
    ASSERT_TRUE(QTest::qWaitFor([&] { return notch && notch->state() == NotchDrawerState::expanded && notch->panel(); },
                                10000));
    auto* root = qobject_cast<NotchContentView*>(notch->panel()->contentView());
    ASSERT_NE(root, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !root->animator()->isRunning(); }, 10000));
    const QImage panel = notch->panel()->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    EXPECT_GT(countNear(panel, panel.rect(), SystemColor::red()), 150);
    Symbols::setThemeLookupEnabled(true);
}

// ---- Long texts without a break opportunity ---------------------------------------------

// Brightness summed over an area: how much of a text is drawn there.
double ink(const QImage& image, const QRect& area)
{
    double sum = 0;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            sum += qGray(image.pixel(x, y));
    return sum;
}

// The same text on one line, with nothing cut off.
double inkOfOneLine(const QLabel& label, const QColor& colour)
{
    const QFontMetrics fm(label.font());
    QImage image(fm.horizontalAdvance(label.text()) + 20, fm.height() + 10, QImage::Format_ARGB32);
    image.fill(Qt::black);
    QPainter p(&image);
    p.setFont(label.font());
    p.setPen(colour);
    p.drawText(QPointF(10, 5 + fm.ascent()), label.text());
    p.end();
    return ink(image, image.rect());
}

struct LongTextCase
{
    const char* name;
    IslandState state;
};

void PrintTo(const LongTextCase& c, std::ostream* os)
{
    *os << c.name;
}

class IslandLongText : public ::testing::TestWithParam<LongTextCase>
{};

// On an 800-point screen the panel is 400 wide: the island stays inside it, and the second
// line, a run with no place to break, wraps instead of being cut off.
TEST_P(IslandLongText, WrapsInsideThePanelOfAnEightHundredPointScreen)
{
    Symbols::setThemeLookupEnabled(false);
    ScreenScope scope(notchedScreen());
    DynamicIslandController controller;
    controller.show(GetParam().state);
    QPointer<NotchDrawer> notch = controller.notch();
    ASSERT_TRUE(QTest::qWaitFor([&] { return notch && notch->state() == NotchDrawerState::expanded && notch->panel(); },
                                10000));
    NotchDrawerPanel* panel = notch->panel();
    auto* root = qobject_cast<NotchContentView*>(panel->contentView());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !root->animator()->isRunning(); }, 10000));
    ASSERT_EQ(panel->width(), 400);
    const QRectF shape = root->surface()->paintedShape().boundingRect();
    EXPECT_GE(shape.left(), 0);
    EXPECT_LE(shape.right(), panel->width());

    auto* row = qobject_cast<NotchExpandedView*>(notch->expandedContent());
    QLabel* second = row->subtitleLabel();
    const QRect drawn(second->mapTo(panel, QPoint()), second->size());
    EXPECT_TRUE(shape.contains(QRectF(drawn))) << "the second line lies inside the notch";
    if (!row->badge()->isHidden()) {
        const QRect badge(row->badge()->mapTo(panel, QPoint()), row->badge()->size());
        EXPECT_TRUE(shape.contains(QRectF(badge)));
        EXPECT_LT(badge.right(), row->openButton()->mapTo(panel, QPoint()).x());
    }
    const QImage image = panel->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    QColor colour = Qt::white;
    colour.setAlphaF(float(NotchExpandedView::kSubtitleOpacity));
    EXPECT_GT(ink(image, drawn), 0.9 * inkOfOneLine(*second, colour)) << "every character is drawn";
    Symbols::setThemeLookupEnabled(true);
}

INSTANTIATE_TEST_SUITE_P(
    Island,
    IslandLongText,
    ::testing::Values(
        // The longest a repository's full name can be: a 39-character owner and a 100-character name.
        LongTextCase{"repository",
                     IslandState::confirmed(QStringLiteral("Fix the parser"),
                                            QStringLiteral("tallowmere").repeated(4).left(39) + QLatin1Char('/')
                                                + QStringLiteral("jot_warden_").repeated(10).left(100),
                                            42,
                                            QStringLiteral("https://github.com/octo/demo/issues/42"),
                                            QStringLiteral("jot_warden_roadmap_").repeated(4),
                                            QStringLiteral("https://github.com/users/octo/projects/3"),
                                            false,
                                            true)},
        LongTextCase{"identifier",
                     IslandState::detecting(QStringLiteral("Rename ")
                                            + QStringLiteral("parse_config_value_").repeated(16).left(300))}),
    [](const ::testing::TestParamInfo<LongTextCase>& p) { return std::string(p.param.name); });

} // namespace
} // namespace jw
