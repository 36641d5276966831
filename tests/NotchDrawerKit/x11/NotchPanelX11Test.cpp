#include "NotchDrawerKit/FrameAnimator.h"
#include "NotchDrawerKit/NotchContentView.h"
#include "NotchDrawerKit/NotchDrawer.h"
#include "NotchDrawerKit/NotchDrawerPanel.h"
#include "NotchDrawerKit/NotchGeometry.h"
#include "NotchDrawerKit/NotchSurface.h"
#include "platform/screen/ScreenGeometry.h"

#include <QCoroTask>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTest>
#include <QWindow>
#include <qguiapplication_platform.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <xcb/xcb.h>

namespace jw {

// The headless wrapper's X server has one 1920 x 1080 screen and no desktop panels.
TEST(NotchPanelOnX11, MeasuresTheRealScreen)
{
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    QScreen* screen = QGuiApplication::primaryScreen();
    const ScreenGeometry g = ScreenGeometry::of(screen);
    EXPECT_EQ(g.frame, QRectF(0, 0, 1920, 1080));
    EXPECT_EQ(g.toQt(g.frame), QRectF(screen->geometry()));
    EXPECT_FALSE(g.auxiliaryTopLeftArea || g.auxiliaryTopRightArea) << "Linux screens report no camera housing";
    const double menubar = NotchGeometry::menubarHeight(g);
    EXPECT_DOUBLE_EQ(menubar, double(screen->availableGeometry().top() - screen->geometry().top()));
    EXPECT_EQ(NotchGeometry::notchFrame(g), QRectF(810, 1080 - menubar, 300, menubar));
    EXPECT_EQ(NotchGeometry::panelFrame(g), QRectF(480, 540, 960, 540));
    EXPECT_EQ(g.toQt(NotchGeometry::panelFrame(g)), QRectF(480, 0, 960, 540));
    EXPECT_EQ(NotchGeometry::resolvedStyle(NotchDrawerStyle::automatic(), g), NotchDrawerStyle::standardFloating());
}

TEST(NotchPanelOnX11, PanelIsShapedToWhatItPaintsAndTakesNoFocus)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    auto d = std::make_unique<NotchDrawer>(NotchDrawerHoverBehavior::hapticOnHover, NotchDrawerStyle::automatic(), [] {
        auto* l = new QLabel(QStringLiteral("Pushed #42"));
        l->setFixedSize(200, 60);
        return l;
    });
    QCoro::waitFor(d->expand(screen));
    NotchDrawerPanel* panel = d->panel();
    ASSERT_NE(panel, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(panel));
    EXPECT_EQ(panel->geometry(), QRect(480, 0, 960, 540));
    auto* root = qobject_cast<NotchContentView*>(panel->contentView());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !root->animator()->isRunning(); }, 5000));

    // The window's shape is the painted card (with its shadow under a compositor), not the quarter screen.
    const QRegion shape = panel->mask();
    EXPECT_EQ(shape, panel->inputRegion());
    EXPECT_FALSE(shape.isEmpty());
    EXPECT_TRUE(shape.contains(QPoint(480, 80)));
    EXPECT_FALSE(shape.contains(QPoint(10, 500)));
    EXPECT_FALSE(shape.contains(QPoint(950, 10)));
    EXPECT_LT(shape.boundingRect().width() * shape.boundingRect().height(), panel->width() * panel->height() / 4);
    EXPECT_NE(QGuiApplication::focusWindow(), panel->windowHandle());
    EXPECT_TRUE(panel->windowHandle()->flags().testFlag(Qt::WindowDoesNotAcceptFocus));

    QCoro::waitFor(d->hide());
    EXPECT_EQ(d->panel(), nullptr);
}

} // namespace jw

namespace jw {
namespace {

// Reads the server's side of things straight from X, not from Qt's idea of the window.
struct X11
{
    xcb_connection_t* connection = nullptr;

    X11()
    {
        if (auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>())
            connection = x11->connection();
    }
    xcb_atom_t atom(const char* name) const
    {
        xcb_intern_atom_reply_t* reply =
            xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t a = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(reply);
        return a;
    }
    bool overrideRedirect(xcb_window_t window) const
    {
        xcb_get_window_attributes_reply_t* reply =
            xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, window), nullptr);
        const bool set = reply && reply->override_redirect;
        free(reply);
        return set;
    }
    QList<xcb_atom_t> atoms(xcb_window_t window, const char* property) const
    {
        QList<xcb_atom_t> out;
        xcb_get_property_reply_t* reply =
            xcb_get_property_reply(connection,
                                   xcb_get_property(connection, 0, window, atom(property), XCB_ATOM_ATOM, 0, 64),
                                   nullptr);
        if (reply) {
            const auto* values = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
            for (int i = 0; i < xcb_get_property_value_length(reply) / 4; ++i)
                out << values[i];
        }
        free(reply);
        return out;
    }
    bool selectionOwned(const char* selection) const
    {
        xcb_get_selection_owner_reply_t* reply =
            xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom(selection)), nullptr);
        const bool owned = reply && reply->owner != XCB_NONE;
        free(reply);
        return owned;
    }
};

bool near(const QColor& a, const QColor& b, int tolerance = 8)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
           && std::abs(a.blue() - b.blue()) <= tolerance;
}

// The island shown over an ordinary window, as a user on a desktop without a compositor sees it.
class NotchOverAWindow : public ::testing::Test
{
protected:
    static inline const QColor kBackdrop{200, 40, 160};

    void SetUp() override
    {
        backdrop.setWindowFlags(Qt::FramelessWindowHint);
        backdrop.setAutoFillBackground(true);
        QPalette pal = backdrop.palette();
        pal.setColor(QPalette::Window, kBackdrop);
        backdrop.setPalette(pal);
        backdrop.setGeometry(QGuiApplication::primaryScreen()->geometry());
        backdrop.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&backdrop));
        notch =
            std::make_unique<NotchDrawer>(NotchDrawerHoverBehavior::hapticOnHover, NotchDrawerStyle::automatic(), [] {
                auto* l = new QLabel(QStringLiteral("Pushed #42"));
                l->setFixedSize(200, 60);
                return l;
            });
        QCoro::waitFor(notch->expand(QGuiApplication::primaryScreen()));
        ASSERT_NE(notch->panel(), nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(notch->panel()));
        auto* root = qobject_cast<NotchContentView*>(notch->panel()->contentView());
        ASSERT_TRUE(QTest::qWaitFor([&] { return !root->animator()->isRunning(); }, 5000));
    }
    void TearDown() override
    {
        if (notch)
            QCoro::waitFor(notch->hide());
    }

    // What the X server shows now, in screen coordinates.
    QImage screenshot() const { return QGuiApplication::primaryScreen()->grabWindow(0).toImage(); }

    QWidget backdrop;
    std::unique_ptr<NotchDrawer> notch;
    X11 x;
};

TEST_F(NotchOverAWindow, IsAnUnmanagedNotificationWindowSoEveryWorkspaceShowsItAboveAll)
{
    ASSERT_NE(x.connection, nullptr);
    const auto window = xcb_window_t(notch->panel()->winId());
    // Left to no window manager: not tied to one workspace, not put under docks or full-screen windows.
    EXPECT_TRUE(x.overrideRedirect(window));
    EXPECT_EQ(x.atoms(window, "_NET_WM_WINDOW_TYPE").value(0), x.atom("_NET_WM_WINDOW_TYPE_NOTIFICATION"));
}

TEST_F(NotchOverAWindow, WithoutACompositorOnlyTheNotchCoversTheWindowBeneath)
{
    ASSERT_FALSE(x.selectionOwned("_NET_WM_CM_S0")) << "the headless X server runs no compositor";
    const QRect panel = notch->panel()->geometry();
    auto* root = qobject_cast<NotchContentView*>(notch->panel()->contentView());
    const QRect card = root->surface()->paintedShape().boundingRect().toAlignedRect().translated(panel.topLeft());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const QImage shot = screenshot();
            return near(shot.pixelColor(panel.left() + 20, panel.bottom() - 20), kBackdrop);
        },
        5000))
        << "the panel's empty corner hides the window beneath";
    const QImage shot = screenshot();
    shot.save(QStringLiteral(JW_BINARY_DIR) + QStringLiteral("/notch-over-a-window.png"));
    EXPECT_FALSE(near(shot.pixelColor(card.center()), kBackdrop)) << "the card itself is drawn";
    // Just outside the card, where a compositor would blend the soft shadow, the window beneath shows.
    for (const QPoint at : {QPoint(card.left() - 6, card.center().y()),
                            QPoint(card.right() + 6, card.center().y()),
                            QPoint(card.center().x(), card.bottom() + 6),
                            QPoint(panel.right() - 20, panel.bottom() - 20)})
        EXPECT_TRUE(near(shot.pixelColor(at), kBackdrop)) << at.x() << "," << at.y();
}

} // namespace
} // namespace jw
