#pragma once

#include "NotchDrawerKit/NotchDrawerTypes.h"

#include <QRectF>
#include <QSizeF>

#include <algorithm>

namespace jw {

// Sizes of the notch-shaped view, from the notch object's published state and the measured
// sizes of the three contents. Plain arithmetic: no widgets, no event loop.
struct NotchLayout
{
    static constexpr double kSafeAreaInset = 15;
    // Insets around each compact side: toward the screen edge, above, below.
    static constexpr double kSideOuterInset = 8;
    static constexpr double kSideTopInset = 4;
    static constexpr double kSideBottomInset = 8;

    struct Input
    {
        NotchDrawerState state = NotchDrawerState::hidden;
        QSizeF notchSize;
        double menubarHeight = 0;
        NotchDrawerStyle storedStyle;
        bool isHovering = false;
        bool disableCompactLeading = false;
        bool disableCompactTrailing = false;
        // Last measured widths of the sides, insets included.
        double compactLeadingWidth = 0;
        double compactTrailingWidth = 0;
        // Ideal sizes of the caller's contents.
        QSizeF compactLeadingContent;
        QSizeF compactTrailingContent;
        QSizeF expandedContent;
        // The panel the view sits in; it never grows past it. Empty: no bound.
        QSizeF panelSize;
    };

    double sidePadding = 0;
    double maskTopRadius = 0;
    double maskBottomRadius = 0;
    double extraWidth = 0;
    double minimumWidth = 0;
    double compactOffsetDelta = 0;
    double compactXOffset = 0;

    bool showsLeading = false;
    bool showsTrailing = false;
    bool showsExpanded = false;

    // Each side with its insets; the expanded content with its insets (H above, 15 elsewhere).
    QSizeF leadingBox;
    QSizeF trailingBox;
    QSizeF expandedBox;
    // The expanded content as placed: its ideal size, no wider than the panel has room for.
    QSizeF expandedContentSize;
    double rowHeight = 0;
    QSizeF rowSize;
    QSizeF blockSize;
    // The view (stack after padding and minimum frame); the black shape fills it, 0.5 narrower
    // on each side.
    QSizeF size;

    static NotchLayout compute(const Input& in);
    static QSizeF sideBox(QSizeF content);
    static QSizeF expandedBoxFor(QSizeF content, QSizeF notchSize);
    // The widest the expanded content can be for the view to fit a panel of that width.
    static double expandedContentRoom(NotchDrawerStyle storedStyle, double panelWidth);

    // Where things sit in a panel of the given width, the notch centred on its top edge.
    QRectF viewRect(double panelWidth) const;
    QRectF shapeRect(double panelWidth) const { return viewRect(panelWidth).adjusted(0.5, 0, -0.5, 0); }
    QRectF leadingRect(double panelWidth, double notchWidth) const;
    QRectF trailingRect(double panelWidth, double notchWidth) const;
    QRectF expandedRect(double panelWidth) const;
};

// The floating card: content inset by 15 on every side, a 20-point margin outside it.
struct NotchlessLayout
{
    static constexpr double kSafeAreaInset = 15;
    static constexpr double kMargin = 20;

    QSizeF cardSize;
    QSizeF viewSize;
    double cornerRadius = 20;
    // Measured height including the margins.
    double windowHeight = 0;
    double yOffset = 0;

    static double cornerRadiusFor(NotchDrawerStyle storedStyle);
    // The widest content whose card, with its margins, still fits the panel.
    static double contentRoom(double panelWidth) { return std::max(0.0, panelWidth - 2 * (kMargin + kSafeAreaInset)); }
    static NotchlessLayout
    compute(QSizeF expandedContent, NotchDrawerStyle storedStyle, NotchDrawerState state, double notchHeight);

    QRectF viewRect(double panelWidth) const;
    QRectF cardRect(double panelWidth) const
    {
        return viewRect(panelWidth).adjusted(kMargin, kMargin, -kMargin, -kMargin);
    }
};

// The shadow around the panel's shape: the hover test before the state test for the opacity,
// the hidden test before the hover test for the radius.
struct NotchShadow
{
    double opacity = 0;
    double radius = 0;

    static NotchShadow of(NotchDrawerHoverBehavior hoverBehavior, bool isHovering, NotchDrawerState state);
};

} // namespace jw
