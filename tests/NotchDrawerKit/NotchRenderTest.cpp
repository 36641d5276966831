#include "NotchDrawerKit/FrameAnimator.h"
#include "NotchDrawerKit/NotchContentView.h"
#include "NotchDrawerKit/NotchView.h"
#include "NotchDrawerKit/NotchlessView.h"
#include "NotchTestSupport.h"
#include "tests/support/ChildRun.h"

#include <QEnterEvent>
#include <QImage>
#include <QMouseEvent>

#include <gtest/gtest.h>

namespace jw {

using namespace jw::test;

namespace {

// The offscreen screen is 800 x 600; the panel is its top-centre quarter, 400 x 300.
constexpr int kPanelCentre = 200;

QWidget* expandedContent()
{
    auto* l = new QLabel(QStringLiteral("Pushed #42 tallowmere/jot-warden"));
    l->setStyleSheet(QStringLiteral("font-size: 16px; font-weight: bold;"));
    l->setFixedSize(200, 60);
    return l;
}

std::unique_ptr<NotchDrawer> drawer(NotchDrawerStyle style,
                                    NotchDrawerHoverBehavior behavior = NotchDrawerHoverBehavior::hapticOnHover)
{
    return std::make_unique<NotchDrawer>(
        behavior,
        style,
        [] { return expandedContent(); },
        [] {
            auto* l = label(QStringLiteral("REC"));
            l->setFixedSize(32, 16);
            return l;
        },
        [] {
            auto* l = label(QStringLiteral("3:42"));
            l->setFixedSize(92, 16);
            return l;
        });
}

NotchContentView* root(NotchDrawer& d)
{
    return qobject_cast<NotchContentView*>(d.panel()->contentView());
}

bool settled(NotchDrawer& d)
{
    return QTest::qWaitFor([&] { return d.panel() && !root(d)->animator()->isRunning(); }, 5000);
}

void runTo(NotchDrawer& d, NotchDrawerState state)
{
    Call c(state == NotchDrawerState::expanded ? d.expand(screen()) : d.compact(screen()));
    ASSERT_TRUE(c.wait());
    ASSERT_EQ(d.state(), state);
    ASSERT_TRUE(settled(d));
}

bool isBlack(QRgb p)
{
    return qAlpha(p) == 255 && qRed(p) < 10 && qGreen(p) < 10 && qBlue(p) < 10;
}
bool isLight(QRgb p)
{
    return qAlpha(p) > 0 && qRed(p) > 180 && qGreen(p) > 180 && qBlue(p) > 180;
}

int countLight(const QImage& image, const QRect& area)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += isLight(image.pixel(x, y));
    return n;
}

} // namespace

TEST(NotchView, ExpandedDrawsABlackNotchWithWhiteContentHangingFromTheTop)
{
    ScreenScope scope(notchedScreen());
    auto d = drawer(NotchDrawerStyle::standardNotch());
    runTo(*d, NotchDrawerState::expanded);
    auto* view = qobject_cast<NotchView*>(root(*d)->surface());
    ASSERT_NE(view, nullptr);
    // Content 200 x 60: block 230 wide (content and 15 each side), 60 + 32 + 15 high; plus 2 x 15.
    EXPECT_EQ(view->presentedRect(), QRectF(kPanelCentre - 130, 0, 260, 107));

    const QImage image = d->panel()->grab().toImage();
    EXPECT_TRUE(isBlack(image.pixel(kPanelCentre, 1)));
    EXPECT_TRUE(isBlack(image.pixel(kPanelCentre - 100, 100)));
    EXPECT_TRUE(isBlack(image.pixel(kPanelCentre + 100, 20)));
    // Below and beside the shape the panel is transparent, and takes no input there.
    for (QPoint p : {QPoint(kPanelCentre, 160), QPoint(5, 5), QPoint(395, 295)}) {
        EXPECT_EQ(qAlpha(image.pixel(p)), 0) << p.x() << "," << p.y();
        EXPECT_FALSE(d->panel()->inputRegion().contains(p)) << p.x() << "," << p.y();
    }
    // The expanded shadow (0.5, radius 10) darkens just below the shape.
    EXPECT_GT(qAlpha(image.pixel(kPanelCentre, 110)), 0);
    // White text below the notch strip, inside the content's rectangle.
    EXPECT_GT(countLight(image, QRect(kPanelCentre - 100, 32, 200, 60)), 30);
    EXPECT_EQ(countLight(image, QRect(kPanelCentre - 100, 0, 200, 30)), 0);
}

TEST(NotchView, ACallersPaletteAndStyleSheetColoursWinOverTheWhiteDefault)
{
    ScreenScope scope(notchedScreen());
    auto d =
        std::make_unique<NotchDrawer>(NotchDrawerHoverBehavior::hapticOnHover, NotchDrawerStyle::standardNotch(), [] {
            auto* content = new QWidget;
            content->setFixedSize(200, 60);
            // Rows: red palette; red palette and a style sheet; green style sheet; a style sheet alone.
            const char* sheets[] = {"", "font-size: 12px;", "color: rgb(0, 255, 0);", "font-size: 12px;"};
            for (int row = 0; row < 4; ++row) {
                auto* l = new QLabel(QStringLiteral("WWWWWWWWWWWWWWWWWW"), content);
                l->setStyleSheet(QString::fromLatin1(sheets[row]));
                if (row < 2) {
                    QPalette p = l->palette();
                    p.setColor(QPalette::WindowText, Qt::red);
                    l->setPalette(p);
                }
                l->setGeometry(0, row * 15, 200, 15);
            }
            return content;
        });
    runTo(*d, NotchDrawerState::expanded);
    QImage image = d->panel()->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    // Pixels of a row (the content hangs below the 32-point notch strip) close to a colour.
    auto count = [&](int row, QColor c) {
        int n = 0;
        for (int y = 32 + row * 15; y < 32 + row * 15 + 15; ++y)
            for (int x = kPanelCentre - 100; x < kPanelCentre + 100; ++x) {
                const QColor p(image.pixel(x, y));
                n +=
                    std::abs(p.red() - c.red()) + std::abs(p.green() - c.green()) + std::abs(p.blue() - c.blue()) < 120;
            }
        return n;
    };
    EXPECT_GT(count(0, Qt::red), 100) << "palette";
    EXPECT_GT(count(1, Qt::red), 100) << "palette under a style sheet of its own";
    EXPECT_GT(count(2, Qt::green), 100) << "style sheet colour";
    EXPECT_GT(count(3, Qt::white), 100) << "the default, under a style sheet too";
    EXPECT_EQ(count(0, Qt::white) + count(1, Qt::white) + count(2, Qt::white), 0);

    // The default is given back outside a notch, and not by a panel closing behind a new one.
    QLabel* plain = d->expandedContent()->findChildren<QLabel*>().last();
    Call hide(d->hide());
    ASSERT_TRUE(hide.wait());
    EXPECT_NE(plain->palette().color(QPalette::WindowText), QColor(Qt::white));
    runTo(*d, NotchDrawerState::expanded);
    Call again(d->hide());
    // A styled label added in the same turn, in the place of the plain one: the closing panel
    // hears of it first, but the new one keeps it.
    plain->hide();
    auto* added = new QLabel(QStringLiteral("WWWWWWWWWWWWWWWWWW"), d->expandedContent());
    added->setStyleSheet(QStringLiteral("font-size: 12px;"));
    added->setGeometry(plain->geometry());
    added->show();
    runTo(*d, NotchDrawerState::expanded);
    ASSERT_TRUE(QTest::qWaitFor([] { return panelCount() == 1; }, 5000));
    EXPECT_EQ(plain->palette().color(QPalette::WindowText), QColor(Qt::white));
    image = d->panel()->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    EXPECT_GT(count(3, Qt::white), 100) << "a label added as the panel was replaced";

    // Moved out of the contents, a label loses the default while the notch is still up.
    QWidget outside;
    plain->setParent(&outside);
    EXPECT_NE(plain->palette().color(QPalette::WindowText), QColor(Qt::white));
}

TEST(NotchContentView, TheShadowKeepsItsWholeHaloWhenDrawnAtTwiceThePixelDensity)
{
    ScreenScope scope(notchedScreen());
    auto d = drawer(NotchDrawerStyle::standardNotch());
    runTo(*d, NotchDrawerState::expanded);
    QImage image(d->panel()->size() * 2, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2);
    image.fill(Qt::transparent);
    d->panel()->render(&image);
    // Straight down from the shape's bottom edge (107): the expanded shadow (radius 10) fades
    // over 15 points, device pixel by device pixel, without a step where a margin cut it off.
    const int x = kPanelCentre * 2;
    int previous = qAlpha(image.pixel(x, 108 * 2));
    EXPECT_GT(previous, 0);
    for (int y = 108 * 2 + 1; y < (107 + 20) * 2; ++y) {
        const int alpha = qAlpha(image.pixel(x, y));
        ASSERT_LE(alpha, previous) << y;
        ASSERT_LE(previous - alpha, 16) << "a hard edge at " << y / 2.0;
        previous = alpha;
    }
    EXPECT_GT(qAlpha(image.pixel(x, (107 + 10) * 2)), 0) << "the halo still reaches 10 points out";
    EXPECT_EQ(previous, 0);
}

TEST(NotchView, CompactShowsBothSidesAroundANotchWideGapCentredOnTheNotch)
{
    ScreenScope scope(notchedScreen());
    auto d = drawer(NotchDrawerStyle::standardNotch());
    runTo(*d, NotchDrawerState::compact);
    auto* view = qobject_cast<NotchView*>(root(*d)->surface());
    EXPECT_DOUBLE_EQ(view->compactLeadingWidth(), 40);
    EXPECT_DOUBLE_EQ(view->compactTrailingWidth(), 100);
    EXPECT_EQ(view->presentedRect(), QRectF(kPanelCentre - 176 + 30, 0, 352, 32));
    const QImage image = d->panel()->grab().toImage();
    EXPECT_TRUE(isBlack(image.pixel(kPanelCentre, 16)));
    EXPECT_GT(countLight(image, QRect(kPanelCentre - 100 - 40, 0, 40, 32)), 5) << "leading text";
    EXPECT_GT(countLight(image, QRect(kPanelCentre + 100, 0, 100, 32)), 5) << "trailing text";
    EXPECT_EQ(countLight(image, QRect(kPanelCentre - 99, 0, 198, 32)), 0) << "the gap over the notch";
    EXPECT_EQ(qAlpha(image.pixel(kPanelCentre, 40)), 0) << "no visible shadow while compact";

    // One side disabled: it vanishes and the shape re-centres on what is left.
    d->setDisableCompactTrailing(true);
    ASSERT_TRUE(settled(*d));
    EXPECT_DOUBLE_EQ(view->compactTrailingWidth(), 0);
    EXPECT_EQ(view->presentedRect(), QRectF(kPanelCentre - 126 - 20, 0, 252, 32));
    const QImage one = d->panel()->grab().toImage();
    EXPECT_EQ(countLight(one, QRect(kPanelCentre + 100, 0, 100, 32)), 0);
    EXPECT_GT(countLight(one, QRect(kPanelCentre - 140, 0, 40, 32)), 5);

    // Enabled again while compact: measured again, and the gap re-centres with both sides.
    d->setDisableCompactTrailing(false);
    ASSERT_TRUE(settled(*d));
    EXPECT_DOUBLE_EQ(view->compactTrailingWidth(), 100);
    EXPECT_EQ(view->presentedRect(), QRectF(kPanelCentre - 176 + 30, 0, 352, 32));
}

namespace {

// A plain white block, so any part of it outside the black shape is plain to see.
QWidget* whiteBlock(QSize size)
{
    auto* w = new QWidget;
    w->setAutoFillBackground(true);
    QPalette palette = w->palette();
    palette.setColor(QPalette::Window, Qt::white);
    w->setPalette(palette);
    w->setFixedSize(size);
    return w;
}

// No white pixel lies outside the presented shape (allowing its antialiased rim), faint or not,
// and some lie inside.
void expectContentInsideTheShape(const QImage& grabbed,
                                 const QPainterPath& shape,
                                 const QRect& contentArea,
                                 int atLeast = 20)
{
    const QImage image = grabbed.convertToFormat(QImage::Format_ARGB32);
    int inside = 0;
    int outside = 0;
    QPoint firstOutside;
    for (int y = contentArea.top(); y <= contentArea.bottom(); ++y) {
        for (int x = contentArea.left(); x <= contentArea.right(); ++x) {
            if (!isLight(image.pixel(x, y)))
                continue;
            if (shape.intersects(QRectF(x - 0.5, y - 0.5, 2, 2)))
                ++inside;
            else if (outside++ == 0)
                firstOutside = QPoint(x, y);
        }
    }
    EXPECT_EQ(outside, 0) << "content outside the shape, first at " << firstOutside.x() << "," << firstOutside.y();
    EXPECT_GE(inside, atLeast);
}

void expectContentInsideTheShape(const QImage& grabbed, const QRectF& shape, const QRect& contentArea, int atLeast = 20)
{
    QPainterPath path;
    path.addRect(shape);
    expectContentInsideTheShape(grabbed, path, contentArea, atLeast);
}

} // namespace

TEST(NotchView, ACompactSideTallerThanTheNotchIsClippedToTheShape)
{
    ScreenScope scope(notchedScreen());
    auto d = std::make_unique<NotchDrawer>(
        NotchDrawerHoverBehavior::hapticOnHover,
        NotchDrawerStyle::standardNotch(),
        [] { return expandedContent(); },
        [] { return whiteBlock(QSize(30, 60)); },
        [] { return whiteBlock(QSize(30, 10)); });
    runTo(*d, NotchDrawerState::compact);
    auto* view = qobject_cast<NotchView*>(root(*d)->surface());
    const QRectF shape = view->presentedRect();
    EXPECT_DOUBLE_EQ(shape.height(), 32) << "the row keeps the notch's height";
    const QImage image = d->panel()->grab().toImage();
    expectContentInsideTheShape(image, shape, QRect(0, 0, image.width(), 80));
}

TEST(NotchView, ExpandedContentThatGrowsStaysInsideTheShapeWhileItFollows)
{
    ScreenScope scope(notchedScreen());
    auto d = std::make_unique<NotchDrawer>(NotchDrawerHoverBehavior::hapticOnHover,
                                           NotchDrawerStyle::standardNotch(),
                                           [] { return whiteBlock(QSize(200, 60)); });
    runTo(*d, NotchDrawerState::expanded);
    auto* view = qobject_cast<NotchView*>(root(*d)->surface());
    QWidget* content = d->expandedContent();
    const auto grew = Clock::now();
    content->setFixedSize(200, 160);
    ASSERT_TRUE(QTest::qWaitFor([&] { return content->parentWidget()->height() == 160; }, 5000)) << "placed again";
    // Presented as it stood when the content grew: the shape still has its old height.
    view->step(grew);
    const QRectF shape = view->presentedRect();
    ASSERT_LT(shape.height(), 32 + 60 + 15 + 1);
    const QImage image = d->panel()->grab().toImage();
    expectContentInsideTheShape(image, shape, QRect(0, 0, image.width(), image.height()));
    ASSERT_TRUE(settled(*d));
    EXPECT_DOUBLE_EQ(view->presentedRect().height(), 32 + 160 + 15) << "and then it follows";
}

TEST(NotchView, ContentComingInWithTheShapeStaysInsideItThroughoutItsTransition)
{
    ScreenScope scope(notchedScreen());
    auto d = std::make_unique<NotchDrawer>(NotchDrawerHoverBehavior::hapticOnHover,
                                           NotchDrawerStyle::standardNotch(),
                                           [] { return whiteBlock(QSize(200, 60)); });
    std::optional<Clock::time_point> opened;
    QObject::connect(d.get(), &NotchDrawer::stateChanged, d.get(), [&] { opened = Clock::now(); });
    Call c(d->expand(screen()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return opened.has_value(); }, 5000));
    auto* view = qobject_cast<NotchView*>(root(*d)->surface());
    ASSERT_TRUE(d->expandedContent()->isVisible()) << "on screen from the start of its insertion";
    for (double at : {0.03, 0.08, 0.15}) {
        view->step(*opened + std::chrono::microseconds(std::llround(at * 1e6)));
        const QRectF shape = view->presentedRect();
        ASSERT_LT(shape.height(), 32 + 60 + 15) << "still opening at " << at;
        const QImage image = d->panel()->grab().toImage();
        SCOPED_TRACE(at);
        expectContentInsideTheShape(image, shape, QRect(0, 0, image.width(), image.height()), 0);
        // Fading in over the black notch, never over a hole in it (an opaque content included).
        EXPECT_EQ(qAlpha(image.pixel(kPanelCentre, 34)), 255);
    }
    ASSERT_TRUE(c.wait());
}

TEST(NotchView, HiddenShrinksToTheNotchSizedShapeAtTheTopCentre)
{
    ScreenScope scope(notchedScreen());
    auto d = drawer(NotchDrawerStyle::standardNotch());
    d->createPanel(screen());
    ASSERT_TRUE(settled(*d));
    auto* view = qobject_cast<NotchView*>(root(*d)->surface());
    EXPECT_EQ(view->presentedRect(), QRectF(kPanelCentre - 106, 0, 212, 32));
    const QImage image = d->panel()->grab().toImage();
    EXPECT_TRUE(isBlack(image.pixel(kPanelCentre, 16)));
    EXPECT_EQ(qAlpha(image.pixel(kPanelCentre, 40)), 0);
    EXPECT_EQ(countLight(image, image.rect()), 0) << "no content while hidden";
    EXPECT_FALSE(d->panel()->inputRegion().contains(QPoint(kPanelCentre, 40)));
}

TEST(NotchView, PointerOverTheShapeReportsHovering)
{
    ScreenScope scope(notchedScreen());
    auto d = drawer(NotchDrawerStyle::standardNotch(), NotchDrawerHoverBehavior::shadowOnHover);
    runTo(*d, NotchDrawerState::expanded);
    auto* view = root(*d)->surface();
    QEnterEvent enter(QPointF(kPanelCentre, 50), QPointF(kPanelCentre, 50), QPointF(kPanelCentre, 50));
    QCoreApplication::sendEvent(view, &enter);
    EXPECT_TRUE(d->isHovering());
    EXPECT_EQ(root(*d)->shadow().opacity, 0.8);
    EXPECT_EQ(root(*d)->shadow().radius, 20);
    QMouseEvent away(QEvent::MouseMove, QPointF(5, 290), QPointF(5, 290), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &away);
    EXPECT_FALSE(d->isHovering());
    QCoreApplication::sendEvent(view, &enter);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(view, &leave);
    EXPECT_FALSE(d->isHovering());
}

TEST(NotchContentView, HoverAnimatesTheShadowTowardItsNewValues)
{
    ScreenScope scope(notchedScreen());
    auto d = drawer(NotchDrawerStyle::standardNotch(), NotchDrawerHoverBehavior::shadowOnHover);
    runTo(*d, NotchDrawerState::expanded);
    NotchContentView* view = root(*d);
    EXPECT_DOUBLE_EQ(view->presentedShadow().opacity, 0.5);
    EXPECT_DOUBLE_EQ(view->presentedShadow().radius, 10);
    d->setHovering(true);
    // The model changes at once; the presentation springs from where it was.
    EXPECT_DOUBLE_EQ(view->shadow().opacity, 0.8);
    EXPECT_NEAR(view->presentedShadow().opacity, 0.5, 1e-6);
    EXPECT_TRUE(view->animator()->isRunning());
    ASSERT_TRUE(settled(*d));
    EXPECT_DOUBLE_EQ(view->presentedShadow().opacity, 0.8);
    EXPECT_DOUBLE_EQ(view->presentedShadow().radius, 20);
    // The painted region grows with the larger shadow, so it takes input where it paints.
    EXPECT_TRUE(d->panel()->inputRegion().contains(QPoint(kPanelCentre, 107 + 15)));
}

TEST(NotchlessView, CardSlidesBelowTheMenuBarWithABorderInsideItsEdge)
{
    ScreenScope scope(plainScreen());
    auto d = drawer(NotchDrawerStyle::automatic());
    runTo(*d, NotchDrawerState::expanded);
    auto* card = qobject_cast<NotchlessView*>(root(*d)->surface());
    ASSERT_NE(card, nullptr);
    EXPECT_DOUBLE_EQ(card->windowHeight(), 130);
    // Menu bar 24 high: the view's top margin starts there, the card 20 below.
    EXPECT_EQ(card->presentedCardRect(), QRectF(kPanelCentre - 115, 24 + 20, 230, 90));

    const QImage image = d->panel()->grab().toImage();
    const QRgb fill = image.pixel(kPanelCentre, 24 + 20 + 5);
    EXPECT_GT(qAlpha(fill), 200) << "the material";
    const QRgb border = image.pixel(kPanelCentre, 24 + 20);
    EXPECT_NE(border, fill) << "a 1-point border along the top edge";
    EXPECT_GT(qAlpha(border), 200);
    EXPECT_TRUE(d->panel()->inputRegion().contains(QPoint(kPanelCentre, 80)));
    EXPECT_FALSE(d->panel()->inputRegion().contains(QPoint(5, 290)));
    EXPECT_EQ(qAlpha(image.pixel(5, 290)), 0);

    // Hidden (and compact, drawn alike) moves it up by its own height, out of the panel.
    Call h(d->hide());
    EXPECT_TRUE(QTest::qWaitFor([&] { return card->presentedCardRect().bottom() <= 0; }, 5000));
    ASSERT_TRUE(h.wait());
}

TEST(NotchlessView, CornerRadiusFollowsTheStoredFloatingStyle)
{
    ScreenScope scope(plainScreen());
    for (auto [style, radius] :
         {std::pair{NotchDrawerStyle::floating(12), 12.0}, std::pair{NotchDrawerStyle::automatic(), 20.0}}) {
        auto d = drawer(style);
        runTo(*d, NotchDrawerState::expanded);
        auto* card = qobject_cast<NotchlessView*>(root(*d)->surface());
        EXPECT_DOUBLE_EQ(card->targetLayout().cornerRadius, radius);
        const QRectF r = card->presentedCardRect();
        const QImage image = d->panel()->grab().toImage();
        // Just inside the corner of the bounding box: outside a 12 or 20 radius arc.
        const QPoint corner = r.topLeft().toPoint() + QPoint(2, 2);
        EXPECT_LT(qAlpha(image.pixel(corner)), 200);
        // At 5 points in, a 12-radius corner is filled, a 20-radius one not yet.
        const QPoint inner = r.topLeft().toPoint() + QPoint(4, 4);
        if (radius == 12)
            EXPECT_GT(qAlpha(image.pixel(inner)), 200);
        else
            EXPECT_LT(qAlpha(image.pixel(inner)), 200);
    }
}

namespace {

struct PixelCase
{
    const char* name;
    int screenWidth;
    int contentWidth;
    int pixelRatio;
};

void PrintTo(const PixelCase& c, std::ostream* os)
{
    *os << c.name;
}

} // namespace

class NotchOnWholePixels : public ::testing::TestWithParam<PixelCase>
{};

// On a screen whose width halves to an odd number or a half (1366, 1367), the panel is centred
// on the screen and the shape's sides fall on whole device pixels, sharp and as far from the
// screen's centre on either side, whichever parity the shape's width has.
TEST_P(NotchOnWholePixels, SidesAreSharpAndCentredOnTheScreen)
{
    const PixelCase c = GetParam();
    if (c.pixelRatio != 1 && !inChild()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::number(c.pixelRatio));
        EXPECT_TRUE(passesInChild(env));
        return;
    }
    ASSERT_EQ(screen()->devicePixelRatio(), c.pixelRatio);
    ScreenGeometry g;
    g.frame = QRectF(0, 0, c.screenWidth, 768);
    g.visibleFrame = QRectF(0, 0, c.screenWidth, 768 - 25);
    ScreenScope scope(g);
    auto d = std::make_unique<NotchDrawer>(NotchDrawerHoverBehavior::hapticOnHover,
                                           NotchDrawerStyle::standardNotch(),
                                           [&] { return whiteBlock(QSize(c.contentWidth, 60)); });
    runTo(*d, NotchDrawerState::expanded);
    const QRect panel = d->panel()->geometry();
    EXPECT_EQ(2 * panel.x() + panel.width(), c.screenWidth) << "the panel's centre is the screen's";

    // Across the straight part of the sides, below the flares and above the rounded corners.
    const QImage image = root(*d)->surface()->grab().toImage();
    const int y = 50 * c.pixelRatio;
    int first = -1;
    int last = -1;
    int soft = 0;
    for (int x = 0; x < image.width(); ++x) {
        const int alpha = qAlpha(image.pixel(x, y));
        soft += alpha != 0 && alpha != 255;
        if (alpha == 255) {
            first = first < 0 ? x : first;
            last = x;
        }
    }
    EXPECT_EQ(soft, 0) << "half-covered pixels at the sides";
    ASSERT_GE(first, 0);
    EXPECT_EQ(2 * panel.x() * c.pixelRatio + first + last + 1, c.screenWidth * c.pixelRatio)
        << "the shape's centre is the screen's";
}

INSTANTIATE_TEST_SUITE_P(NotchView,
                         NotchOnWholePixels,
                         ::testing::Values(PixelCase{"EvenShape1366", 1366, 300, 1},
                                           PixelCase{"OddShape1367", 1367, 301, 1},
                                           PixelCase{"EvenShape1366AtTwice", 1366, 300, 2},
                                           PixelCase{"OddShape1367AtTwice", 1367, 301, 2}),
                         [](const ::testing::TestParamInfo<PixelCase>& p) { return std::string(p.param.name); });

// Above a radius of about 51 the rounded corner cuts into the 15-point inset around the content.
TEST(NotchlessView, ContentIsClippedToTheCardAtLargeCornerRadii)
{
    ScreenScope scope(plainScreen());
    auto d = std::make_unique<NotchDrawer>(NotchDrawerHoverBehavior::hapticOnHover, NotchDrawerStyle::floating(80), [] {
        return whiteBlock(QSize(200, 200));
    });
    runTo(*d, NotchDrawerState::expanded);
    auto* card = qobject_cast<NotchlessView*>(root(*d)->surface());
    ASSERT_DOUBLE_EQ(card->targetLayout().cornerRadius, 80);
    const QImage image = d->panel()->grab().toImage();
    const QPoint origin = card->mapTo(d->panel(), QPoint(0, 0));
    EXPECT_EQ(image.pixel(card->presentedCardRect().center().toPoint() + origin), qRgb(255, 255, 255))
        << "the content is drawn";
    expectContentInsideTheShape(image, card->paintedShape().translated(origin), image.rect());
}

} // namespace jw
