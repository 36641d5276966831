#include "NotchDrawerKit/NotchGeometry.h"

namespace jw {
namespace {
constexpr double kFallbackNotchWidth = 300;
}

bool NotchGeometry::hasCameraHousing(const ScreenGeometry& screen)
{
    return screen.auxiliaryTopLeftArea.has_value() && screen.auxiliaryTopRightArea.has_value();
}

double NotchGeometry::menubarHeight(const ScreenGeometry& screen)
{
    return ScreenGeometry::topEdge(screen.frame) - ScreenGeometry::topEdge(screen.visibleFrame);
}

QRectF NotchGeometry::notchFrame(const ScreenGeometry& screen)
{
    const QRectF& f = screen.frame;
    const double top = ScreenGeometry::topEdge(f);
    if (hasCameraHousing(screen)) {
        const double width = f.width() - screen.auxiliaryTopLeftArea->width() - screen.auxiliaryTopRightArea->width();
        const double height = screen.safeAreaInsets.top;
        return QRectF(f.center().x() - width / 2, top - height, width, height);
    }
    const double height = menubarHeight(screen);
    return QRectF(f.center().x() - kFallbackNotchWidth / 2, top - height, kFallbackNotchWidth, height);
}

QRectF NotchGeometry::panelFrame(const ScreenGeometry& screen)
{
    const QRectF& f = screen.frame;
    const double width = f.width() * 0.5;
    const double height = f.height() * 0.5;
    return QRectF(f.center().x() - width * 0.5, ScreenGeometry::topEdge(f) - height, width, height);
}

NotchDrawerStyle NotchGeometry::resolvedStyle(NotchDrawerStyle style, const ScreenGeometry& screen)
{
    if (!style.isAutomatic())
        return style;
    return hasCameraHousing(screen) ? NotchDrawerStyle::standardNotch() : NotchDrawerStyle::standardFloating();
}

} // namespace jw
