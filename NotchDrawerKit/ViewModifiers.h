#pragma once

#include <QColor>
#include <QGraphicsEffect>
#include <QImage>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>
#include <QTransform>

class QPainter;
class QPixmap;

class QWidget;

namespace jw {

// A point in a rectangle's own unit square: (0, 0) top left, (1, 1) bottom right.
struct UnitPoint
{
    double x = 0.5;
    double y = 0.5;

    static constexpr UnitPoint center() { return {0.5, 0.5}; }
    static constexpr UnitPoint top() { return {0.5, 0}; }
    static constexpr UnitPoint leading() { return {0, 0.5}; }
    static constexpr UnitPoint trailing() { return {1, 0.5}; }

    QPointF in(const QRectF& rect) const { return {rect.left() + x * rect.width(), rect.top() + y * rect.height()}; }
    friend bool operator==(const UnitPoint&, const UnitPoint&) = default;
};

// Gaussian-like blur of radius `intensity` points, not opaque: edges fade into transparency.
struct BlurModifier
{
    double intensity = 0;

    bool isNeutral() const { return intensity <= 0; }
    // How far the blur reaches beyond its source on each side, in points.
    double spread() const { return isNeutral() ? 0 : 1.5 * intensity; }
    // That reach in whole device pixels at `dpr`, and the points those pixels cover.
    int spreadPixels(qreal dpr) const;
    double margin(qreal dpr) const { return spreadPixels(dpr) / dpr; }
    // The blurred image at the source's pixel ratio, larger by spreadPixels() on every side.
    QImage apply(const QImage& source) const;
};

// Plain multipliers about an anchor: 1 keeps the size, 0 collapses onto the anchor.
struct ScaleModifier
{
    double xScale = 1;
    double yScale = 1;
    UnitPoint anchor = UnitPoint::center();

    bool isNeutral() const { return xScale == 1 && yScale == 1; }
    QTransform transform(const QRectF& bounds) const;
};

// One frame of an insertion or removal: the platform's opacity combined with a scale and a blur.
// The neutral ends (opacity 1, scale 1 by 1, blur 0) draw the snapshot exactly as it is.
struct TransitionPainter
{
    // The widget and its children over transparency, drawn even while it is hidden; grab()
    // would lay the window colour under it.
    static QPixmap snapshot(QWidget* widget);

    static void paint(QPainter& painter,
                      const QPixmap& snapshot,
                      const QRectF& target,
                      double opacity,
                      const ScaleModifier& scale,
                      const BlurModifier& blur);
};

// Interpolates a transition between its active end (progress 0) and its identity (progress 1).
struct TransitionFrame
{
    double opacity = 1;
    ScaleModifier scale;
    BlurModifier blur;

    static TransitionFrame at(double progress, ScaleModifier activeScale, BlurModifier activeBlur);
    bool isIdentity() const { return opacity >= 1 && scale.isNeutral() && blur.isNeutral(); }
};

// Draws a widget and its children through one frame of a transition, clipped to a path. The
// widgets themselves stay on screen while it runs, so they come on screen (and keep animating)
// from its first frame, where a snapshot would show them frozen until it ends.
class TransitionEffect : public QGraphicsEffect
{
    Q_OBJECT
public:
    // `activeBlur` is the strongest blur of the transition: room is kept for its halo throughout.
    explicit TransitionEffect(BlurModifier activeBlur, QObject* parent = nullptr);

    // `clip` in the widget's own coordinates; an empty path clips nothing.
    void setFrame(const TransitionFrame& frame, const QPainterPath& clip = {});
    // Filled inside the clip before the widget is drawn: the surface it sits on. Qt paints no
    // parent beneath a child it takes for opaque, though the transition lets it show through.
    void setBackdrop(const QColor& color) { m_backdrop = color; }

    QRectF boundingRectFor(const QRectF& rect) const override;

protected:
    void draw(QPainter* painter) override;

private:
    const double m_reach;
    TransitionFrame m_frame;
    QPainterPath m_clip;
    QColor m_backdrop = Qt::transparent;
};

} // namespace jw
