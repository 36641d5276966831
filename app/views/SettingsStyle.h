#pragma once

#include <QColor>
#include <QFont>
#include <QFontDatabase>
#include <QPalette>

// The text styles and colours of the settings panel and the project picker, in one place.
namespace jw::settings_style {

// The desktop's body text stands in for the platform's 13-point body style; the smaller styles
// keep the platform's proportions to it (caption 10/13, caption 2 about 9.5/13).
inline QFont scaled(QFont font, qreal factor)
{
    if (font.pixelSize() > 0)
        font.setPixelSize(qMax(8, qRound(font.pixelSize() * factor)));
    else
        font.setPointSizeF(qMax(6.0, font.pointSizeF() * factor));
    return font;
}

inline QFont headline(const QFont& body)
{
    QFont f = body;
    f.setBold(true);
    return f;
}
inline QFont caption(const QFont& body)
{
    return scaled(body, 10.0 / 13.0);
}
inline QFont caption2(const QFont& body)
{
    return scaled(body, 9.5 / 13.0);
}
inline QFont monospaced(const QFont& sized)
{
    QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (sized.pixelSize() > 0)
        f.setPixelSize(sized.pixelSize());
    else
        f.setPointSizeF(sized.pointSizeF());
    f.setBold(sized.bold());
    return f;
}

inline QColor blue()
{
    return QColor(0, 122, 255);
}
inline QColor green()
{
    return QColor(52, 199, 89);
}
inline QColor withAlpha(QColor c, qreal alpha)
{
    c.setAlphaF(float(alpha));
    return c;
}
// The hierarchical foreground levels, from the palette's text colour.
inline QColor primary(const QPalette& p)
{
    return p.color(QPalette::WindowText);
}
inline QColor secondary(const QPalette& p)
{
    return withAlpha(p.color(QPalette::WindowText), 0.55);
}
inline QColor quaternary(const QPalette& p)
{
    return withAlpha(p.color(QPalette::WindowText), 0.3);
}

} // namespace jw::settings_style
