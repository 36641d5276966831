#pragma once

#include <QPainterPath>
#include <QRectF>

#include <utility>

namespace jw {

// A rectangle whose top edge runs the full width and flares out in two concave curves of
// radius T, while the body is inset by T on each side and its bottom corners round with B.
struct NotchShape
{
    double topCornerRadius = 0;
    double bottomCornerRadius = 0;

    QPainterPath path(const QRectF& rect) const;

    // Both radii interpolate together when the shape animates.
    std::pair<double, double> animatableData() const { return {topCornerRadius, bottomCornerRadius}; }
    void setAnimatableData(std::pair<double, double> data)
    {
        topCornerRadius = data.first;
        bottomCornerRadius = data.second;
    }
};

} // namespace jw
