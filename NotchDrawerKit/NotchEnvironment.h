#pragma once

#include "NotchDrawerKit/NotchDrawerTypes.h"

class QWidget;

namespace jw {

// Values a container sets on a widget and its descendants read by walking up the parent chain;
// widgets outside any notch panel read the defaults (`automatic`, `expanded`).
struct EnvironmentValues
{
    static NotchDrawerStyle notchStyle(const QWidget* widget);
    static void setNotchStyle(QWidget* widget, NotchDrawerStyle style);

    static NotchDrawerSection notchSection(const QWidget* widget);
    static void setNotchSection(QWidget* widget, NotchDrawerSection section);
};

} // namespace jw
