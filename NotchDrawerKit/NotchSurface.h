#pragma once

#include <QPainterPath>
#include <QWidget>

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
};

} // namespace jw
