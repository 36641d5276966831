#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

namespace jw {

// The named symbols the settings panel and the project picker draw, tinted to `color`. A theme
// icon when the desktop has one, otherwise a shape painted here; the one place to switch to a
// shared symbol layer.
QIcon settingsSymbol(const QString& name, const QColor& color, int size = 16);

} // namespace jw
