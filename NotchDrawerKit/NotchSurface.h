#pragma once

#include <QPainterPath>
#include <QWidget>

#include <algorithm>
#include <chrono>

namespace jw {

// A way of drawing the panel (notch shape or floating card). The root view steps it on each
// frame of the panel's animator and draws the shadow around the shape it reports.
class NotchSurface : public QWidget
{
    Q_OBJECT
public:
    using QWidget::QWidget;

    // Samples the animated values at `now`; true while anything still moves.
    virtual bool step(std::chrono::steady_clock::time_point now) = 0;
    // The opaque outline as presented now, in this widget's coordinates.
    virtual QPainterPath paintedShape() const = 0;

    // A caller's widget at its ideal size: its size hint within its minimum and maximum.
    static QSizeF idealSize(const QWidget* widget)
    {
        if (!widget)
            return {};
        const QSize hint = widget->sizeHint().expandedTo(QSize(0, 0));
        return QSizeF(hint.expandedTo(widget->minimumSize()).boundedTo(widget->maximumSize()));
    }
    // Its ideal size no wider than `maximumWidth` unless its minimum is; a widget whose height
    // depends on its width is measured at the width it gets.
    static QSizeF idealSize(const QWidget* widget, double maximumWidth)
    {
        QSizeF size = idealSize(widget);
        if (!widget || size.width() <= maximumWidth)
            return size;
        const int width = std::max(int(maximumWidth), widget->minimumWidth());
        if (widget->hasHeightForWidth())
            size.setHeight(std::clamp(widget->heightForWidth(width), widget->minimumHeight(), widget->maximumHeight()));
        size.setWidth(width);
        return size;
    }
};

} // namespace jw
