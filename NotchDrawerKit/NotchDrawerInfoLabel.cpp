#include "NotchDrawerKit/NotchDrawerInfoLabel.h"

#include "NotchDrawerKit/NotchEnvironment.h"
#include "NotchDrawerKit/Spring.h"
#include "platform/symbols/Symbols.h"

#include <QPainter>
#include <QPainterPath>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace jw {
namespace {

using Clock = std::chrono::steady_clock;

constexpr CubicTimingCurve kLoadCurve{0, 0.55, 0.45, 1};
constexpr int kFrameMs = 16;

NotchDrawerInfoLabel::SharedView share(const NotchDrawerInfoLabel::ViewBuilder& builder)
{
    QWidget* widget = builder ? builder() : nullptr;
    if (!widget)
        return {};
    widget->hide();
    // The widget may sit inside a view when the last label lets go of it; deleting it then
    // takes it out of that view.
    return NotchDrawerInfoLabel::SharedView(widget, [](QWidget* w) { delete w; });
}

// Named symbols come from the shared symbols layer, which also stands in for names it has no
// drawing of.
void paintSymbol(QPainter& painter, const QString& name, const QRectF& rect, const QColor& color)
{
    const qreal dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1;
    const QPixmap pixmap = Symbols::pixmap(name, rect.size().toSize(), color, dpr);
    const QSizeF drawn = pixmap.deviceIndependentSize();
    painter.drawPixmap(QPointF(rect.center().x() - drawn.width() / 2, rect.center().y() - drawn.height() / 2), pixmap);
}

} // namespace

void NotchDrawerProgressBinding::setValue(double value)
{
    if (value == m_value)
        return;
    m_value = value;
    Q_EMIT valueChanged(value);
}

// Style

NotchDrawerInfoLabel::Style NotchDrawerInfoLabel::Style::image(QImage image)
{
    Style s;
    s.m_kind = Kind::image;
    s.m_image = std::move(image);
    return s;
}

NotchDrawerInfoLabel::Style NotchDrawerInfoLabel::Style::systemImage(QString systemName, std::optional<QColor> color)
{
    Style s;
    s.m_kind = Kind::systemImage;
    s.m_systemName = std::move(systemName);
    s.m_color = color;
    return s;
}

NotchDrawerInfoLabel::Style
NotchDrawerInfoLabel::Style::progress(Binding progress, std::optional<QColor> color, SharedView overlay)
{
    Style s;
    s.m_kind = Kind::progress;
    s.m_progress = std::move(progress);
    s.m_color = color;
    s.m_view = std::move(overlay);
    return s;
}

NotchDrawerInfoLabel::Style NotchDrawerInfoLabel::Style::customView(QUuid contentID, SharedView view)
{
    Style s;
    s.m_kind = Kind::customView;
    s.m_contentID = contentID;
    s.m_view = std::move(view);
    return s;
}

bool operator==(const NotchDrawerInfoLabel::Style& l, const NotchDrawerInfoLabel::Style& r)
{
    using Kind = NotchDrawerInfoLabel::Style::Kind;
    if (l.m_kind != r.m_kind)
        return false;
    switch (l.m_kind) {
    case Kind::image:
        return l.m_image == r.m_image;
    case Kind::systemImage:
        return l.m_systemName == r.m_systemName && l.m_color == r.m_color;
    case Kind::progress: {
        const double a = l.m_progress ? l.m_progress->value() : 0;
        const double b = r.m_progress ? r.m_progress->value() : 0;
        return a == b && l.m_color == r.m_color;
    }
    case Kind::customView:
        return l.m_contentID == r.m_contentID;
    }
    return false;
}

// Label

NotchDrawerInfoLabel::NotchDrawerInfoLabel()
    : m_id(QUuid::createUuid())
    , m_iconStyle(Style::image(QImage()))
{
}

NotchDrawerInfoLabel::NotchDrawerInfoLabel(QImage image)
    : m_id(QUuid::createUuid())
    , m_iconStyle(Style::image(std::move(image)))
{
}

NotchDrawerInfoLabel::NotchDrawerInfoLabel(QString systemName, std::optional<QColor> color)
    : m_id(QUuid::createUuid())
    , m_iconStyle(Style::systemImage(std::move(systemName), color))
{
}

NotchDrawerInfoLabel::NotchDrawerInfoLabel(Binding progress, std::optional<QColor> color, ViewBuilder overlay)
    : m_id(QUuid::createUuid())
    , m_iconStyle(Style::progress(std::move(progress), color, share(overlay)))
{
}

NotchDrawerInfoLabel::NotchDrawerInfoLabel(ViewBuilder customView)
    : m_id(QUuid::createUuid())
    , m_iconStyle(Style::customView(QUuid::createUuid(), share(customView)))
{
}

NotchDrawerInfoLabel::View* NotchDrawerInfoLabel::makeView(QWidget* parent) const
{
    return new View(*this, parent);
}

// Colours

bool NotchDrawerInfoColors::isNotch(const QWidget* widget)
{
    return EnvironmentValues::notchStyle(widget).isNotch();
}

QColor NotchDrawerInfoColors::primary(const QWidget* widget)
{
    return isNotch(widget) ? QColor(Qt::white) : widget->palette().color(QPalette::WindowText);
}

QColor NotchDrawerInfoColors::secondary(const QWidget* widget)
{
    if (isNotch(widget)) {
        QColor c(Qt::white);
        c.setAlphaF(0.5);
        return c;
    }
    return widget->palette().color(QPalette::PlaceholderText);
}

QColor NotchDrawerInfoColors::tertiary(const QWidget* widget)
{
    // The foreground at the opacity of the tertiary level.
    QColor c = primary(widget);
    c.setAlphaF(c.alphaF() * 0.26);
    return c;
}

// View

NotchDrawerInfoLabel::View::View(NotchDrawerInfoLabel label, QWidget* parent)
    : QWidget(parent)
    , m_label(std::move(label))
{
    setAttribute(Qt::WA_TranslucentBackground);
    const Style& style = m_label.iconStyle();
    if (style.kind() == Style::Kind::progress) {
        m_ring = new ProgressRing(style.progress(), style.color(), this);
        if (style.progress())
            QObject::connect(style.progress().get(), &NotchDrawerProgressBinding::valueChanged, m_ring, [this] {
                m_ring->update();
            });
    }
    adoptShared();
    placeChildren();
}

NotchDrawerInfoLabel::View::~View()
{
    // A shared widget outlives this view; the label owns it.
    const SharedView& shared = m_label.iconStyle().view();
    if (shared && shared->parentWidget() && (shared->parentWidget() == this || shared->parentWidget() == m_ring)) {
        shared->hide();
        shared->setParent(nullptr);
    }
}

void NotchDrawerInfoLabel::View::adoptShared()
{
    // One widget, possibly shown by two views of the same label (expanded and compact): the
    // view that comes on screen takes it.
    const SharedView& shared = m_label.iconStyle().view();
    if (!shared)
        return;
    QWidget* host = m_ring ? static_cast<QWidget*>(m_ring) : this;
    if (shared->parentWidget() != host) {
        shared->setParent(host);
        shared->show();
    }
    placeChildren();
}

QColor NotchDrawerInfoLabel::View::tint() const
{
    const std::optional<QColor>& color = m_label.iconStyle().color();
    return color ? *color : NotchDrawerInfoColors::primary(this);
}

QSize NotchDrawerInfoLabel::View::sizeHint() const
{
    const Style& style = m_label.iconStyle();
    if (style.kind() == Style::Kind::customView)
        return style.view() ? style.view()->sizeHint().expandedTo(QSize(0, 0)) : QSize(0, 0);
    const bool expanded = EnvironmentValues::notchSection(this) == NotchDrawerSection::expanded;
    const int side = int(expanded ? kExpandedSide : kCompactSide);
    if (style.kind() == Style::Kind::image && !style.image().isNull() && style.image().height() > 0) {
        const double aspect = double(style.image().width()) / style.image().height();
        const double inner = side - 2 * kImagePadding;
        return QSize(int(std::lround(inner * aspect + 2 * kImagePadding)), side);
    }
    return QSize(side, side);
}

void NotchDrawerInfoLabel::View::placeChildren()
{
    const Style& style = m_label.iconStyle();
    if (m_ring) {
        m_ring->setGeometry(rect().adjusted(int(kProgressPadding),
                                            int(kProgressPadding),
                                            -int(kProgressPadding),
                                            -int(kProgressPadding)));
        if (style.overlay() && style.overlay()->parentWidget() == m_ring) {
            const QSize hint = style.overlay()->sizeHint().boundedTo(m_ring->size());
            style.overlay()->setGeometry(
                QRect(QPoint((m_ring->width() - hint.width()) / 2, (m_ring->height() - hint.height()) / 2), hint));
        }
    } else if (style.kind() == Style::Kind::customView && style.view() && style.view()->parentWidget() == this) {
        style.view()->setGeometry(rect());
    }
}

void NotchDrawerInfoLabel::View::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeChildren();
}

void NotchDrawerInfoLabel::View::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    adoptShared();
}

void NotchDrawerInfoLabel::View::paintEvent(QPaintEvent*)
{
    const Style& style = m_label.iconStyle();
    if (style.kind() != Style::Kind::image && style.kind() != Style::Kind::systemImage)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF area = QRectF(rect()).adjusted(kImagePadding, kImagePadding, -kImagePadding, -kImagePadding);
    if (style.kind() == Style::Kind::systemImage) {
        paintSymbol(painter, style.systemName(), area, tint());
        return;
    }
    const QImage& image = style.image();
    if (image.isNull() || area.isEmpty())
        return;
    // Fitted to its aspect ratio, centred.
    const QSizeF size = QSizeF(image.size()).scaled(area.size(), Qt::KeepAspectRatio);
    const QRectF target(area.center().x() - size.width() / 2,
                        area.center().y() - size.height() / 2,
                        size.width(),
                        size.height());
    painter.drawImage(target, image);
}

// ProgressRing

NotchDrawerInfoLabel::ProgressRing::ProgressRing(Binding target, std::optional<QColor> color, QWidget* parent)
    : QWidget(parent)
    , m_target(std::move(target))
    , m_color(color)
    , m_frames(new QTimer(this))
{
    setAttribute(Qt::WA_TranslucentBackground);
    m_frames->setTimerType(Qt::PreciseTimer);
    m_frames->setInterval(kFrameMs);
    QObject::connect(m_frames, &QTimer::timeout, this, [this] {
        if (presentedLoad() >= 1)
            m_frames->stop();
        update();
    });
}

QColor NotchDrawerInfoLabel::ProgressRing::color() const
{
    return m_color ? *m_color : NotchDrawerInfoColors::primary(this);
}

double NotchDrawerInfoLabel::ProgressRing::thickness() const
{
    return EnvironmentValues::notchSection(this) == NotchDrawerSection::expanded ? kExpandedThickness
                                                                                 : kCompactThickness;
}

double NotchDrawerInfoLabel::ProgressRing::presentedLoad() const
{
    if (!m_isLoaded)
        return 0;
    return loadAt(std::chrono::duration<double>(Clock::now() - m_loadStart).count());
}

double NotchDrawerInfoLabel::ProgressRing::loadAt(double seconds)
{
    const double elapsed = seconds - kLoadDelay;
    if (elapsed <= 0)
        return 0;
    if (elapsed >= kLoadDuration)
        return 1;
    return kLoadCurve.progress(elapsed / kLoadDuration);
}

double NotchDrawerInfoLabel::ProgressRing::presentedFraction() const
{
    const double value = m_target ? std::clamp(m_target->value(), 0.0, 1.0) : 0;
    return value * presentedLoad();
}

void NotchDrawerInfoLabel::ProgressRing::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The model flips at once; the presentation runs the delayed sweep toward it.
    m_isLoaded = true;
    m_loadStart = Clock::now();
    m_frames->start();
}

void NotchDrawerInfoLabel::ProgressRing::showSwept()
{
    m_isLoaded = true;
    m_loadStart =
        Clock::now()
        - std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(kLoadDelay + kLoadDuration));
    m_frames->stop();
    update();
}

void NotchDrawerInfoLabel::ProgressRing::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    // Off screen it is a new ring again: the next appearance sweeps from nothing.
    m_isLoaded = false;
    m_frames->stop();
}

void NotchDrawerInfoLabel::ProgressRing::paintEvent(QPaintEvent*)
{
    const double t = thickness();
    const QRectF circle = QRectF(rect()).adjusted(t / 2, t / 2, -t / 2, -t / 2);
    if (circle.width() <= 0 || circle.height() <= 0)
        return;
    const double side = std::min(circle.width(), circle.height());
    const QRectF square(circle.center().x() - side / 2, circle.center().y() - side / 2, side, side);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    QPen track(NotchDrawerInfoColors::tertiary(this), t, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    track.setMiterLimit(10);
    painter.setPen(track);
    painter.drawEllipse(square);

    const double load = presentedLoad();
    const double fraction = presentedFraction();
    if (load <= 0 || fraction <= 0)
        return;
    // A colour's standard gradient: a touch lighter at the top, falling to the colour itself.
    const QColor base = color();
    QLinearGradient gradient(square.topLeft(), square.bottomLeft());
    gradient.setColorAt(0, base.lighter(125));
    gradient.setColorAt(1, base);
    QPen arc(QBrush(gradient), t, Qt::SolidLine, Qt::RoundCap, Qt::MiterJoin);
    arc.setMiterLimit(10);
    painter.setOpacity(load);
    painter.setPen(arc);
    // Starts at the top and runs clockwise, as a circle trimmed from 0 and turned a quarter back.
    painter.drawArc(square, 90 * 16, -int(std::lround(fraction * 360 * 16)));
}

} // namespace jw
