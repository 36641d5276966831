#pragma once

#include <QColor>
#include <QFont>
#include <QFontDatabase>
#include <QGroupBox>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QStyle>
#include <QStyleOptionFrame>

#include <algorithm>
#include <cmath>

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

inline QColor red()
{
    return QColor(255, 59, 48);
}

// Relative luminance and contrast ratio of opaque colours, as accessibility guidelines define them.
inline double luminance(const QColor& c)
{
    const auto channel = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}
inline double contrast(const QColor& a, const QColor& b)
{
    const double x = luminance(a);
    const double y = luminance(b);
    return (std::max(x, y) + 0.05) / (std::min(x, y) + 0.05);
}

// Small text needs 4.5:1 against what lies beneath.
constexpr double kReadableContrast = 4.5;

// `colour` mixed toward black on a light background (toward white on a dark one) just enough
// to read as text there; its hue stays, so green still says "on" and red still says "error".
inline QColor legible(const QColor& colour, const QColor& background, double ratio = kReadableContrast)
{
    const QColor target = luminance(background) > 0.18 ? QColor(Qt::black) : QColor(Qt::white);
    QColor c = colour;
    for (int step = 1; step <= 20 && contrast(c, background) < ratio; ++step) {
        const double t = step / 20.0;
        c = QColor::fromRgbF(float(colour.redF() + (target.redF() - colour.redF()) * t),
                             float(colour.greenF() + (target.greenF() - colour.greenF()) * t),
                             float(colour.blueF() + (target.blueF() - colour.blueF()) * t));
    }
    return c;
}

// `over`, translucent or not, as it shows on the opaque `under`.
inline QColor composite(const QColor& over, const QColor& under)
{
    const double a = over.alphaF();
    return QColor::fromRgbF(float(over.redF() * a + under.redF() * (1 - a)),
                            float(over.greenF() * a + under.greenF() * (1 - a)),
                            float(over.blueF() * a + under.blueF() * (1 - a)));
}

// The secondary level as opaque text on `background`, taken further by legible() where the bare
// level reads under 4.5:1 there. The small margin keeps it there once both colours are drawn in
// eight bits a channel (a translucent fill rounds differently from our arithmetic).
inline QColor secondaryOn(const QPalette& p, const QColor& background)
{
    return legible(composite(secondary(p), background), background, kReadableContrast + 0.1);
}

// What lies beneath `widget`: the fill the style gives its group box, a shade off the window
// colour, or the window colour outside any box. The fill is read off the style's own drawing.
inline QColor backdrop(const QWidget* widget)
{
    const QGroupBox* box = nullptr;
    for (const QWidget* w = widget; w && !box; w = w->parentWidget())
        box = qobject_cast<const QGroupBox*>(w);
    if (!box)
        return widget->palette().color(QPalette::Window);
    constexpr int kSide = 64;
    QImage image(kSide, kSide, QImage::Format_RGB32);
    image.fill(box->palette().color(QPalette::Window));
    QStyleOptionFrame option;
    option.initFrom(box);
    option.rect = QRect(0, 0, kSide, kSide);
    QPainter painter(&image);
    box->style()->drawPrimitive(QStyle::PE_FrameGroupBox, &option, &painter, box);
    painter.end();
    // Well inside the frame, below any room a style keeps for a title.
    return image.pixelColor(kSide / 2, kSide * 3 / 4);
}

} // namespace jw::settings_style
