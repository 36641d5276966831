#pragma once

#include "NotchDrawerKit/NotchLayout.h"
#include "NotchDrawerKit/NotchSurface.h"
#include "NotchDrawerKit/Spring.h"
#include "NotchDrawerKit/ViewModifiers.h"

#include <QPointer>

namespace jw {

class FrameAnimator;
class NotchDrawer;

// The black notch-shaped view: the compact row (leading side, a notch-wide gap, trailing side)
// and the expanded block below the notch, masked by a NotchShape that follows the state.
// It fills its parent; the notch hangs from the top centre. Contents are clipped to the shape
// as presented, so nothing of them shows outside it while it springs or when they are too big.
class NotchView : public NotchSurface
{
    Q_OBJECT
public:
    // Slides the shape without overshoot when a side's measured width changes.
    static constexpr Spring kWidthSpring{0.5, 1.0};
    static constexpr double kTransitionBlur = 10;

    NotchView(NotchDrawer* drawer, FrameAnimator* animator, QWidget* parent = nullptr);
    ~NotchView() override;

    double compactLeadingWidth() const { return m_compactLeadingWidth; }
    double compactTrailingWidth() const { return m_compactTrailingWidth; }
    // The layout the view is heading for.
    NotchLayout targetLayout() const;
    // The view's rectangle as presented now.
    QRectF presentedRect() const { return m_presentedRect; }

    bool step(std::chrono::steady_clock::time_point now) override;
    QPainterPath paintedShape() const override { return m_shape; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Element
    {
        QWidget* box = nullptr;
        QPointer<QWidget> content;
        AnimatedValue presence;
        ScaleModifier activeScale;
        bool shown = false;
    };

    NotchLayout::Input layoutInput() const;
    void measure();
    void relayout(Spring spring, bool animate);
    void placeElement(Element& element,
                      bool shown,
                      const QRectF& rect,
                      const QRectF& contentRect,
                      Spring spring,
                      bool animate,
                      std::chrono::steady_clock::time_point now);
    void updateHover(QPointF position);
    void adopt(Element& element, QWidget* content, ScaleModifier activeScale);
    // Shows the element as its transition stands at `now`, clipped to the presented shape.
    bool present(Element& element, std::chrono::steady_clock::time_point now);

    QPointer<NotchDrawer> m_drawer;
    FrameAnimator* m_animator;
    double m_compactLeadingWidth = 0;
    double m_compactTrailingWidth = 0;

    Element m_leading;
    Element m_trailing;
    Element m_expanded;

    AnimatedValue m_width;
    AnimatedValue m_height;
    AnimatedValue m_xOffset;
    AnimatedValue m_maskTop;
    AnimatedValue m_maskBottom;

    QRectF m_presentedRect;
    QPainterPath m_shape;
    bool m_relayoutPending = false;
};

} // namespace jw
