#include "NotchDrawerKit/FrameAnimator.h"
#include "NotchDrawerKit/NotchContentView.h"
#include "NotchDrawerKit/NotchDrawer.h"
#include "NotchDrawerKit/NotchDrawerPanel.h"
#include "NotchDrawerKit/NotchGeometry.h"
#include "NotchDrawerKit/NotchSurface.h"
#include "platform/screen/ScreenGeometry.h"

#include <QApplication>
#include <QCoroTask>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QTest>
#include <QVBoxLayout>
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
    xcb_window_t inputFocus() const
    {
        xcb_get_input_focus_reply_t* reply =
            xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr);
        const xcb_window_t focus = reply ? reply->focus : xcb_window_t(XCB_NONE);
        free(reply);
        return focus;
    }
    // Presses and releases the keys of `letters` (lower case) in whatever window the server
    // gives the keyboard to, as a keyboard would.
    void type(const char* letters) const
    {
        const xcb_setup_t* setup = xcb_get_setup(connection);
        const xcb_keycode_t first = setup->min_keycode;
        xcb_get_keyboard_mapping_reply_t* mapping = xcb_get_keyboard_mapping_reply(
            connection,
            xcb_get_keyboard_mapping(connection, first, uint8_t(setup->max_keycode - first + 1)),
            nullptr);
        ASSERT_NE(mapping, nullptr);
        const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(mapping);
        const int count = xcb_get_keyboard_mapping_keysyms_length(mapping);
        const xcb_window_t focus = inputFocus();
        for (const char* c = letters; *c; ++c) {
            int index = 0;
            while (index < count && keysyms[index] != xcb_keysym_t(*c))
                ++index;
            ASSERT_LT(index, count) << *c;
            for (const uint8_t type : {uint8_t(XCB_KEY_PRESS), uint8_t(XCB_KEY_RELEASE)}) {
                xcb_key_press_event_t key{};
                key.response_type = type;
                key.detail = xcb_keycode_t(first + index / mapping->keysyms_per_keycode);
                key.root = xcb_setup_roots_iterator(setup).data->root;
                key.event = focus;
                key.same_screen = 1;
                xcb_send_event(connection,
                               0,
                               focus,
                               type == XCB_KEY_PRESS ? XCB_EVENT_MASK_KEY_PRESS : XCB_EVENT_MASK_KEY_RELEASE,
                               reinterpret_cast<const char*>(&key));
            }
        }
        xcb_flush(connection);
        free(mapping);
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

// A caller's text field in the notch can be typed into, yet the notch never takes the keyboard
// from the window the user is typing in merely by appearing.
TEST(NotchPanelOnX11, TakesTheKeyboardOnlyForAClickIntoContentsThatAcceptFocus)
{
    X11 x;
    ASSERT_NE(x.connection, nullptr);
    QLineEdit editor;
    editor.setGeometry(100, 700, 300, 30);
    editor.show();
    editor.activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return x.inputFocus() == editor.winId() && editor.hasFocus(); }, 5000));

    QLabel* caption = nullptr;
    QLineEdit* field = nullptr;
    auto d = std::make_unique<NotchDrawer>(NotchDrawerHoverBehavior::hapticOnHover, NotchDrawerStyle::automatic(), [&] {
        auto* box = new QWidget;
        auto* layout = new QVBoxLayout(box);
        layout->setContentsMargins(0, 0, 0, 0);
        caption = new QLabel(QStringLiteral("Title of the issue"));
        field = new QLineEdit;
        layout->addWidget(caption);
        layout->addWidget(field);
        box->setFixedSize(200, 60);
        return box;
    });
    QCoro::waitFor(d->expand(QGuiApplication::primaryScreen()));
    NotchDrawerPanel* panel = d->panel();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(panel));
    auto* root = qobject_cast<NotchContentView*>(panel->contentView());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !root->animator()->isRunning(); }, 5000));
    EXPECT_EQ(x.inputFocus(), editor.winId()) << "appearing takes no focus";
    EXPECT_EQ(QApplication::activeWindow(), &editor);

    const auto click = [&](QWidget* target) {
        QTest::mouseClick(panel->windowHandle(), Qt::LeftButton, {}, target->mapTo(panel, target->rect().center()));
    };
    click(caption);
    EXPECT_EQ(x.inputFocus(), editor.winId()) << "a label takes no keyboard";

    click(field);
    ASSERT_TRUE(QTest::qWaitFor([&] { return x.inputFocus() == panel->winId() && field->hasFocus(); }, 5000));
    x.type("fixme");
    EXPECT_TRUE(QTest::qWaitFor([&] { return field->text() == QStringLiteral("fixme"); }, 5000))
        << field->text().toStdString();
    EXPECT_TRUE(editor.text().isEmpty());

    QCoro::waitFor(d->hide());
}

} // namespace
} // namespace jw
