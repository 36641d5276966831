#pragma once

#include <QByteArray>
#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <QStringList>

namespace jw {

// System symbols by name. Each name maps to freedesktop icon-theme names (symbolic icons first,
// since they are drawn to be recoloured) and to a drawing of our own that is used when the
// theme has none; either way the result is tinted to the requested colour. An unknown name is
// looked up in the icon theme as it stands, and without such an icon draws a dashed placeholder
// outline: never nothing, and never a shape that could be taken for a real symbol.
class Symbols
{
public:
    // Every name this layer knows.
    static QStringList names();
    static bool isKnown(const QString& name);
    // The icon-theme names tried for a symbol, in order; a name we do not know is tried as it is.
    static QStringList themeNames(const QString& name);
    // Our own drawing (SVG) used when the theme has none.
    static QByteArray fallbackDrawing(const QString& name);

    // `size` in device-independent pixels; the pixmap carries `devicePixelRatio`.
    static QPixmap pixmap(const QString& name, QSize size, const QColor& color, qreal devicePixelRatio = 1.0);
    static QIcon icon(const QString& name, const QColor& color);

    // Whether the icon theme is consulted at all (default true). Off gives the same drawings
    // on every desktop, for tests and screenshots.
    static void setThemeLookupEnabled(bool enabled);
    static bool themeLookupEnabled();
};

} // namespace jw
