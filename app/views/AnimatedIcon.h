#pragma once

#include "app/views/IconAnimation.h"

#include <QColor>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace jw {

class AnimatedIconInner;

// The status symbol. Its inner view has the animation kind as its identity: a new kind makes a
// new inner view whose motion starts afresh; a new symbol or colour keeps the inner view and
// its running motion.
//
// The widget is larger than the symbol's frame by the room a pulse needs, since a widget cannot
// paint outside itself: a symbol filling the widget would be cut flat at its peak.
class AnimatedIcon : public QWidget
{
    Q_OBJECT
public:
    // The widget side that holds a symbol frame of `symbolSide` and its pulse.
    static int sideFor(int symbolSide);
    // The symbol frame inside a widget rectangle: the largest centred square that leaves the room.
    static QRect symbolFrameIn(const QRect& widget);

    AnimatedIcon(const QString& systemName, const QColor& color, IconAnimation animation, QWidget* parent = nullptr);

    // In this widget's coordinates.
    QRect symbolFrame() const { return symbolFrameIn(rect()); }

    const QString& systemName() const { return m_systemName; }
    const QColor& color() const { return m_color; }
    IconAnimation animation() const { return m_animation; }
    void setSystemName(const QString& systemName);
    void setColor(const QColor& color);
    void setAnimation(IconAnimation animation);

    AnimatedIconInner* inner() const { return m_inner; }

Q_SIGNALS:
    void innerReplaced(jw::AnimatedIconInner* inner);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QString m_systemName;
    QColor m_color;
    IconAnimation m_animation;
    AnimatedIconInner* m_inner = nullptr;
};

// The symbol, turned by `rotation` degrees and scaled by `scale` about its centre. Made only
// by AnimatedIcon. When it first comes on screen it sets its motion's target (a full turn, or
// 115 %) and then presents the endless motion toward it on a timer of its own that runs only
// while it is visible.
class AnimatedIconInner : public QWidget
{
    Q_OBJECT
public:
    static constexpr double kTurnDuration = 2.0;
    static constexpr double kPulseDuration = 0.8;
    static constexpr double kPulseScale = 1.15;
    static constexpr int kFrameIntervalMs = 16;

    AnimatedIconInner(const QString& systemName, const QColor& color, IconAnimation animation, QWidget* parent);

    const QString& systemName() const { return m_systemName; }
    const QColor& color() const { return m_color; }
    IconAnimation animation() const { return m_animation; }
    void setSystemName(const QString& systemName);
    void setColor(const QColor& color);

    // The view's state: 0 and 1.0 until it appears, then the targets of its motion.
    double rotation() const { return m_rotation; }
    double scale() const { return m_scale; }
    // What is drawn now, somewhere between the start and the target.
    double presentedRotation() const;
    double presentedScale() const;
    bool isAnimating() const { return m_timer.isActive(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    double elapsed() const;

    QString m_systemName;
    QColor m_color;
    const IconAnimation m_animation;
    double m_rotation = 0;
    double m_scale = 1.0;
    bool m_appeared = false;
    QTimer m_timer;
    QElapsedTimer m_clock;
    double m_elapsedBefore = 0;
};

} // namespace jw
