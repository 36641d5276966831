#pragma once

// What the screenshot programs share: stand-in screens, waiting for animations to rest, and a
// stand-in desktop behind the panel so black shapes and translucency show.
#include "NotchDrawerKit/FrameAnimator.h"
#include "NotchDrawerKit/NotchContentView.h"
#include "NotchDrawerKit/NotchDrawer.h"
#include "NotchDrawerKit/NotchDrawerPanel.h"
#include "platform/screen/ScreenGeometry.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>

#include <functional>

namespace jw::bench {

// A notched laptop-like screen the size of the offscreen platform's screen.
inline ScreenGeometry notchedScreen()
{
    ScreenGeometry s;
    s.frame = QRectF(0, 0, 800, 600);
    s.visibleFrame = QRectF(0, 0, 800, 600 - 37);
    s.safeAreaInsets.top = 32;
    s.auxiliaryTopLeftArea = QRectF(0, 568, 300, 32);
    s.auxiliaryTopRightArea = QRectF(500, 568, 300, 32);
    return s;
}

inline ScreenGeometry plainScreen()
{
    ScreenGeometry s;
    s.frame = QRectF(0, 0, 800, 600);
    s.visibleFrame = QRectF(0, 0, 800, 576);
    return s;
}

// Runs the event loop until `done` or `ms` passed.
inline void spin(const std::function<bool()>& done, int ms = 3000)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

inline bool panelAtRest(const NotchDrawer& d)
{
    auto* root = d.panel() ? qobject_cast<NotchContentView*>(d.panel()->contentView()) : nullptr;
    return !root || !root->animator()->isRunning();
}

// The panel over a gradient desktop with a menu bar of the given height.
inline QImage overDesktop(const QPixmap& panel, double menubarHeight)
{
    QImage desktop(panel.size(), QImage::Format_ARGB32_Premultiplied);
    QPainter p(&desktop);
    QLinearGradient g(0, 0, desktop.width(), desktop.height());
    g.setColorAt(0, QColor(70, 110, 170));
    g.setColorAt(1, QColor(190, 140, 120));
    p.fillRect(desktop.rect(), g);
    p.fillRect(QRect(0, 0, desktop.width(), int(menubarHeight)), QColor(230, 230, 235, 200));
    p.drawPixmap(0, 0, panel);
    return desktop;
}

// build/bench/screenshots/<name>, created when missing.
inline QString outputDirectory(const QString& name)
{
    const QString dir = QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots/") + name;
    QDir().mkpath(dir);
    return dir;
}

} // namespace jw::bench
