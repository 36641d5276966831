#include "NotchDrawerKit/NotchShape.h"

namespace jw {

QPainterPath NotchShape::path(const QRectF& r) const
{
    const double t = topCornerRadius;
    const double b = bottomCornerRadius;
    QPainterPath p;
    p.moveTo(r.left(), r.top());
    p.quadTo(r.left() + t, r.top(), r.left() + t, r.top() + t);
    p.lineTo(r.left() + t, r.bottom() - b);
    p.quadTo(r.left() + t, r.bottom(), r.left() + t + b, r.bottom());
    p.lineTo(r.right() - t - b, r.bottom());
    p.quadTo(r.right() - t, r.bottom(), r.right() - t, r.bottom() - b);
    p.lineTo(r.right() - t, r.top() + t);
    p.quadTo(r.right() - t, r.top(), r.right(), r.top());
    p.lineTo(r.left(), r.top());
    return p;
}

} // namespace jw
