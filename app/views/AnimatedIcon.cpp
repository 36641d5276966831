#include "app/views/AnimatedIcon.h"

#include "platform/symbols/Symbols.h"

#include <QEasingCurve>
#include <QPainter>

#include <cmath>

namespace jw {

namespace {

// The platform's ease-in-out timing curve.
const QEasingCurve& easeInOut()
{
    static const QEasingCurve curve = [] {
        QEasingCurve c(QEasingCurve::BezierSpline);
        c.addCubicBezierSegment(QPointF(0.42, 0), QPointF(0.58, 1), QPointF(1, 1));
        return c;
    }();
    return curve;
}

int pulseRoom(int symbolSide)
{
    return int(std::ceil(symbolSide * (AnimatedIconInner::kPulseScale - 1) / 2));
}

} // namespace

int AnimatedIcon::sideFor(int symbolSide)
{
    return symbolSide + 2 * pulseRoom(symbolSide);
}

QRect AnimatedIcon::symbolFrameIn(const QRect& widget)
{
    const int available = std::min(widget.width(), widget.height());
    int side = std::max(0, available);
    while (side > 0 && sideFor(side) > available)
        --side;
    return QRect(widget.left() + (widget.width() - side) / 2, widget.top() + (widget.height() - side) / 2, side, side);
}

AnimatedIcon::AnimatedIcon(const QString& systemName, const QColor& color, IconAnimation animation, QWidget* parent)
    : QWidget(parent)
    , m_systemName(systemName)
    , m_color(color)
    , m_animation(animation)
{
    setAttribute(Qt::WA_TranslucentBackground);
    m_inner = new AnimatedIconInner(m_systemName, m_color, m_animation, this);
    m_inner->setGeometry(rect());
}

void AnimatedIcon::setSystemName(const QString& systemName)
{
    m_systemName = systemName;
    m_inner->setSystemName(systemName);
}

void AnimatedIcon::setColor(const QColor& color)
{
    m_color = color;
    m_inner->setColor(color);
}

void AnimatedIcon::setAnimation(IconAnimation animation)
{
    if (animation == m_animation)
        return;
    m_animation = animation;
    // A new identity: the old inner view goes, with its timer, and a fresh one starts over.
    AnimatedIconInner* old = m_inner;
    old->hide();
    old->deleteLater();
    m_inner = new AnimatedIconInner(m_systemName, m_color, m_animation, this);
    m_inner->setGeometry(rect());
    m_inner->show();
    Q_EMIT innerReplaced(m_inner);
}

void AnimatedIcon::resizeEvent(QResizeEvent*)
{
    m_inner->setGeometry(rect());
}

AnimatedIconInner::AnimatedIconInner(const QString& systemName,
                                     const QColor& color,
                                     IconAnimation animation,
                                     QWidget* parent)
    : QWidget(parent)
    , m_systemName(systemName)
    , m_color(color)
    , m_animation(animation)
{
    setAttribute(Qt::WA_TranslucentBackground);
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(kFrameIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { update(); });
}

void AnimatedIconInner::setSystemName(const QString& systemName)
{
    if (systemName == m_systemName)
        return;
    m_systemName = systemName;
    update();
}

void AnimatedIconInner::setColor(const QColor& color)
{
    if (color == m_color)
        return;
    m_color = color;
    update();
}

double AnimatedIconInner::elapsed() const
{
    return m_elapsedBefore + (m_clock.isValid() ? m_clock.nsecsElapsed() / 1e9 : 0.0);
}

double AnimatedIconInner::presentedRotation() const
{
    if (m_animation != IconAnimation::rotating || !m_appeared)
        return m_rotation;
    // Linear, repeating without reversing: one full turn per period.
    const double phase = std::fmod(elapsed(), kTurnDuration) / kTurnDuration;
    return m_rotation * phase;
}

double AnimatedIconInner::presentedScale() const
{
    if (m_animation != IconAnimation::pulsing || !m_appeared)
        return m_scale;
    // Eased, repeating with reversing: up in one period, back down in the next.
    const double cycle = std::fmod(elapsed(), 2 * kPulseDuration) / kPulseDuration;
    const double progress = cycle <= 1 ? cycle : 2 - cycle;
    return 1.0 + (m_scale - 1.0) * easeInOut().valueForProgress(progress);
}

void AnimatedIconInner::showEvent(QShowEvent*)
{
    if (!m_appeared) {
        m_appeared = true;
        if (m_animation == IconAnimation::rotating)
            m_rotation = 360;
        else if (m_animation == IconAnimation::pulsing)
            m_scale = kPulseScale;
    }
    if (m_animation != IconAnimation::none) {
        m_clock.start();
        m_timer.start();
    }
}

void AnimatedIconInner::hideEvent(QHideEvent*)
{
    // Nothing moves while nobody sees it; the motion resumes where it was.
    if (m_clock.isValid()) {
        m_elapsedBefore += m_clock.nsecsElapsed() / 1e9;
        m_clock.invalidate();
    }
    m_timer.stop();
}

void AnimatedIconInner::paintEvent(QPaintEvent*)
{
    const QRect frame = AnimatedIcon::symbolFrameIn(rect());
    const double side = frame.width();
    if (side <= 0)
        return;
    const double s = presentedScale();
    // Drawn at its scaled size so the grown symbol stays sharp.
    const int px = int(std::ceil(side * std::max(1.0, s)));
    const QPixmap symbol = Symbols::pixmap(m_systemName, QSize(px, px), m_color, devicePixelRatioF());
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(QRectF(frame).center());
    p.rotate(presentedRotation());
    p.scale(s, s);
    const double drawn = side;
    p.drawPixmap(QRectF(-drawn / 2, -drawn / 2, drawn, drawn), symbol, QRectF(QPointF(0, 0), symbol.size()));
}

} // namespace jw
