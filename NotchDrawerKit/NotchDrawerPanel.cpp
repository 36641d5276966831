#include "NotchDrawerKit/NotchDrawerPanel.h"

#include "NotchDrawerKit/NotchContentView.h"
#include "NotchDrawerKit/NotchSurface.h"
#include "platform/screen/ScreenGeometry.h"
#include "platform/window/WindowSystem.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QShowEvent>
#include <QWindow>

namespace jw {
namespace {
bool supportsShapedWindows()
{
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

// What the window shows and takes input on: with a compositor the shape and its shadow, without
// one the shape alone.
QRegion shownRegion(const NotchContentView* root, bool composited)
{
    if (composited)
        return root->paintedRegion();
    const QPainterPath shape = root->surface()->paintedShape();
    if (shape.isEmpty())
        return {};
    return QRegion(shape.toFillPolygon().toPolygon()).translated(root->surface()->pos());
}

// Whether a click on `widget` gives it (or a parent up to `window`) the keyboard focus, as Qt
// decides it for the click itself.
bool takesClickFocus(QWidget* widget, const QWidget* window)
{
    const auto accepts = [](const QWidget* w) {
        return (w->focusPolicy() & Qt::ClickFocus) == Qt::ClickFocus;
    };
    for (QWidget* w = widget; w && w != window; w = w->parentWidget()) {
        QWidget* proxy = w;
        while (proxy->focusProxy())
            proxy = proxy->focusProxy();
        if (w->isEnabled() && accepts(w) && accepts(proxy))
            return true;
    }
    return false;
}
} // namespace

NotchDrawerPanel::NotchDrawerPanel(QScreen* screen)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::BypassWindowManagerHint)
    , m_screen(screen)
    , m_composited(WindowSystem::hasCompositor())
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    if (screen)
        setScreen(screen);
    // Nothing is painted yet, so nothing may catch the pointer.
    setInputRegion(QRegion());
}

void NotchDrawerPanel::setFrame(const ScreenGeometry& screen, const QRectF& frame)
{
    // A screen's centre lies on a whole or half pixel, and growing both edges outward keeps it
    // the window's centre, where rounding each edge to the nearest would move it half a pixel.
    setGeometry(screen.toQt(frame).toAlignedRect());
}

void NotchDrawerPanel::setContentView(QWidget* view)
{
    m_content = view;
    view->setParent(this);
    view->setGeometry(rect());
    view->show();
    if (auto* root = qobject_cast<NotchContentView*>(view)) {
        connect(root, &NotchContentView::paintedRegionChanged, this, [this, root] {
            setInputRegion(shownRegion(root, m_composited));
        });
        setInputRegion(shownRegion(root, m_composited));
    }
}

void NotchDrawerPanel::setInputRegion(const QRegion& region)
{
    if (m_maskSet && region == m_inputRegion)
        return;
    m_inputRegion = region;
    m_maskSet = true;
    // An empty mask would mean "no mask" (the whole window); a pixel outside the window
    // keeps the shape empty instead.
    // Window systems without shaped windows (the offscreen ones) would complain on every frame.
    if (!supportsShapedWindows())
        return;
    setMask(region.isEmpty() ? QRegion(-1, -1, 1, 1) : region);
}

void NotchDrawerPanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Before the window is mapped: compositors read the type when it appears. The window
    // system's own show event after mapping has nothing to add.
    if (!event->spontaneous()) {
        WindowSystem::setNotificationType(this);
        // Every press reaches the window before the widget under it.
        windowHandle()->installEventFilter(this);
    }
}

bool NotchDrawerPanel::eventFilter(QObject* watched, QEvent* event)
{
    // No window manager gives an unmanaged window the keyboard, and appearing must not take it.
    // A click into a caller's field takes it, so that what is typed next goes there.
    if (event->type() == QEvent::MouseButtonPress && watched == windowHandle() && !isActiveWindow()
        && takesClickFocus(childAt(static_cast<QMouseEvent*>(event)->position().toPoint()), this))
        activateWindow();
    return QWidget::eventFilter(watched, event);
}

void NotchDrawerPanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_content)
        m_content->setGeometry(rect());
}

} // namespace jw
