#include "app/views/SettingsSymbols.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>

namespace jw {

namespace {

// Only where a freedesktop name means the same shape; the rest are always painted here.
QString themeName(const QString& name)
{
    static const QHash<QString, QString> names{
        {QStringLiteral("key.fill"), QStringLiteral("dialog-password")},
        {QStringLiteral("folder.fill"), QStringLiteral("folder")},
        {QStringLiteral("plus"), QStringLiteral("list-add")},
        {QStringLiteral("arrow.clockwise"), QStringLiteral("view-refresh")},
        {QStringLiteral("checkmark"), QStringLiteral("object-select")},
        {QStringLiteral("folder.badge.plus"), QStringLiteral("folder-new")},
    };
    return names.value(name);
}

QPainterPath folderPath(qreal s)
{
    QPainterPath p;
    p.moveTo(1.5 * s, 4 * s);
    p.lineTo(6 * s, 4 * s);
    p.lineTo(7.5 * s, 5.5 * s);
    p.lineTo(14.5 * s, 5.5 * s);
    p.lineTo(14.5 * s, 13.5 * s);
    p.lineTo(1.5 * s, 13.5 * s);
    p.closeSubpath();
    return p;
}

void drawCheck(QPainter& p, qreal s, const QPointF& a, const QPointF& b, const QPointF& c, qreal width)
{
    QPainterPath check;
    check.moveTo(a * s);
    check.lineTo(b * s);
    check.lineTo(c * s);
    p.strokePath(check, QPen(p.brush().color(), width * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
}

// Shapes on a 16 x 16 grid, scaled to the pixmap.
void paintSymbol(QPainter& p, const QString& name, const QColor& color, int size)
{
    const qreal s = size / 16.0;
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    const QPen line(color, 1.6 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    auto knockOut = [&](auto draw) {
        p.setCompositionMode(QPainter::CompositionMode_Clear);
        draw();
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    };
    if (name == QLatin1String("key.fill")) {
        p.drawEllipse(QPointF(5 * s, 8 * s), 3.5 * s, 3.5 * s);
        p.drawRect(QRectF(7 * s, 7 * s, 8 * s, 2 * s));
        p.drawRect(QRectF(12 * s, 9 * s, 1.6 * s, 2.5 * s));
        knockOut([&] { p.drawEllipse(QPointF(4 * s, 8 * s), 1.2 * s, 1.2 * s); });
    } else if (name.startsWith(QLatin1String("folder"))) {
        p.drawPath(folderPath(s));
        if (name == QLatin1String("folder.badge.plus")) {
            knockOut([&] { p.drawEllipse(QPointF(12 * s, 12 * s), 4 * s, 4 * s); });
            p.setPen(QPen(color, 1.4 * s, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(12 * s, 9.8 * s), QPointF(12 * s, 14.2 * s));
            p.drawLine(QPointF(9.8 * s, 12 * s), QPointF(14.2 * s, 12 * s));
        } else if (name == QLatin1String("folder.badge.checkmark")) {
            knockOut([&] { p.drawEllipse(QPointF(12 * s, 12 * s), 4 * s, 4 * s); });
            drawCheck(p, s, {9.8, 12}, {11.4, 13.6}, {14.4, 10.2}, 1.4);
        }
    } else if (name == QLatin1String("xmark.circle.fill") || name == QLatin1String("checkmark.circle.fill")) {
        p.drawEllipse(QPointF(8 * s, 8 * s), 7 * s, 7 * s);
        p.setCompositionMode(QPainter::CompositionMode_Clear);
        p.setPen(QPen(Qt::black, 1.7 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        if (name.startsWith(QLatin1String("x"))) {
            p.drawLine(QPointF(5.5 * s, 5.5 * s), QPointF(10.5 * s, 10.5 * s));
            p.drawLine(QPointF(10.5 * s, 5.5 * s), QPointF(5.5 * s, 10.5 * s));
        } else {
            QPainterPath check;
            check.moveTo(4.8 * s, 8.2 * s);
            check.lineTo(7.1 * s, 10.5 * s);
            check.lineTo(11.2 * s, 5.6 * s);
            p.setBrush(Qt::NoBrush);
            p.drawPath(check);
        }
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    } else if (name == QLatin1String("arrow.up.right")) {
        p.setPen(line);
        p.drawLine(QPointF(4 * s, 12 * s), QPointF(12 * s, 4 * s));
        p.drawLine(QPointF(6 * s, 4 * s), QPointF(12 * s, 4 * s));
        p.drawLine(QPointF(12 * s, 4 * s), QPointF(12 * s, 10 * s));
    } else if (name == QLatin1String("plus")) {
        p.setPen(line);
        p.drawLine(QPointF(8 * s, 3 * s), QPointF(8 * s, 13 * s));
        p.drawLine(QPointF(3 * s, 8 * s), QPointF(13 * s, 8 * s));
    } else if (name == QLatin1String("arrow.clockwise")) {
        p.setPen(line);
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(3 * s, 3 * s, 10 * s, 10 * s), 60 * 16, 300 * 16);
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        QPainterPath head;
        head.moveTo(9 * s, 1.5 * s);
        head.lineTo(13 * s, 3.8 * s);
        head.lineTo(9.2 * s, 6.2 * s);
        head.closeSubpath();
        p.drawPath(head);
    } else if (name == QLatin1String("checkmark")) {
        drawCheck(p, s, {3, 8.5}, {6.5, 12}, {13, 4}, 1.8);
    } else if (name == QLatin1String("sparkles")) {
        auto star = [&](QPointF c, qreal r) {
            const QPointF m = c * s;
            QPainterPath path;
            path.moveTo(m.x(), m.y() - r * s);
            path.quadTo(m, QPointF(m.x() + r * s, m.y()));
            path.quadTo(m, QPointF(m.x(), m.y() + r * s));
            path.quadTo(m, QPointF(m.x() - r * s, m.y()));
            path.quadTo(m, QPointF(m.x(), m.y() - r * s));
            p.drawPath(path);
        };
        star({6.5, 9}, 5.5);
        star({12.5, 4}, 3);
        star({12.5, 12.5}, 2.2);
    }
}

} // namespace

QIcon settingsSymbol(const QString& name, const QColor& color, int size)
{
    QIcon icon;
    const QIcon themed = QIcon::fromTheme(themeName(name));
    for (int px : {size, size * 2}) {
        QPixmap pixmap(px, px);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        if (!themed.isNull()) {
            // Theme icons come in their own colours; the panel wants the named tint.
            themed.paint(&p, pixmap.rect());
            p.setCompositionMode(QPainter::CompositionMode_SourceIn);
            p.fillRect(pixmap.rect(), color);
        } else {
            paintSymbol(p, name, color, px);
        }
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace jw
