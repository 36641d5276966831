#include "NotchDrawerKit/NotchView.h"

#include "NotchDrawerKit/FrameAnimator.h"
#include "NotchDrawerKit/NotchContentView.h"
#include "NotchDrawerKit/NotchDrawer.h"
#include "NotchDrawerKit/NotchEnvironment.h"
#include "NotchDrawerKit/NotchShape.h"

#include <QChildEvent>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace jw {
namespace {

using Clock = std::chrono::steady_clock;

constexpr QPalette::ColorRole kForegroundRoles[] = {QPalette::WindowText,
                                                    QPalette::Text,
                                                    QPalette::ButtonText,
                                                    QPalette::BrightText};
constexpr const char* kGivenRoles = "_jw_notchForegroundRoles";
// The notch whose default a content widget has: a panel closing after the contents moved on to
// the next one must not take the default back.
constexpr const char* kGivenBy = "_jw_notchForegroundBy";

// Everything inside the black notch defaults to white. The default goes through the palette,
// so that a caller's palette and a caller's style sheet both win over it. A widget with a style
// sheet (its own or an ancestor's) takes no palette from its parents, though: it is given the
// default on its own palette, in the roles its caller left alone, beneath its style sheet, and
// the default is taken back when the contents leave the notch.
class WhiteForeground : public QObject
{
public:
    explicit WhiteForeground(QWidget* view)
        : QObject(view)
    {
        QPalette palette = view->palette();
        for (auto role : kForegroundRoles)
            palette.setColor(role, Qt::white);
        view->setPalette(palette);
    }

    ~WhiteForeground() override
    {
        for (const QPointer<QWidget>& widget : std::as_const(m_watched)) {
            if (!widget)
                continue;
            widget->removeEventFilter(this);
            if (owns(widget)) {
                widget->setProperty(kGivenBy, QVariant());
                apply(widget, false);
            }
        }
    }

    void watch(QWidget* widget)
    {
        // A notch that stays up while its contents come and go would otherwise only grow the list.
        m_watched.removeAll(nullptr);
        if (!widget || m_watched.contains(widget))
            return;
        m_watched.append(widget);
        widget->setProperty(kGivenBy, QVariant::fromValue(quintptr(this)));
        widget->installEventFilter(this);
        for (QObject* child : widget->children())
            watch(qobject_cast<QWidget*>(child));
        apply(widget, true);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* widget = static_cast<QWidget*>(watched);
        if (!owns(widget))
            return false;
        switch (event->type()) {
        case QEvent::ChildAdded:
            // A new child is not whole yet; one moved in is looked at after the move.
            if (auto* child = qobject_cast<QWidget*>(static_cast<QChildEvent*>(event)->child()))
                QTimer::singleShot(0, this, [this, child = QPointer<QWidget>(child)] {
                    // By now the child may have moved on, to the contents of a newer notch even.
                    if (child && child->parentWidget() && owns(child->parentWidget()))
                        watch(child);
                });
            break;
        case QEvent::ChildRemoved:
            if (auto* child = qobject_cast<QWidget*>(static_cast<QChildEvent*>(event)->child()))
                release(child);
            break;
        case QEvent::Polish:
            // Not polished yet: the style sheet goes over what is set now.
            if (widget->testAttribute(Qt::WA_StyleSheet))
                give(widget, true);
            break;
        case QEvent::StyleChange:
            // A style sheet set or changed on a polished widget.
            apply(widget, true);
            break;
        default:
            break;
        }
        return false;
    }

private:
    // Takes the default back from a widget leaving the contents, and from its descendants.
    void release(QWidget* widget)
    {
        if (!owns(widget))
            return;
        m_watched.removeAll(widget);
        widget->removeEventFilter(this);
        widget->setProperty(kGivenBy, QVariant());
        for (QObject* child : widget->children())
            if (auto* w = qobject_cast<QWidget*>(child))
                release(w);
        apply(widget, false);
    }

    bool owns(const QWidget* widget) const { return widget->property(kGivenBy).value<quintptr>() == quintptr(this); }

    // Gives the white default to a widget with a style sheet (or takes it back) beneath the
    // style sheet, which a polished widget has applied already.
    static void apply(QWidget* widget, bool white)
    {
        const bool styled = widget->testAttribute(Qt::WA_StyleSheet);
        if (!(white && styled) && !widget->property(kGivenRoles).isValid())
            return;
        const bool polished = styled && widget->testAttribute(Qt::WA_WState_Polished);
        QStyle* style = widget->style();
        if (polished)
            style->unpolish(widget);
        give(widget, white && styled);
        if (polished)
            style->polish(widget);
    }

    // Gives the white default in the roles the caller has not set, or takes it back. A given
    // role that no longer holds white is the caller's now.
    static void give(QWidget* widget, bool white)
    {
        const QList<int> given = widget->property(kGivenRoles).value<QList<int>>();
        const QPalette current = widget->palette();
        QPalette palette;
        QList<int> giving;
        for (int g = 0; g < QPalette::NColorGroups; ++g)
            for (int r = 0; r < QPalette::NColorRoles; ++r) {
                const auto group = QPalette::ColorGroup(g);
                const auto role = QPalette::ColorRole(r);
                const QBrush& brush = current.brush(group, role);
                const bool ours = given.contains(r) && brush == QBrush(Qt::white);
                if (current.isBrushSet(group, role) && !ours)
                    palette.setBrush(group, role, brush);
            }
        if (white) {
            for (auto role : kForegroundRoles)
                if (!palette.isBrushSet(QPalette::Active, role)) {
                    palette.setColor(role, Qt::white);
                    giving.append(role);
                }
        }
        if (giving.isEmpty() && given.isEmpty())
            return;
        widget->setProperty(kGivenRoles, giving.isEmpty() ? QVariant() : QVariant::fromValue(giving));
        widget->setPalette(palette);
    }

    QList<QPointer<QWidget>> m_watched;
};

// The shape's rectangle with the straight sides of its body (the top radius in from each edge)
// on whole device pixels, where they would otherwise be soft columns of half-covered pixels. A
// side half-way between two pixels goes outward, so a shape centred on a whole or half pixel
// stays centred there.
QRectF withSharpSides(const QRectF& rect, double topRadius, double devicePixelRatio)
{
    const double left = std::ceil((rect.left() + topRadius) * devicePixelRatio - 0.5) / devicePixelRatio - topRadius;
    const double right = std::floor((rect.right() - topRadius) * devicePixelRatio + 0.5) / devicePixelRatio + topRadius;
    return QRectF(left, rect.top(), right - left, rect.height());
}

} // namespace

NotchView::NotchView(NotchDrawer* drawer, FrameAnimator* animator, QWidget* parent)
    : NotchSurface(parent)
    , m_drawer(drawer)
    , m_animator(animator)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_TranslucentBackground);
    auto* foreground = new WhiteForeground(this);

    adopt(m_leading, drawer->compactLeadingContent(), ScaleModifier{0, 1, UnitPoint::trailing()});
    adopt(m_trailing, drawer->compactTrailingContent(), ScaleModifier{0, 1, UnitPoint::leading()});
    adopt(m_expanded, drawer->expandedContent(), ScaleModifier{1, 0.6, UnitPoint::top()});
    for (const Element* e : {&m_leading, &m_trailing, &m_expanded})
        foreground->watch(e->content);
    EnvironmentValues::setNotchSection(m_leading.box, NotchDrawerSection::compactLeading);
    EnvironmentValues::setNotchSection(m_trailing.box, NotchDrawerSection::compactTrailing);

    connect(drawer, &NotchDrawer::stateChanged, this, [this] {
        measure();
        relayout(m_drawer->stateAnimation(), true);
    });
    connect(drawer, &NotchDrawer::isHoveringChanged, this, [this] { relayout(NotchContentView::kHoverSpring, true); });
    connect(drawer, &NotchDrawer::notchSizeChanged, this, [this] { relayout({}, false); });
    connect(drawer, &NotchDrawer::menubarHeightChanged, this, [this] { relayout({}, false); });
    connect(drawer, &NotchDrawer::disableCompactLeadingChanged, this, [this](bool disabled) {
        if (disabled)
            m_compactLeadingWidth = 0;
        measure();
        relayout(kWidthSpring, true);
    });
    connect(drawer, &NotchDrawer::disableCompactTrailingChanged, this, [this](bool disabled) {
        if (disabled)
            m_compactTrailingWidth = 0;
        measure();
        relayout(kWidthSpring, true);
    });

    measure();
    relayout({}, false);
}

NotchView::~NotchView()
{
    // The contents belong to the notch object and outlive this view.
    for (Element* e : {&m_leading, &m_trailing, &m_expanded}) {
        if (e->content && e->content->parentWidget() == e->box) {
            e->content->hide();
            e->content->setParent(nullptr);
        }
    }
}

void NotchView::adopt(Element& element, QWidget* content, ScaleModifier activeScale)
{
    element.box = new QWidget(this);
    element.box->hide();
    element.box->installEventFilter(this);
    element.content = content;
    element.activeScale = activeScale;
    if (content) {
        content->setParent(element.box);
        content->show();
    }
}

NotchLayout::Input NotchView::layoutInput() const
{
    NotchLayout::Input in;
    if (!m_drawer)
        return in;
    in.state = m_drawer->state();
    in.notchSize = m_drawer->notchSize();
    in.menubarHeight = m_drawer->menubarHeight();
    in.storedStyle = m_drawer->style();
    in.isHovering = m_drawer->isHovering();
    in.disableCompactLeading = m_drawer->disableCompactLeading();
    in.disableCompactTrailing = m_drawer->disableCompactTrailing();
    in.compactLeadingWidth = m_compactLeadingWidth;
    in.compactTrailingWidth = m_compactTrailingWidth;
    in.compactLeadingContent = NotchSurface::idealSize(m_leading.content);
    in.compactTrailingContent = NotchSurface::idealSize(m_trailing.content);
    in.panelSize = size();
    in.expandedContent =
        NotchSurface::idealSize(m_expanded.content, NotchLayout::expandedContentRoom(in.storedStyle, width()));
    return in;
}

NotchLayout NotchView::targetLayout() const
{
    return NotchLayout::compute(layoutInput());
}

void NotchView::measure()
{
    // Widths are taken only while a side is on screen; leaving compact keeps the last ones.
    const NotchLayout layout = targetLayout();
    if (layout.showsLeading)
        m_compactLeadingWidth = layout.leadingBox.width();
    if (layout.showsTrailing)
        m_compactTrailingWidth = layout.trailingBox.width();
}

void NotchView::relayout(Spring spring, bool animate)
{
    if (!m_drawer)
        return;
    const auto now = Clock::now();
    const NotchLayout layout = targetLayout();
    const double panelWidth = width();
    const double n = m_drawer->notchSize().width();
    const double h = m_drawer->notchSize().height();

    auto set = [&](AnimatedValue& value, double target) {
        if (animate)
            value.retarget(target, spring, now);
        else
            value.setImmediately(target);
    };
    set(m_width, layout.size.width());
    set(m_height, layout.size.height());
    set(m_xOffset, layout.compactXOffset);
    set(m_maskTop, layout.maskTopRadius);
    set(m_maskBottom, layout.maskBottomRadius);

    placeElement(m_leading,
                 layout.showsLeading,
                 layout.leadingRect(panelWidth, n),
                 QRectF(QPointF(NotchLayout::kSideOuterInset, NotchLayout::kSideTopInset),
                        NotchSurface::idealSize(m_leading.content)),
                 spring,
                 animate,
                 now);
    placeElement(m_trailing,
                 layout.showsTrailing,
                 layout.trailingRect(panelWidth, n),
                 QRectF(QPointF(0, NotchLayout::kSideTopInset), NotchSurface::idealSize(m_trailing.content)),
                 spring,
                 animate,
                 now);
    const QSizeF expandedContent = layout.expandedContentSize;
    // The expanded transition scales the content alone about its top, not its insets.
    const QRectF block = layout.expandedRect(panelWidth);
    const QRectF content(block.left() + (block.width() - expandedContent.width()) / 2,
                         h,
                         expandedContent.width(),
                         expandedContent.height());
    placeElement(m_expanded,
                 layout.showsExpanded,
                 content,
                 QRectF(QPointF(0, 0), expandedContent),
                 spring,
                 animate,
                 now);

    step(now);
    if (m_animator)
        m_animator->wake();
}

void NotchView::placeElement(Element& e,
                             bool shown,
                             const QRectF& rect,
                             const QRectF& contentRect,
                             Spring spring,
                             bool animate,
                             Clock::time_point now)
{
    e.box->setGeometry(rect.toAlignedRect());
    if (e.content && e.content->parentWidget() == e.box)
        e.content->setGeometry(contentRect.toAlignedRect());
    if (shown == e.shown)
        return;
    e.shown = shown;
    if (animate)
        e.presence.animateTo(shown ? 1 : 0, spring, now);
    else
        e.presence.setImmediately(shown ? 1 : 0);
}

bool NotchView::step(Clock::time_point now)
{
    bool moving = false;
    for (AnimatedValue* v : {&m_width, &m_height, &m_xOffset, &m_maskTop, &m_maskBottom})
        moving = moving || !v->isAtRest(now);
    const double w = m_width.value(now);
    const double h = m_height.value(now);
    m_presentedRect = QRectF((width() - w) / 2 + m_xOffset.value(now), 0, w, h);
    const double top = std::max(0.0, m_maskTop.value(now));
    m_shape = NotchShape{top, std::max(0.0, m_maskBottom.value(now))}.path(
        withSharpSides(m_presentedRect.adjusted(0.5, 0, -0.5, 0), top, devicePixelRatioF()));
    for (Element* e : {&m_leading, &m_trailing, &m_expanded})
        moving = present(*e, now) || moving;
    update();
    return moving;
}

bool NotchView::present(Element& e, Clock::time_point now)
{
    const QPainterPath clip = m_shape.translated(-QPointF(e.box->pos()));
    if (!e.presence.isAtRest(now)) {
        // On screen from the first frame of an insertion to the last of a removal.
        e.box->clearMask();
        auto* effect = qobject_cast<TransitionEffect*>(e.box->graphicsEffect());
        if (!effect) {
            effect = new TransitionEffect(BlurModifier{kTransitionBlur});
            effect->setBackdrop(Qt::black);
            e.box->setGraphicsEffect(effect);
        }
        const double progress = std::clamp(e.presence.value(now), 0.0, 1.0);
        effect->setFrame(TransitionFrame::at(progress, e.activeScale, BlurModifier{kTransitionBlur}), clip);
        // Contents on their way out are still drawn, but no longer take clicks.
        e.box->setAttribute(Qt::WA_TransparentForMouseEvents, !e.shown);
        e.box->show();
        return true;
    }
    if (e.box->graphicsEffect())
        e.box->setGraphicsEffect(nullptr);
    e.box->setAttribute(Qt::WA_TransparentForMouseEvents, false);
    e.box->setVisible(e.shown);
    if (!e.shown)
        return false;
    // At rest a mask clips the live widgets, and only where the shape does not cover them.
    if (clip.contains(QRectF(e.box->rect()))) {
        e.box->clearMask();
        return false;
    }
    QRegion region(clip.toFillPolygon().toPolygon());
    // An empty mask would mean none at all; a pixel outside the box hides everything instead.
    if (region.isEmpty())
        region = QRegion(-1, -1, 1, 1);
    if (e.box->mask() != region)
        e.box->setMask(region);
    return false;
}

void NotchView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(m_shape, Qt::black);
}

void NotchView::resizeEvent(QResizeEvent* event)
{
    NotchSurface::resizeEvent(event);
    relayout({}, false);
}

void NotchView::enterEvent(QEnterEvent* event)
{
    updateHover(event->position());
}

void NotchView::leaveEvent(QEvent*)
{
    if (m_drawer)
        m_drawer->setHovering(false);
}

void NotchView::mouseMoveEvent(QMouseEvent* event)
{
    updateHover(event->position());
}

void NotchView::updateHover(QPointF position)
{
    if (m_drawer)
        m_drawer->setHovering(m_presentedRect.contains(position));
}

bool NotchView::eventFilter(QObject* watched, QEvent* event)
{
    // A content's ideal size changed: measure again after the current event.
    if (event->type() == QEvent::LayoutRequest && !m_relayoutPending) {
        m_relayoutPending = true;
        QTimer::singleShot(0, this, [this] {
            m_relayoutPending = false;
            const double leading = m_compactLeadingWidth;
            const double trailing = m_compactTrailingWidth;
            measure();
            const bool sidesMoved = leading != m_compactLeadingWidth || trailing != m_compactTrailingWidth;
            relayout(sidesMoved || !m_drawer ? kWidthSpring : m_drawer->stateAnimation(), true);
        });
    }
    return NotchSurface::eventFilter(watched, event);
}

} // namespace jw
