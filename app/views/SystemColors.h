#pragma once

#include <QColor>

namespace jw::SystemColor {

// The platform's standard accent colours, in their familiar light-appearance values.
inline QColor blue()
{
    return QColor(0, 122, 255);
}
inline QColor orange()
{
    return QColor(255, 149, 0);
}
inline QColor green()
{
    return QColor(52, 199, 89);
}
inline QColor red()
{
    return QColor(255, 59, 48);
}

} // namespace jw::SystemColor
