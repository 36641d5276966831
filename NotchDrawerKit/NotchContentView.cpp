#include "NotchDrawerKit/NotchContentView.h"

#include "NotchDrawerKit/FrameAnimator.h"
#include "NotchDrawerKit/NotchDrawer.h"
#include "NotchDrawerKit/NotchEnvironment.h"
#include "NotchDrawerKit/NotchView.h"
#include "NotchDrawerKit/NotchlessView.h"
#include "NotchDrawerKit/ViewModifiers.h"

#include <QPaintEngine>
#include <QPainter>
#include <QPainterPathStroker>

#include <atomic>

namespace jw {
namespace {

using Clock = std::chrono::steady_clock;

quint64 nextNamespace()
{
    static std::atomic<quint64> counter{0};
    return ++counter;
}

// Below this the shadow is invisible and takes no input.
constexpr double kVisibleShadow = 0.01;

} // namespace

NotchContentView::NotchContentView(NotchDrawer* drawer, NotchDrawerStyle style, QWidget* parent)
    : QWidget(parent)
    , m_drawer(drawer)
    , m_style(style)
    , m_namespace(nextNamespace())
    , m_animator(new FrameAnimator(this))
{
    setAttribute(Qt::WA_TranslucentBackground);
    EnvironmentValues::setNotchStyle(this, style);
    if (style.isNotch())
        m_surface = new NotchView(drawer, m_animator, this);
    else
        m_surface = new NotchlessView(drawer, m_animator, this);
    m_surface->setGeometry(rect());

    m_animator->addClient(this, [this](Clock::time_point now) { return step(now); });
    connect(drawer, &NotchDrawer::stateChanged, this, [this] { retargetShadow(m_drawer->stateAnimation(), true); });
    connect(drawer, &NotchDrawer::isHoveringChanged, this, [this] { retargetShadow(kHoverSpring, true); });
    retargetShadow({}, false);
}

NotchShadow NotchContentView::shadow() const
{
    if (!m_drawer)
        return {};
    return NotchShadow::of(m_drawer->hoverBehavior(), m_drawer->isHovering(), m_drawer->state());
}

void NotchContentView::retargetShadow(Spring spring, bool animate)
{
    const NotchShadow target = shadow();
    const auto now = Clock::now();
    if (animate) {
        m_shadowOpacity.retarget(target.opacity, spring, now);
        m_shadowRadius.retarget(target.radius, spring, now);
        m_animator->wake();
    } else {
        m_shadowOpacity.setImmediately(target.opacity);
        m_shadowRadius.setImmediately(target.radius);
    }
    step(now);
}

bool NotchContentView::step(Clock::time_point now)
{
    const bool surfaceMoving = m_surface->step(now);
    m_presentedShadow =
        NotchShadow{std::clamp(m_shadowOpacity.value(now), 0.0, 1.0), std::max(0.0, m_shadowRadius.value(now))};
    const QPainterPath shape = m_surface->paintedShape();
    QPainterPath covered = shape;
    if (m_presentedShadow.opacity > kVisibleShadow && m_presentedShadow.radius > 0) {
        QPainterPathStroker stroker;
        stroker.setWidth(2 * BlurModifier{m_presentedShadow.radius}.spread());
        covered = covered.united(stroker.createStroke(shape));
    }
    const QRegion region = covered.isEmpty() ? QRegion() : QRegion(covered.toFillPolygon().toPolygon());
    if (region != m_paintedRegion) {
        m_paintedRegion = region;
        Q_EMIT paintedRegionChanged(region);
    }
    update();
    return surfaceMoving || !m_shadowOpacity.isAtRest(now) || !m_shadowRadius.isAtRest(now);
}

void NotchContentView::paintEvent(QPaintEvent*)
{
    const NotchShadow s = m_presentedShadow;
    if (s.opacity <= kVisibleShadow)
        return;
    const QPainterPath shape = m_surface->paintedShape();
    if (shape.isEmpty())
        return;
    QPainter painter(this);
    // The resolution of what is painted into (a window, or an image a caller renders into),
    // which may differ from the widget's screen.
    const qreal dpr = painter.paintEngine()->paintDevice()->devicePixelRatioF();
    // Repaints at rest (a content redrawing itself) reuse the blurred image.
    if (m_shadow.image.isNull() || m_shadow.shape != shape || m_shadow.radius != s.radius || m_shadow.dpr != dpr) {
        const BlurModifier blur{s.radius};
        const QRectF bounds = shape.boundingRect();
        QImage image((bounds.size() * dpr).toSize() + QSize(1, 1), QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(dpr);
        image.fill(Qt::transparent);
        {
            QPainter p(&image);
            p.setRenderHint(QPainter::Antialiasing);
            p.translate(-bounds.topLeft());
            p.fillPath(shape, Qt::black);
        }
        const double pad = blur.margin(dpr);
        m_shadow = ShadowCache{shape, s.radius, dpr, blur.apply(image), bounds.topLeft() - QPointF(pad, pad)};
    }
    painter.setOpacity(s.opacity);
    painter.drawImage(m_shadow.origin, m_shadow.image);
}

void NotchContentView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_surface->setGeometry(rect());
    step(Clock::now());
}

void NotchContentView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_appeared)
        return;
    m_appeared = true;
    // The first panel's namespace stays for the notch object's life.
    if (m_drawer && m_drawer->namespaceId() == 0)
        m_drawer->setNamespaceId(m_namespace);
}

} // namespace jw
