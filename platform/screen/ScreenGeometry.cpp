#include "platform/screen/ScreenGeometry.h"

#include <QGuiApplication>
#include <QScreen>

namespace jw {
namespace {
ScreenGeometry::Override& overrideHook()
{
    static ScreenGeometry::Override hook;
    return hook;
}

double flip(const ScreenGeometry& g)
{
    return g.qtOriginY.value_or(ScreenGeometry::topEdge(g.frame));
}
} // namespace

QRectF ScreenGeometry::toQt(const QRectF& rect) const
{
    return QRectF(rect.x(), flip(*this) - topEdge(rect), rect.width(), rect.height());
}

QRectF ScreenGeometry::fromQt(const QRectF& rect) const
{
    return QRectF(rect.x(), flip(*this) - (rect.y() + rect.height()), rect.width(), rect.height());
}

ScreenGeometry ScreenGeometry::of(const QScreen* screen)
{
    if (overrideHook()) {
        if (auto g = overrideHook()(screen))
            return *g;
    }
    ScreenGeometry g;
    if (!screen)
        return g;
    const QScreen* primary = QGuiApplication::primaryScreen();
    const QRect p = primary ? primary->geometry() : screen->geometry();
    g.qtOriginY = double(p.y() + p.height());
    g.frame = g.fromQt(QRectF(screen->geometry()));
    g.visibleFrame = g.fromQt(QRectF(screen->availableGeometry()));
    return g;
}

void ScreenGeometry::setOverride(Override override)
{
    overrideHook() = std::move(override);
}

} // namespace jw
