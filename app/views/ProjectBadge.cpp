#include "app/views/ProjectBadge.h"

#include "app/views/SystemColors.h"
#include "platform/UrlOpener.h"
#include "platform/symbols/Symbols.h"

#include <QFontMetrics>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace jw {

ProjectBadge::ProjectBadge(const QString& name,
                           const std::optional<QString>& urlString,
                           bool isV2,
                           bool failed,
                           QWidget* parent)
    : QWidget(parent)
    , m_name(name)
    , m_urlString(urlString)
    , m_isV2(isV2)
    , m_failed(failed)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
}

void ProjectBadge::changed()
{
    updateGeometry();
    update();
}

void ProjectBadge::setName(const QString& name)
{
    if (name == m_name)
        return;
    m_name = name;
    changed();
}

void ProjectBadge::setUrlString(const std::optional<QString>& urlString)
{
    m_urlString = urlString;
}

void ProjectBadge::setIsV2(bool isV2)
{
    if (isV2 == m_isV2)
        return;
    m_isV2 = isV2;
    changed();
}

void ProjectBadge::setFailed(bool failed)
{
    if (failed == m_failed)
        return;
    m_failed = failed;
    changed();
}

QColor ProjectBadge::badgeColor(bool isV2, bool failed)
{
    if (failed)
        return SystemColor::orange();
    return isV2 ? v2Color() : SystemColor::blue();
}

QString ProjectBadge::symbolName() const
{
    if (m_failed)
        return QStringLiteral("exclamationmark.triangle.fill");
    return m_isV2 ? QStringLiteral("sparkles") : QStringLiteral("folder.fill");
}

QString ProjectBadge::text() const
{
    return m_failed ? tr("Failed: %1").arg(m_name) : m_name;
}

QFont ProjectBadge::textFont() const
{
    QFont f = font();
    f.setPixelSize(int(kTextFontSize));
    f.setWeight(QFont::Medium);
    return f;
}

double ProjectBadge::symbolSide() const
{
    // A symbol set in a font of this size is about as tall as the font's cap height plus a bit.
    return std::round(kSymbolFontSize * 1.1);
}

int ProjectBadge::textWidth() const
{
    // Whole pixels rounded up, so the full name never measures a fraction wider than its room.
    const int advance = int(std::ceil(QFontMetricsF(textFont()).horizontalAdvance(text()))) + 1;
    return std::min(advance, kMaximumTextWidth);
}

QSize ProjectBadge::sizeHint() const
{
    const QFontMetrics fm(textFont());
    const double contentHeight = std::max<double>(fm.height(), symbolSide());
    const double w = kHorizontalPadding * 2 + symbolSide() + kSpacing + textWidth();
    const double h = kVerticalPadding * 2 + contentHeight;
    return QSize(int(std::ceil(w)), int(std::ceil(h)));
}

void ProjectBadge::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor colour = badgeColor();
    const QRectF bounds = QRectF(rect());

    QPainterPath capsule;
    capsule.addRoundedRect(bounds, bounds.height() / 2, bounds.height() / 2);
    QColor fill = colour;
    fill.setAlphaF(float(kFillOpacity));
    p.fillPath(capsule, fill);
    // Stroked inside the edge.
    const double inset = kStrokeWidth / 2;
    const QRectF strokeRect = bounds.adjusted(inset, inset, -inset, -inset);
    QColor stroke = colour;
    stroke.setAlphaF(float(kStrokeOpacity));
    p.setPen(QPen(stroke, kStrokeWidth));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(strokeRect, strokeRect.height() / 2, strokeRect.height() / 2);

    const double side = symbolSide();
    const QRectF symbolRect(kHorizontalPadding, (height() - side) / 2, side, side);
    p.drawPixmap(symbolRect.topLeft(),
                 Symbols::pixmap(symbolName(), QSize(int(side), int(side)), colour, devicePixelRatioF()));

    const QFont f = textFont();
    p.setFont(f);
    QColor textColour = Qt::white;
    textColour.setAlphaF(float(kTextOpacity));
    p.setPen(textColour);
    const double textX = symbolRect.right() + kSpacing;
    const QRectF textRect(textX,
                          kVerticalPadding,
                          width() - textX - kHorizontalPadding,
                          height() - 2 * kVerticalPadding);
    const QString shown = QFontMetrics(f).elidedText(text(), Qt::ElideRight, int(std::ceil(textRect.width())));
    p.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
}

void ProjectBadge::mousePressEvent(QMouseEvent* event)
{
    m_pressed = event->button() == Qt::LeftButton;
    event->accept();
}

void ProjectBadge::mouseReleaseEvent(QMouseEvent* event)
{
    const bool tapped = m_pressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    m_pressed = false;
    event->accept();
    if (!tapped || !m_urlString)
        return;
    if (const auto url = parseURL(*m_urlString))
        openURL(*url);
}

} // namespace jw
