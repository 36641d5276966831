#pragma once

#include "NotchDrawerKit/NotchLayout.h"
#include "NotchDrawerKit/NotchSurface.h"
#include "NotchDrawerKit/Spring.h"

#include <QPointer>

namespace jw {

class FrameAnimator;
class NotchDrawer;

// The floating card for screens without a notch: the expanded content on a translucent
// material with a 1-point border, sliding between above the screen and below the menu bar.
class NotchlessView : public NotchSurface
{
    Q_OBJECT
public:
    NotchlessView(NotchDrawer* drawer, FrameAnimator* animator, QWidget* parent = nullptr);
    ~NotchlessView() override;

    NotchlessLayout targetLayout() const;
    double windowHeight() const { return m_windowHeight; }
    QRectF presentedCardRect() const { return m_cardRect; }

    bool step(std::chrono::steady_clock::time_point now) override;
    QPainterPath paintedShape() const override { return m_card; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void relayout(Spring spring, bool animate);
    // The card's rounded corners clip the content as well as the material.
    void clipContent();

    QPointer<NotchDrawer> m_drawer;
    FrameAnimator* m_animator;
    QWidget* m_box;
    QPointer<QWidget> m_content;
    double m_windowHeight = 0;
    AnimatedValue m_yOffset;
    QRectF m_cardRect;
    QPainterPath m_card;
    bool m_relayoutPending = false;
};

} // namespace jw
