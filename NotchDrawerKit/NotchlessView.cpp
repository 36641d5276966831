#include "NotchDrawerKit/NotchlessView.h"

#include "NotchDrawerKit/FrameAnimator.h"
#include "NotchDrawerKit/NotchDrawer.h"
#include "NotchDrawerKit/VisualEffectView.h"

#include <QPainter>
#include <QTimer>

#include <algorithm>

namespace jw {
namespace {

using Clock = std::chrono::steady_clock;

QColor quaternary(const QPalette& palette)
{
    const bool dark = palette.color(QPalette::Window).lightnessF() < 0.5;
    return dark ? QColor(255, 255, 255, 26) : QColor(0, 0, 0, 26);
}

} // namespace

NotchlessView::NotchlessView(NotchDrawer* drawer, FrameAnimator* animator, QWidget* parent)
    : NotchSurface(parent)
    , m_drawer(drawer)
    , m_animator(animator)
    , m_box(new QWidget(this))
    , m_content(drawer->expandedContent())
{
    setAttribute(Qt::WA_TranslucentBackground);
    m_box->installEventFilter(this);
    if (m_content) {
        m_content->setParent(m_box);
        m_content->show();
    }
    m_box->show();
    connect(drawer, &NotchDrawer::stateChanged, this, [this] { relayout(m_drawer->stateAnimation(), true); });
    connect(drawer, &NotchDrawer::notchSizeChanged, this, [this] { relayout({}, false); });
    relayout({}, false);
}

NotchlessView::~NotchlessView()
{
    if (m_content && m_content->parentWidget() == m_box) {
        m_content->hide();
        m_content->setParent(nullptr);
    }
}

NotchlessLayout NotchlessView::targetLayout() const
{
    if (!m_drawer)
        return {};
    return NotchlessLayout::compute(NotchSurface::idealSize(m_content, NotchlessLayout::contentRoom(width())),
                                    m_drawer->style(),
                                    m_drawer->state(),
                                    m_drawer->notchSize().height());
}

void NotchlessView::relayout(Spring spring, bool animate)
{
    const NotchlessLayout layout = targetLayout();
    m_windowHeight = layout.windowHeight;
    if (animate)
        m_yOffset.retarget(layout.yOffset, spring, Clock::now());
    else
        m_yOffset.setImmediately(layout.yOffset);
    step(Clock::now());
    if (m_animator)
        m_animator->wake();
}

bool NotchlessView::step(Clock::time_point now)
{
    NotchlessLayout layout = targetLayout();
    layout.yOffset = m_yOffset.value(now);
    m_cardRect = layout.cardRect(width());
    m_card = QPainterPath();
    m_card.addRoundedRect(m_cardRect, layout.cornerRadius, layout.cornerRadius);
    const QRectF inner = m_cardRect.adjusted(NotchlessLayout::kSafeAreaInset,
                                             NotchlessLayout::kSafeAreaInset,
                                             -NotchlessLayout::kSafeAreaInset,
                                             -NotchlessLayout::kSafeAreaInset);
    m_box->setGeometry(inner.toAlignedRect());
    if (m_content && m_content->parentWidget() == m_box)
        m_content->setGeometry(QRect(QPoint(0, 0), inner.size().toSize()));
    clipContent();
    update();
    return !m_yOffset.isAtRest(now);
}

void NotchlessView::clipContent()
{
    // A corner radius above about 51 cuts into the inset around the content; below it the card
    // covers the content and nothing is masked.
    const QPainterPath clip = m_card.translated(-QPointF(m_box->pos()));
    if (clip.contains(QRectF(m_box->rect()))) {
        m_box->clearMask();
        return;
    }
    QRegion region(clip.toFillPolygon().toPolygon());
    // An empty mask would mean none at all; a pixel outside the box hides everything instead.
    if (region.isEmpty())
        region = QRegion(-1, -1, 1, 1);
    if (m_box->mask() != region)
        m_box->setMask(region);
}

void NotchlessView::paintEvent(QPaintEvent*)
{
    if (!m_drawer)
        return;
    const double radius = NotchlessLayout::cornerRadiusFor(m_drawer->style());
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setClipPath(m_card);
    VisualEffectView::paintMaterial(painter, m_card, VisualEffectView::Material::popover, palette());
    // Inset by half the line so the whole 1-point border lies inside the clip.
    QPen pen(quaternary(palette()), 1, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    pen.setMiterLimit(10);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(m_cardRect.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
}

void NotchlessView::resizeEvent(QResizeEvent* event)
{
    NotchSurface::resizeEvent(event);
    relayout({}, false);
}

bool NotchlessView::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::LayoutRequest && !m_relayoutPending) {
        m_relayoutPending = true;
        QTimer::singleShot(0, this, [this] {
            m_relayoutPending = false;
            relayout(m_drawer ? m_drawer->stateAnimation() : Spring{}, true);
        });
    }
    return NotchSurface::eventFilter(watched, event);
}

} // namespace jw
