#include "NotchDrawerKit/NotchDrawerInfoHelperViews.h"

#include "NotchDrawerKit/NotchDrawer.h"
#include "NotchDrawerKit/ViewModifiers.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <vector>

namespace jw {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFrameMs = 16;
// A flight whose destination never comes on screen ends anyway.
constexpr double kMaxFlight = 1.5;

quint64 nextOwnNamespace()
{
    // Far from the panels' small counters, so a view's own namespace never matches a panel's.
    static std::atomic<quint64> counter{quint64(1) << 48};
    return ++counter;
}

std::vector<NotchDrawerInfoMatchedIcon*>& participants()
{
    static std::vector<NotchDrawerInfoMatchedIcon*> all;
    return all;
}

QFont headlineFont(const QWidget* widget)
{
    QFont f = widget->font();
    f.setPixelSize(13);
    f.setWeight(QFont::DemiBold);
    return f;
}

QFont caption2Font(const QWidget* widget)
{
    QFont f = widget->font();
    f.setPixelSize(11);
    f.setWeight(QFont::Normal);
    return f;
}

QRectF rectInWindow(const QWidget* widget)
{
    return QRectF(QPointF(widget->mapTo(widget->window(), QPoint(0, 0))), QSizeF(widget->size()));
}

// The icon in flight, drawn above everything else in the panel.
class FlightOverlay : public QWidget
{
public:
    // The icon is drawn as it looked where it takes off, so a caller's widget that only one view
    // can hold at a time still flies.
    FlightOverlay(QWidget* window, QRectF from, QPixmap icon, QPointer<QWidget> element, Spring spring)
        : QWidget(window)
        , m_from(from)
        , m_icon(std::move(icon))
        , m_element(std::move(element))
        , m_start(Clock::now())
        , m_frames(new QTimer(this))
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_TranslucentBackground);
        setGeometry(window->rect());
        m_progress.animateTo(1, spring, m_start);
        m_frames->setTimerType(Qt::PreciseTimer);
        m_frames->setInterval(kFrameMs);
        QObject::connect(m_frames, &QTimer::timeout, this, [this] { update(); });
        m_frames->start();
        raise();
        show();
    }

    // Landed: settled, and the destination is on screen to take over.
    bool hasLanded() const
    {
        const auto now = Clock::now();
        if (std::chrono::duration<double>(now - m_start).count() > kMaxFlight)
            return true;
        return m_progress.isAtRest(now) && m_element && m_element->parentWidget()
               && m_element->parentWidget()->isVisible();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (!m_element || m_icon.isNull())
            return;
        const double p = m_progress.value(Clock::now());
        const QRectF to = rectInWindow(m_element);
        const QRectF at(m_from.left() + (to.left() - m_from.left()) * p,
                        m_from.top() + (to.top() - m_from.top()) * p,
                        std::max(0.0, m_from.width() + (to.width() - m_from.width()) * p),
                        std::max(0.0, m_from.height() + (to.height() - m_from.height()) * p));
        QPainter painter(this);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawPixmap(at, m_icon, QRectF(QPointF(0, 0), m_icon.deviceIndependentSize()));
    }

private:
    QRectF m_from;
    QPixmap m_icon;
    QPointer<QWidget> m_element;
    Clock::time_point m_start;
    AnimatedValue m_progress{0};
    QTimer* m_frames;
};

} // namespace

// NotchDrawerInfoMatchedIcon

NotchDrawerInfoMatchedIcon::NotchDrawerInfoMatchedIcon(QWidget* host,
                                                       NotchDrawerInfo* info,
                                                       NotchDrawerState sourceState)
    : m_host(host)
    , m_info(info)
    , m_sourceState(sourceState)
    , m_ownNamespace(nextOwnNamespace())
{
    participants().push_back(this);
}

NotchDrawerInfoMatchedIcon::~NotchDrawerInfoMatchedIcon()
{
    std::erase(participants(), this);
    QObject::disconnect(m_flightGone);
    delete m_flight.data();
}

void NotchDrawerInfoMatchedIcon::attach(NotchDrawer* notch)
{
    m_lastState = notch->state();
    QObject::connect(notch, &NotchDrawer::stateChanged, m_host, [this](NotchDrawerState state) {
        onStateChanged(state);
    });
}

void NotchDrawerInfoMatchedIcon::setElement(QWidget* element)
{
    if (m_flight)
        endFlight();
    m_element = element;
}

bool NotchDrawerInfoMatchedIcon::isSource() const
{
    const NotchDrawer* notch = m_info ? m_info->internalNotchDrawer() : nullptr;
    return notch && notch->state() == m_sourceState && m_info->shouldSkipHideWhenConverting();
}

quint64 NotchDrawerInfoMatchedIcon::namespaceKey() const
{
    const NotchDrawer* notch = m_info ? m_info->internalNotchDrawer() : nullptr;
    return notch && notch->namespaceId() != 0 ? notch->namespaceId() : m_ownNamespace;
}

void NotchDrawerInfoMatchedIcon::onStateChanged(NotchDrawerState state)
{
    // Runs before the notch view lays out and snapshots its parts for their transitions, so
    // an icon hidden here is missing from those snapshots.
    const NotchDrawerState last = m_lastState;
    m_lastState = state;
    // A flight overtaken by another change of state is over: nothing may keep flying while the
    // notch hides or turns back.
    if (m_flight)
        endFlight();
    if (!m_element || !m_info)
        return;
    const bool skip = m_info->shouldSkipHideWhenConverting();
    const bool straightAcross = skip && last != NotchDrawerState::hidden && state != NotchDrawerState::hidden;
    if (straightAcross && state == m_sourceState) {
        for (const NotchDrawerInfoMatchedIcon* other : participants()) {
            if (other != this && other->m_element && other->namespaceKey() == namespaceKey()
                && other->m_sourceState == last && other->m_element->window() == m_element->window()
                && m_element->window() != m_element) {
                startFlight(*other);
                return;
            }
        }
    }
    if (straightAcross && last == m_sourceState) {
        // The other end flies the icon away from here.
        m_element->hide();
        return;
    }
    m_element->show();
}

void NotchDrawerInfoMatchedIcon::startFlight(const NotchDrawerInfoMatchedIcon& from)
{
    if (m_flight)
        endFlight();
    m_element->hide();
    const NotchDrawer* notch = m_info->internalNotchDrawer();
    auto* overlay = new FlightOverlay(m_element->window(),
                                      rectInWindow(from.m_element),
                                      TransitionPainter::snapshot(from.m_element),
                                      m_element,
                                      notch->stateAnimation());
    m_flight = overlay;
    // The overlay belongs to the panel, which a screen change renews before the icon lands.
    m_flightGone = QObject::connect(overlay, &QObject::destroyed, m_host, [this] {
        m_flight = nullptr;
        land();
    });
    auto* check = new QTimer(overlay);
    check->setInterval(kFrameMs);
    QObject::connect(check, &QTimer::timeout, m_host, [this, overlay] {
        if (m_flight == overlay && overlay->hasLanded())
            endFlight();
    });
    check->start();
}

void NotchDrawerInfoMatchedIcon::endFlight()
{
    QObject::disconnect(m_flightGone);
    if (m_flight) {
        m_flight->hide();
        m_flight->deleteLater();
        m_flight = nullptr;
    }
    land();
}

void NotchDrawerInfoMatchedIcon::land()
{
    if (m_element && isSource()) {
        m_element->show();
        // The ring has no meta-object of its own, so findChildren cannot tell it apart.
        for (QWidget* child : m_element->findChildren<QWidget*>())
            if (auto* ring = dynamic_cast<NotchDrawerInfoLabel::ProgressRing*>(child))
                ring->showSwept();
    }
}

// InfoView

NotchDrawerInfo::InfoView::InfoView(NotchDrawerInfo* notchDrawer, QWidget* parent)
    : QWidget(parent)
    , m_notchDrawer(notchDrawer)
    , m_matched(this, notchDrawer, NotchDrawerState::expanded)
{
    setAttribute(Qt::WA_TranslucentBackground);
    auto relayout = [this] {
        updateGeometry();
        resizeEvent(nullptr);
        update();
    };
    connect(notchDrawer, &NotchDrawerInfo::iconChanged, this, [this, relayout] {
        rebuildIcon();
        relayout();
    });
    for (auto signal : {&NotchDrawerInfo::titleChanged, &NotchDrawerInfo::descriptionChanged})
        connect(notchDrawer, signal, this, relayout);
    connect(notchDrawer, &NotchDrawerInfo::textColorChanged, this, qOverload<>(&QWidget::update));
    rebuildIcon();
}

NotchDrawerInfo::InfoView::~InfoView() = default;

void NotchDrawerInfo::InfoView::rebuildIcon()
{
    const std::optional<Label>& icon = m_notchDrawer ? m_notchDrawer->icon() : std::nullopt;
    // A label keeps its view for as long as it stays the icon.
    if (m_icon && icon && m_icon->labelId() == icon->id())
        return;
    delete m_icon;
    m_icon = icon ? icon->makeView(this) : nullptr;
    if (m_icon)
        m_icon->show();
    m_matched.setElement(m_icon);
}

void NotchDrawerInfo::InfoView::texts(QString* title, QString* description) const
{
    if (!m_notchDrawer)
        return;
    // Keys are looked up at display time, so a translator installed later still applies.
    *title = QCoreApplication::translate("NotchDrawerInfo", m_notchDrawer->title().toUtf8().constData());
    if (m_notchDrawer->description())
        *description =
            QCoreApplication::translate("NotchDrawerInfo", m_notchDrawer->description()->toUtf8().constData());
}

QColor NotchDrawerInfo::InfoView::titleColor() const
{
    if (m_notchDrawer && m_notchDrawer->textColor())
        return *m_notchDrawer->textColor();
    return NotchDrawerInfoColors::primary(this);
}

QColor NotchDrawerInfo::InfoView::descriptionColor() const
{
    if (m_notchDrawer && m_notchDrawer->textColor()) {
        QColor c = *m_notchDrawer->textColor();
        c.setAlphaF(c.alphaF() * 0.5);
        return c;
    }
    return NotchDrawerInfoColors::secondary(this);
}

QSizeF NotchDrawerInfo::InfoView::titleSize() const
{
    QString title, description;
    texts(&title, &description);
    const QFontMetricsF metrics(headlineFont(this));
    return QSizeF(metrics.horizontalAdvance(title), metrics.height());
}

QSizeF NotchDrawerInfo::InfoView::descriptionSize() const
{
    QString title, description;
    texts(&title, &description);
    if (!m_notchDrawer || !m_notchDrawer->description())
        return {};
    const QFontMetricsF metrics(caption2Font(this));
    return QSizeF(metrics.horizontalAdvance(description), metrics.height());
}

double NotchDrawerInfo::InfoView::textLeft() const
{
    return m_icon ? m_icon->sizeHint().width() + kSpacing : 0;
}

double NotchDrawerInfo::InfoView::textRoom() const
{
    return std::max(0.0, width() - textLeft());
}

QRectF NotchDrawerInfo::InfoView::titleRect() const
{
    const QSizeF title = titleSize();
    const QSizeF description = descriptionSize();
    const bool hasDescription = m_notchDrawer && m_notchDrawer->description();
    const double block = title.height() + (hasDescription ? kTextSpacing + description.height() : 0);
    return QRectF(textLeft(), (kHeight - block) / 2, std::min(title.width(), textRoom()), title.height());
}

QRectF NotchDrawerInfo::InfoView::descriptionRect() const
{
    if (!m_notchDrawer || !m_notchDrawer->description())
        return {};
    const QRectF title = titleRect();
    const QSizeF description = descriptionSize();
    return QRectF(textLeft(),
                  title.bottom() + kTextSpacing,
                  std::min(description.width(), textRoom()),
                  description.height());
}

QSize NotchDrawerInfo::InfoView::sizeHint() const
{
    const double texts = std::max(titleSize().width(), descriptionSize().width());
    return QSize(int(std::ceil(textLeft() + texts)), int(kHeight));
}

void NotchDrawerInfo::InfoView::resizeEvent(QResizeEvent*)
{
    if (!m_icon)
        return;
    const QSize hint = m_icon->sizeHint();
    m_icon->setGeometry(0, (int(kHeight) - hint.height()) / 2, hint.width(), hint.height());
}

void NotchDrawerInfo::InfoView::paintEvent(QPaintEvent*)
{
    QString title, description;
    texts(&title, &description);
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    // A text longer than the row's room ends in an ellipsis rather than being cut off.
    auto draw = [&](const QFont& font, const QColor& color, const QRectF& rect, const QString& text) {
        painter.setFont(font);
        painter.setPen(color);
        const QString shown = QFontMetricsF(font).elidedText(text, Qt::ElideRight, rect.width(), Qt::TextSingleLine);
        painter.drawText(rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
    };
    draw(headlineFont(this), titleColor(), titleRect(), title);
    if (m_notchDrawer && m_notchDrawer->description())
        draw(caption2Font(this), descriptionColor(), descriptionRect(), description);
}

// Compact sides

NotchDrawerInfoCompactSide::NotchDrawerInfoCompactSide(NotchDrawerInfo* notchDrawer, bool leading, QWidget* parent)
    : QWidget(parent)
    , m_notchDrawer(notchDrawer)
    , m_leading(leading)
    , m_frames(new QTimer(this))
{
    setAttribute(Qt::WA_TranslucentBackground);
    m_frames->setTimerType(Qt::PreciseTimer);
    m_frames->setInterval(kFrameMs);
    connect(m_frames, &QTimer::timeout, this, [this] {
        if (!step())
            m_frames->stop();
    });
    connect(notchDrawer,
            leading ? &NotchDrawerInfo::compactLeadingChanged : &NotchDrawerInfo::compactTrailingChanged,
            this,
            [this] { rebuild(); });
    rebuild();
}

NotchDrawerInfoCompactSide::~NotchDrawerInfoCompactSide() = default;

bool NotchDrawerInfoCompactSide::isTransitioning() const
{
    return m_frames->isActive();
}

void NotchDrawerInfoCompactSide::rebuild()
{
    if (!m_notchDrawer)
        return;
    const std::optional<NotchDrawerInfo::Label>& label =
        m_leading ? m_notchDrawer->compactLeading() : m_notchDrawer->compactTrailing();
    // The same label (by identity) is the same view: nothing to transition.
    if (m_current && label && m_current->labelId() == label->id())
        return;
    const bool animate = isVisible();
    const auto now = Clock::now();
    if (m_current) {
        if (animate) {
            m_outgoing = TransitionPainter::snapshot(m_current);
            m_outgoingRect = m_current->geometry();
            m_out.setImmediately(1);
            m_out.animateTo(0, kReplaceSpring, now);
        }
        delete m_current;
        m_current = nullptr;
    }
    if (label) {
        m_current = label->makeView(this);
        m_current->setGeometry(rect());
        if (animate) {
            // The new label is on screen from the first frame, drawn through the transition.
            m_current->setGraphicsEffect(new TransitionEffect(BlurModifier{kBlur}));
            m_in.setImmediately(0);
            m_in.animateTo(1, kReplaceSpring, now);
        } else {
            m_in.setImmediately(1);
        }
        m_current->show();
    }
    labelViewChanged(m_current);
    updateGeometry();
    if (animate) {
        m_frames->start();
        step();
    }
    update();
}

bool NotchDrawerInfoCompactSide::step()
{
    const auto now = Clock::now();
    const bool inMoving = !m_in.isAtRest(now);
    const bool outMoving = !m_out.isAtRest(now);
    if (!outMoving)
        m_outgoing = QPixmap();
    if (m_current) {
        if (auto* effect = qobject_cast<TransitionEffect*>(m_current->graphicsEffect())) {
            if (inMoving) {
                const ScaleModifier scale{kScale, kScale, UnitPoint::center()};
                effect->setFrame(
                    TransitionFrame::at(std::clamp(m_in.value(now), 0.0, 1.0), scale, BlurModifier{kBlur}));
            } else {
                m_current->setGraphicsEffect(nullptr);
            }
        }
    }
    update();
    return inMoving || outMoving;
}

QSize NotchDrawerInfoCompactSide::sizeHint() const
{
    return m_current ? m_current->sizeHint() : QSize(0, 0);
}

void NotchDrawerInfoCompactSide::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_current)
        m_current->setGeometry(rect());
}

void NotchDrawerInfoCompactSide::paintEvent(QPaintEvent*)
{
    const auto now = Clock::now();
    QPainter painter(this);
    const ScaleModifier scale{kScale, kScale, UnitPoint::center()};
    // The old label is gone; a snapshot of it plays its removal.
    if (!m_outgoing.isNull()) {
        const TransitionFrame frame =
            TransitionFrame::at(std::clamp(m_out.value(now), 0.0, 1.0), scale, BlurModifier{kBlur});
        TransitionPainter::paint(painter, m_outgoing, m_outgoingRect, frame.opacity, frame.scale, frame.blur);
    }
}

NotchDrawerInfo::CompactLeadingView::CompactLeadingView(NotchDrawerInfo* notchDrawer, QWidget* parent)
    : NotchDrawerInfoCompactSide(notchDrawer, true, parent)
    , m_matched(this, notchDrawer, NotchDrawerState::compact)
{
    m_matched.setElement(labelView());
}

NotchDrawerInfo::CompactTrailingView::CompactTrailingView(NotchDrawerInfo* notchDrawer, QWidget* parent)
    : NotchDrawerInfoCompactSide(notchDrawer, false, parent)
{
}

} // namespace jw
