#include "NotchDrawerKit/NotchLayout.h"

#include <algorithm>

namespace jw {

namespace {
// Expanded, a notch style pads by its top radius; `automatic` by the standard notch's.
double expandedSidePadding(NotchDrawerStyle storedStyle)
{
    return storedStyle.isNotch() ? storedStyle.topCornerRadius() : 15;
}
} // namespace

QSizeF NotchLayout::sideBox(QSizeF content)
{
    return QSizeF(std::max(0.0, content.width()) + kSideOuterInset,
                  std::max(0.0, content.height()) + kSideTopInset + kSideBottomInset);
}

QSizeF NotchLayout::expandedBoxFor(QSizeF content, QSizeF notchSize)
{
    const double width = std::max(0.0, content.width()) + 2 * kSafeAreaInset;
    const double height = std::max(0.0, content.height()) + notchSize.height() + kSafeAreaInset;
    return QSizeF(std::max(width, notchSize.width()), height);
}

double NotchLayout::expandedContentRoom(NotchDrawerStyle storedStyle, double panelWidth)
{
    return std::max(0.0, panelWidth - 2 * expandedSidePadding(storedStyle) - 2 * kSafeAreaInset);
}

NotchLayout NotchLayout::compute(const Input& in)
{
    NotchLayout l;
    const double n = in.notchSize.width();
    const double h = in.notchSize.height();
    const bool expanded = in.state == NotchDrawerState::expanded;
    const bool compact = in.state == NotchDrawerState::compact;

    if (!expanded) {
        l.sidePadding = 6;
        l.maskTopRadius = 6;
        l.maskBottomRadius = 14;
        l.extraWidth = 12;
    } else if (in.storedStyle.isNotch()) {
        l.sidePadding = expandedSidePadding(in.storedStyle);
        l.maskTopRadius = in.storedStyle.topCornerRadius();
        l.maskBottomRadius = in.storedStyle.bottomCornerRadius();
        l.extraWidth = 2 * in.storedStyle.topCornerRadius();
    } else {
        // The standard notch's values, which `automatic` resolves to on a notched screen.
        l.sidePadding = expandedSidePadding(in.storedStyle);
        l.maskTopRadius = 15;
        l.maskBottomRadius = 20;
        l.extraWidth = 30;
    }
    l.minimumWidth = n + l.extraWidth;
    l.compactOffsetDelta = (in.compactTrailingWidth - in.compactLeadingWidth) * 0.5;
    l.compactXOffset = compact ? l.compactOffsetDelta : 0;

    l.showsLeading = compact && !in.disableCompactLeading;
    l.showsTrailing = compact && !in.disableCompactTrailing;
    l.showsExpanded = expanded;
    l.leadingBox = sideBox(in.compactLeadingContent);
    l.trailingBox = sideBox(in.compactTrailingContent);
    l.expandedContentSize = in.expandedContent.expandedTo(QSizeF(0, 0));
    if (!in.panelSize.isEmpty())
        l.expandedContentSize.setWidth(
            std::min(l.expandedContentSize.width(), expandedContentRoom(in.storedStyle, in.panelSize.width())));
    l.expandedBox = expandedBoxFor(l.expandedContentSize, in.notchSize);

    l.rowHeight = compact && in.isHovering ? in.menubarHeight : h;
    const double rowWidth =
        compact ? (l.showsLeading ? l.leadingBox.width() : 0) + n + (l.showsTrailing ? l.trailingBox.width() : 0) : n;
    l.rowSize = QSizeF(rowWidth, l.rowHeight);
    l.blockSize = expanded ? l.expandedBox : QSizeF(0, 0);

    const double stackWidth = std::max(l.rowSize.width(), l.blockSize.width()) + 2 * l.sidePadding;
    const double stackHeight = std::max(l.rowSize.height(), l.blockSize.height());
    l.size = QSizeF(std::max(stackWidth, l.minimumWidth), std::max(stackHeight, h));
    // Whatever does not fit is clipped by the shape rather than carried past the panel's edges.
    if (!in.panelSize.isEmpty())
        l.size = l.size.boundedTo(in.panelSize);
    return l;
}

QRectF NotchLayout::viewRect(double panelWidth) const
{
    return QRectF((panelWidth - size.width()) / 2 + compactXOffset, 0, size.width(), size.height());
}

QRectF NotchLayout::leadingRect(double panelWidth, double notchWidth) const
{
    const double right = panelWidth / 2 - notchWidth / 2;
    return QRectF(right - leadingBox.width(),
                  (rowHeight - leadingBox.height()) / 2,
                  leadingBox.width(),
                  leadingBox.height());
}

QRectF NotchLayout::trailingRect(double panelWidth, double notchWidth) const
{
    return QRectF(panelWidth / 2 + notchWidth / 2,
                  (rowHeight - trailingBox.height()) / 2,
                  trailingBox.width(),
                  trailingBox.height());
}

QRectF NotchLayout::expandedRect(double panelWidth) const
{
    return QRectF((panelWidth - expandedBox.width()) / 2, 0, expandedBox.width(), expandedBox.height());
}

double NotchlessLayout::cornerRadiusFor(NotchDrawerStyle storedStyle)
{
    return storedStyle.isFloating() ? storedStyle.cornerRadius() : 20;
}

NotchlessLayout
NotchlessLayout::compute(QSizeF content, NotchDrawerStyle storedStyle, NotchDrawerState state, double notchHeight)
{
    NotchlessLayout l;
    l.cardSize = QSizeF(std::max(0.0, content.width()) + 2 * kSafeAreaInset,
                        std::max(0.0, content.height()) + 2 * kSafeAreaInset);
    l.viewSize = l.cardSize + QSizeF(2 * kMargin, 2 * kMargin);
    l.cornerRadius = cornerRadiusFor(storedStyle);
    l.windowHeight = l.viewSize.height();
    l.yOffset = state == NotchDrawerState::expanded ? notchHeight : -l.windowHeight;
    return l;
}

QRectF NotchlessLayout::viewRect(double panelWidth) const
{
    return QRectF((panelWidth - viewSize.width()) / 2, yOffset, viewSize.width(), viewSize.height());
}

NotchShadow NotchShadow::of(NotchDrawerHoverBehavior hoverBehavior, bool isHovering, NotchDrawerState state)
{
    const bool strong = isHovering && hoverBehavior.contains(NotchDrawerHoverBehavior::shadowOnHover);
    NotchShadow s;
    if (strong)
        s.opacity = 0.8;
    else if (state != NotchDrawerState::expanded)
        s.opacity = 0;
    else
        s.opacity = 0.5;

    if (state == NotchDrawerState::hidden)
        s.radius = 0;
    else if (strong)
        s.radius = 20;
    else
        s.radius = 10;
    return s;
}

} // namespace jw
