#include "platform/symbols/Symbols.h"

#include "platform/symbols/SymbolDrawings.h"

#include <QCache>
#include <QFile>
#include <QHash>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

namespace jw {

namespace {

struct Entry
{
    const char* name;
    const char* theme[2];
};

// Symbolic theme icons only: full-colour ones would tint to a shapeless blot. A symbol whose
// meaning rests on its shape (a filled disc with a cut-out, two arrows turning the other way,
// sparkles) has no theme name where the standard theme's nearest icon says something else:
// our drawing stands in everywhere for those.
const Entry kTable[] = {
    {"gear", {"emblem-system-symbolic", "preferences-system-symbolic"}},
    {"arrow.trianglehead.2.counterclockwise", {}},
    {"checkmark.circle.fill", {}},
    {"xmark.circle.fill", {}},
    {"circle.fill", {"media-record-symbolic"}},
    {"exclamationmark.triangle.fill", {"dialog-warning-symbolic"}},
    {"sparkles", {}},
    {"folder.fill", {}},
    {"key.fill", {"dialog-password-symbolic"}},
    {"plus", {"list-add-symbolic"}},
    {"arrow.up.right", {}},
    {"arrow.clockwise", {"view-refresh-symbolic"}},
    {"checkmark", {"object-select-symbolic"}},
    {"folder.badge.plus", {"folder-new-symbolic"}},
    {"folder.badge.checkmark", {}},
    // The notch kit's samples and screenshots.
    {"arrow.up.circle", {}},
    {"arrow.up", {"go-up-symbolic"}},
    {"star", {"non-starred-symbolic"}},
    {"star.fill", {"starred-symbolic"}},
};

const Entry* find(const QString& name)
{
    for (const Entry& e : kTable)
        if (name == QLatin1String(e.name))
            return &e;
    return nullptr;
}

bool& themeLookup()
{
    static bool enabled = true;
    return enabled;
}

// Our drawings are black ink with white cut-outs; ink is darkness times coverage, so a white
// stroke over a black disc becomes a hole in the tinted symbol.
QImage tintInk(QImage image, const QColor& color)
{
    image = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = line[x];
            const int a = qAlpha(p);
            if (a == 0)
                continue;
            // Un-premultiplied grey of the pixel; 0 is full ink.
            const int grey = qGray(p);
            const int ink = a * (255 - grey) / 255;
            line[x] = qRgba(color.red(), color.green(), color.blue(), ink * color.alpha() / 255);
        }
    }
    return image;
}

// Theme icons are monochrome shapes: keep their coverage, replace their colour.
QImage tintCoverage(QImage image, const QColor& color)
{
    image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter p(&image);
    p.setCompositionMode(QPainter::CompositionMode_SourceIn);
    p.fillRect(image.rect(), color);
    return image;
}

QImage render(const QString& name, QSize pixels, const QColor& color)
{
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    if (pixels.isEmpty())
        return image;
    const Entry* entry = find(name);
    if (themeLookup()) {
        for (const QString& n : Symbols::themeNames(name)) {
            if (!QIcon::hasThemeIcon(n))
                continue;
            const QPixmap pm = QIcon::fromTheme(n).pixmap(pixels);
            if (pm.isNull())
                continue;
            QPainter p(&image);
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            const QSize fitted = pm.size().scaled(pixels, Qt::KeepAspectRatio);
            p.drawPixmap(
                QRect(QPoint((pixels.width() - fitted.width()) / 2, (pixels.height() - fitted.height()) / 2), fitted),
                pm);
            p.end();
            return tintCoverage(image, color);
        }
    }
    QSvgRenderer svg(entry ? symbolDrawing(name) : placeholderDrawing());
    if (!svg.isValid())
        return image;
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        const QSizeF view = svg.viewBoxF().size();
        const QSizeF fitted = view.scaled(QSizeF(pixels), Qt::KeepAspectRatio);
        svg.render(
            &p,
            QRectF(QPointF((pixels.width() - fitted.width()) / 2, (pixels.height() - fitted.height()) / 2), fitted));
    }
    return tintInk(image, color);
}

QString cacheKey(const QString& name, QSize pixels, const QColor& color)
{
    // One substitution: a "%2" in a name must stay text.
    return QStringLiteral("%1|%2x%3|%4|%5")
        .arg(name,
             QString::number(pixels.width()),
             QString::number(pixels.height()),
             QString::number(color.rgba(), 16).rightJustified(8, u' '),
             QString::number(themeLookup() ? 1 : 0));
}

// Renders the symbol at whatever size and colour the icon is asked for.
class SymbolIconEngine : public QIconEngine
{
public:
    SymbolIconEngine(QString name, QColor color)
        : m_name(std::move(name))
        , m_color(color)
    {
    }
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override
    {
        const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QColor c = m_color;
        if (mode == QIcon::Disabled)
            c.setAlphaF(c.alphaF() * 0.4);
        painter->drawPixmap(rect, Symbols::pixmap(m_name, rect.size(), c, dpr));
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        QPixmap pm(size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        paint(&p, QRect(QPoint(), size), mode, state);
        return pm;
    }
    QIconEngine* clone() const override { return new SymbolIconEngine(m_name, m_color); }
    QString key() const override { return QStringLiteral("jw-symbol"); }

private:
    QString m_name;
    QColor m_color;
};

} // namespace

QStringList Symbols::names()
{
    QStringList out;
    for (const Entry& e : kTable)
        out << QString::fromLatin1(e.name);
    return out;
}

bool Symbols::isKnown(const QString& name)
{
    return find(name) != nullptr;
}

QStringList Symbols::themeNames(const QString& name)
{
    const Entry* e = find(name);
    // A caller may name a theme icon directly.
    if (!e)
        return {name};
    QStringList out;
    for (const char* n : e->theme)
        if (n)
            out << QString::fromLatin1(n);
    return out;
}

QByteArray Symbols::fallbackDrawing(const QString& name)
{
    return find(name) ? symbolDrawing(name) : QByteArray();
}

QPixmap Symbols::pixmap(const QString& name, QSize size, const QColor& color, qreal devicePixelRatio)
{
    const qreal dpr = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    const QSize pixels = (QSizeF(size.expandedTo(QSize(0, 0))) * dpr).toSize();
    static QCache<QString, QPixmap> cache(256);
    const QString key = cacheKey(name, pixels, color);
    if (QPixmap* hit = cache.object(key)) {
        QPixmap pm = *hit;
        pm.setDevicePixelRatio(dpr);
        return pm;
    }
    QPixmap pm = QPixmap::fromImage(render(name, pixels, color));
    pm.setDevicePixelRatio(dpr);
    cache.insert(key, new QPixmap(pm));
    return pm;
}

QIcon Symbols::icon(const QString& name, const QColor& color)
{
    return QIcon(new SymbolIconEngine(name, color));
}

void Symbols::setThemeLookupEnabled(bool enabled)
{
    themeLookup() = enabled;
}

bool Symbols::themeLookupEnabled()
{
    return themeLookup();
}

} // namespace jw
