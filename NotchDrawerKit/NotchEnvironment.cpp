#include "NotchDrawerKit/NotchEnvironment.h"

#include <QVariant>
#include <QWidget>

namespace jw {
namespace {

constexpr const char* kStyleKey = "__Key_notchStyle";
constexpr const char* kSectionKey = "__Key_notchSection";

template <typename T>
T lookUp(const QWidget* widget, const char* key, T fallback)
{
    for (const QWidget* w = widget; w; w = w->parentWidget()) {
        const QVariant value = w->property(key);
        if (value.isValid())
            return value.value<T>();
    }
    return fallback;
}

} // namespace

NotchDrawerStyle EnvironmentValues::notchStyle(const QWidget* widget)
{
    return lookUp(widget, kStyleKey, NotchDrawerStyle::automatic());
}

void EnvironmentValues::setNotchStyle(QWidget* widget, NotchDrawerStyle style)
{
    widget->setProperty(kStyleKey, QVariant::fromValue(style));
}

NotchDrawerSection EnvironmentValues::notchSection(const QWidget* widget)
{
    return lookUp(widget, kSectionKey, NotchDrawerSection::expanded);
}

void EnvironmentValues::setNotchSection(QWidget* widget, NotchDrawerSection section)
{
    widget->setProperty(kSectionKey, QVariant::fromValue(section));
}

} // namespace jw
