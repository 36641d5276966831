#include "NotchDrawerKit/NotchDrawerPanel.h"

#include "NotchDrawerKit/NotchContentView.h"

#include <QGuiApplication>
#include <QScreen>

namespace jw {
namespace {
bool supportsShapedWindows()
{
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}
} // namespace

NotchDrawerPanel::NotchDrawerPanel(QScreen* screen)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus)
    , m_screen(screen)
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

void NotchDrawerPanel::setContentView(QWidget* view)
{
    m_content = view;
    view->setParent(this);
    view->setGeometry(rect());
    view->show();
    if (auto* root = qobject_cast<NotchContentView*>(view)) {
        connect(root, &NotchContentView::paintedRegionChanged, this, &NotchDrawerPanel::setInputRegion);
        setInputRegion(root->paintedRegion());
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

void NotchDrawerPanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_content)
        m_content->setGeometry(rect());
}

} // namespace jw
