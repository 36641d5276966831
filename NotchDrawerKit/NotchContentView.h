#pragma once

#include "NotchDrawerKit/NotchDrawerTypes.h"
#include "NotchDrawerKit/NotchLayout.h"
#include "NotchDrawerKit/Spring.h"

#include <QImage>
#include <QPainterPath>
#include <QPointer>
#include <QRegion>
#include <QWidget>

#include <chrono>

namespace jw {

class FrameAnimator;
class NotchDrawer;
class NotchSurface;

// The root view of a notch panel: the notch view or the floating card chosen by the style,
// the shadow around it, the style published to everything below, and the panel's one
// frame animator.
class NotchContentView : public QWidget
{
    Q_OBJECT
public:
    static constexpr Spring kHoverSpring{0.4, 0.85};

    // `style` is the resolved style; anything but a notch draws the floating card.
    NotchContentView(NotchDrawer* drawer, NotchDrawerStyle style, QWidget* parent = nullptr);

    NotchDrawerStyle style() const { return m_style; }
    NotchSurface* surface() const { return m_surface; }
    FrameAnimator* animator() const { return m_animator; }
    quint64 namespaceIdentifier() const { return m_namespace; }

    // The shadow the notch object's state asks for, and the one presented now.
    NotchShadow shadow() const;
    NotchShadow presentedShadow() const { return m_presentedShadow; }
    // Shape plus visible shadow, in this widget's coordinates.
    QRegion paintedRegion() const { return m_paintedRegion; }

Q_SIGNALS:
    void paintedRegionChanged(const QRegion& region);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    bool step(std::chrono::steady_clock::time_point now);
    void retargetShadow(Spring spring, bool animate);

    QPointer<NotchDrawer> m_drawer;
    const NotchDrawerStyle m_style;
    const quint64 m_namespace;
    FrameAnimator* m_animator;
    NotchSurface* m_surface;
    AnimatedValue m_shadowOpacity;
    AnimatedValue m_shadowRadius;
    NotchShadow m_presentedShadow;
    QRegion m_paintedRegion;
    struct ShadowCache
    {
        QPainterPath shape;
        double radius = 0;
        qreal dpr = 1;
        QImage image;
        QPointF origin;
    };
    ShadowCache m_shadow;
    bool m_appeared = false;
};

} // namespace jw
