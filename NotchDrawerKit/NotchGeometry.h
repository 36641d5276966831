#pragma once

#include "NotchDrawerKit/NotchDrawerTypes.h"
#include "platform/screen/ScreenGeometry.h"

namespace jw {

// What the kit measures on a screen, in the screen layer's y-up global points.
struct NotchGeometry
{
    // Both auxiliary top areas reported: the screen has a camera housing.
    static bool hasCameraHousing(const ScreenGeometry& screen);
    // Top of the frame minus top of the visible frame; 0 with a hidden menu bar.
    static double menubarHeight(const ScreenGeometry& screen);
    // The camera housing, or a 300-point strip the height of the menu bar, centred at the top.
    static QRectF notchFrame(const ScreenGeometry& screen);
    // The top-centre quarter of the screen, touching its top edge.
    static QRectF panelFrame(const ScreenGeometry& screen);
    // `automatic` becomes the standard notch on a screen with a housing, the standard card
    // otherwise; the other styles are returned unchanged.
    static NotchDrawerStyle resolvedStyle(NotchDrawerStyle style, const ScreenGeometry& screen);
};

} // namespace jw
