#include "NotchDrawerKit/ViewModifiers.h"

#include <QPainter>
#include <QPixmap>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <vector>

namespace jw {
namespace {

// One box pass over premultiplied ARGB along rows (horizontal) or columns.
void boxPass(QImage& image, int radius, bool horizontal)
{
    const int w = image.width();
    const int h = image.height();
    const int lines = horizontal ? h : w;
    const int length = horizontal ? w : h;
    const int window = 2 * radius + 1;
    std::vector<QRgb> line(length);
    for (int l = 0; l < lines; ++l) {
        auto at = [&](int i) -> QRgb& {
            return horizontal ? reinterpret_cast<QRgb*>(image.scanLine(l))[i]
                              : reinterpret_cast<QRgb*>(image.scanLine(i))[l];
        };
        for (int i = 0; i < length; ++i)
            line[i] = at(i);
        int sum[4] = {0, 0, 0, 0};
        auto add = [&](int i, int sign) {
            if (i < 0 || i >= length)
                return;
            const QRgb p = line[i];
            sum[0] += sign * qAlpha(p);
            sum[1] += sign * qRed(p);
            sum[2] += sign * qGreen(p);
            sum[3] += sign * qBlue(p);
        };
        for (int i = -radius; i <= radius; ++i)
            add(i, 1);
        for (int i = 0; i < length; ++i) {
            at(i) = qRgba(sum[1] / window, sum[2] / window, sum[3] / window, sum[0] / window);
            add(i - radius, -1);
            add(i + radius + 1, 1);
        }
    }
}

} // namespace

int BlurModifier::spreadPixels(qreal dpr) const
{
    return isNeutral() ? 0 : int(std::ceil(spread() * dpr));
}

QImage BlurModifier::apply(const QImage& source) const
{
    if (isNeutral())
        return source;
    // The kernel below is sized in device pixels, so the room for its halo must be too.
    const qreal dpr = source.devicePixelRatio();
    const int pad = spreadPixels(dpr);
    QImage out(source.width() + 2 * pad, source.height() + 2 * pad, QImage::Format_ARGB32_Premultiplied);
    out.setDevicePixelRatio(dpr);
    out.fill(Qt::transparent);
    {
        QPainter p(&out);
        p.drawImage(QPointF(pad / dpr, pad / dpr), source);
    }
    // Three box passes approximate a gaussian whose spread matches the radius.
    const int box = std::max(1, int(std::lround(intensity * dpr / 2)));
    for (int pass = 0; pass < 3; ++pass) {
        boxPass(out, box, true);
        boxPass(out, box, false);
    }
    return out;
}

QTransform ScaleModifier::transform(const QRectF& bounds) const
{
    const QPointF a = anchor.in(bounds);
    QTransform t;
    t.translate(a.x(), a.y());
    t.scale(xScale, yScale);
    t.translate(-a.x(), -a.y());
    return t;
}

QPixmap TransitionPainter::snapshot(QWidget* widget)
{
    const qreal dpr = widget->devicePixelRatioF();
    QPixmap pixmap(widget->size() * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    widget->render(&pixmap, QPoint(), QRegion(), QWidget::DrawChildren);
    return pixmap;
}

void TransitionPainter::paint(QPainter& painter,
                              const QPixmap& snapshot,
                              const QRectF& target,
                              double opacity,
                              const ScaleModifier& scale,
                              const BlurModifier& blur)
{
    if (opacity <= 0 || snapshot.isNull())
        return;
    painter.save();
    painter.setOpacity(painter.opacity() * std::min(opacity, 1.0));
    if (!scale.isNeutral())
        painter.setTransform(scale.transform(target), true);
    if (blur.isNeutral()) {
        painter.drawPixmap(target.topLeft(), snapshot);
    } else {
        const QImage blurred = blur.apply(snapshot.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied));
        const double pad = blur.margin(snapshot.devicePixelRatio());
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target.topLeft() - QPointF(pad, pad), blurred);
    }
    painter.restore();
}

TransitionFrame TransitionFrame::at(double progress, ScaleModifier activeScale, BlurModifier activeBlur)
{
    TransitionFrame f;
    if (progress == 1.0) {
        f.scale.anchor = activeScale.anchor;
        return f;
    }
    f.opacity = std::clamp(progress, 0.0, 1.0);
    f.scale = ScaleModifier{activeScale.xScale + (1 - activeScale.xScale) * progress,
                            activeScale.yScale + (1 - activeScale.yScale) * progress,
                            activeScale.anchor};
    f.blur = BlurModifier{std::max(0.0, activeBlur.intensity * (1 - progress))};
    return f;
}

TransitionEffect::TransitionEffect(BlurModifier activeBlur, QObject* parent)
    : QGraphicsEffect(parent)
    , m_reach(activeBlur.spread() + 1)
{
}

void TransitionEffect::setFrame(const TransitionFrame& frame, const QPainterPath& clip)
{
    m_frame = frame;
    m_clip = clip;
    update();
}

QRectF TransitionEffect::boundingRectFor(const QRectF& rect) const
{
    return rect.adjusted(-m_reach, -m_reach, m_reach, m_reach);
}

void TransitionEffect::draw(QPainter* painter)
{
    QPoint offset;
    const QPixmap source = sourcePixmap(Qt::LogicalCoordinates, &offset, QGraphicsEffect::NoPad);
    if (source.isNull())
        return;
    painter->save();
    if (!m_clip.isEmpty()) {
        painter->setClipPath(m_clip, Qt::IntersectClip);
        if (m_backdrop.alpha() > 0) {
            // Only under the widget itself: that is where Qt may have left a hole.
            painter->setRenderHint(QPainter::Antialiasing);
            QPainterPath under;
            under.addRect(QRectF(offset, source.deviceIndependentSize()));
            painter->fillPath(m_clip.intersected(under), m_backdrop);
        }
    }
    TransitionPainter::paint(*painter,
                             source,
                             QRectF(offset, source.deviceIndependentSize()),
                             m_frame.opacity,
                             m_frame.scale,
                             m_frame.blur);
    painter->restore();
}

} // namespace jw
