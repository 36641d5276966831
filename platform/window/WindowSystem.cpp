#include "platform/window/WindowSystem.h"

#include <QGuiApplication>
#include <QWidget>
#include <qguiapplication_platform.h>

#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

namespace jw {
namespace {

xcb_connection_t* connection()
{
    if (!WindowSystem::isX11())
        return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t* c, const char* name)
{
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return a;
}

} // namespace

bool WindowSystem::isX11()
{
    return qGuiApp && QGuiApplication::platformName() == QLatin1String("xcb");
}

bool WindowSystem::hasCompositor()
{
    xcb_connection_t* c = connection();
    if (!c)
        return true;
    // Qt drives one X screen (monitors are parts of it), hence S0.
    const xcb_atom_t selection = atom(c, "_NET_WM_CM_S0");
    if (selection == XCB_ATOM_NONE)
        return false;
    xcb_get_selection_owner_reply_t* reply =
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr);
    const bool owned = reply && reply->owner != XCB_NONE;
    std::free(reply);
    return owned;
}

void WindowSystem::setNotificationType(QWidget* window)
{
    xcb_connection_t* c = connection();
    if (!c || !window || !window->internalWinId())
        return;
    const xcb_atom_t type = atom(c, "_NET_WM_WINDOW_TYPE");
    const xcb_atom_t notification = atom(c, "_NET_WM_WINDOW_TYPE_NOTIFICATION");
    if (type == XCB_ATOM_NONE || notification == XCB_ATOM_NONE)
        return;
    xcb_change_property(c,
                        XCB_PROP_MODE_REPLACE,
                        xcb_window_t(window->internalWinId()),
                        type,
                        XCB_ATOM_ATOM,
                        32,
                        1,
                        &notification);
    xcb_flush(c);
}

} // namespace jw
