#pragma once

#include <QHashFunctions>
#include <QObject>

namespace jw {
Q_NAMESPACE

// The icon's motion; the icon view takes it as the identity of its inner view.
enum class IconAnimation
{
    none,
    rotating,
    pulsing
};
Q_ENUM_NS(IconAnimation)

inline size_t qHash(IconAnimation animation, size_t seed = 0) noexcept
{
    return ::qHash(static_cast<int>(animation), seed);
}

} // namespace jw
