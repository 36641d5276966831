#pragma once

#include <QHashFunctions>

namespace jw {

// The icon's motion; the icon view takes it as the identity of its inner view.
enum class IconAnimation
{
    none,
    rotating,
    pulsing
};

inline size_t qHash(IconAnimation animation, size_t seed = 0) noexcept
{
    return ::qHash(static_cast<int>(animation), seed);
}

} // namespace jw
