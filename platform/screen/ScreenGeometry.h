#pragma once

#include <QRectF>

#include <functional>
#include <optional>

class QScreen;

namespace jw {

struct EdgeInsets
{
    double top = 0;
    double left = 0;
    double bottom = 0;
    double right = 0;
    friend bool operator==(const EdgeInsets&, const EdgeInsets&) = default;
};

// One screen's geometry in global points with the origin at the bottom left of the primary
// screen and y growing upwards. Qt's top-left coordinates are reached only through toQt/fromQt.
struct ScreenGeometry
{
    QRectF frame;
    QRectF visibleFrame;
    EdgeInsets safeAreaInsets;
    // The unobscured strips left and right of a camera housing; Linux screens have none.
    std::optional<QRectF> auxiliaryTopLeftArea;
    std::optional<QRectF> auxiliaryTopRightArea;
    // Qt's y = 0 expressed in this convention: the bottom edge of the primary screen in Qt
    // coordinates. Defaults to the top of `frame`, right for a primary screen at the origin.
    std::optional<double> qtOriginY;

    // Top edge in y-up coordinates (QRectF's "bottom" is the larger y).
    static double topEdge(const QRectF& r) { return r.y() + r.height(); }

    QRectF toQt(const QRectF& rect) const;
    QRectF fromQt(const QRectF& rect) const;

    // The geometry of a Qt screen (through the override, when one is installed).
    static ScreenGeometry of(const QScreen* screen);

    // Test seam: lets a test give a real QScreen the geometry of another machine's screen.
    using Override = std::function<std::optional<ScreenGeometry>(const QScreen*)>;
    static void setOverride(Override override);

    friend bool operator==(const ScreenGeometry&, const ScreenGeometry&) = default;
};

} // namespace jw
