#pragma once

class QWidget;

namespace jw {

// What the desktop's window system does with our top-level windows, where Qt has no word for it.
class WindowSystem
{
public:
    // Qt's X11 platform.
    static bool isX11();

    // Whether something blends translucent windows with what lies beneath. On X11 that is a
    // compositing manager, which owns the _NET_WM_CM_S0 selection; without one the transparent
    // pixels of a window are drawn black. Other window systems always composite.
    static bool hasCompositor();

    // Names the window a notification for compositors and tools (_NET_WM_WINDOW_TYPE); its
    // native window must exist. Does nothing off X11.
    static void setNotificationType(QWidget* window);
};

} // namespace jw
