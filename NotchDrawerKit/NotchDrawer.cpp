#include "NotchDrawerKit/NotchDrawer.h"

#include "NotchDrawerKit/NotchContentView.h"
#include "NotchDrawerKit/NotchDrawerPanel.h"
#include "NotchDrawerKit/NotchGeometry.h"
#include "platform/Sleep.h"
#include "platform/TaskStart.h"
#include "platform/haptics/HapticFeedback.h"
#include "platform/screen/ScreenChangeObserver.h"
#include "platform/screen/ScreenGeometry.h"

#include <QCoroFuture>
#include <QFuture>
#include <QGuiApplication>
#include <QPromise>
#include <QScreen>
#include <QWidget>

#include <utility>

namespace jw {
namespace {

constexpr double kShowPause = 0.4;
constexpr double kHideThenShowPause = 0.25;
constexpr double kHeldHideRetry = 0.1;
constexpr double kClosePause = 0.4;

QWidget* build(const NotchDrawer::ContentFactory& factory)
{
    QWidget* widget = factory ? factory() : nullptr;
    return widget ? widget : new QWidget;
}

} // namespace

NotchDrawer::NotchDrawer(NotchDrawerHoverBehavior hoverBehavior,
                         NotchDrawerStyle style,
                         ContentFactory expanded,
                         ContentFactory compactLeading,
                         ContentFactory compactTrailing,
                         QObject* parent)
    : QObject(parent)
    , m_style(style)
    , m_hoverBehavior(hoverBehavior)
{
    m_expandedContent = build(expanded);
    m_compactLeadingContent = build(compactLeading);
    m_compactTrailingContent = build(compactTrailing);
    for (QWidget* content : {m_expandedContent, m_compactLeadingContent, m_compactTrailingContent}) {
        content->hide();
        content->setParent(nullptr);
    }
    startScreenObserver();
}

NotchDrawer::NotchDrawer(NotchDrawerHoverBehavior hoverBehavior,
                         NotchDrawerStyle style,
                         ContentFactory expanded,
                         QObject* parent)
    : NotchDrawer(hoverBehavior, style, std::move(expanded), nullptr, nullptr, parent)
{
    setDisableCompactLeading(true);
    setDisableCompactTrailing(true);
}

NotchDrawerPanel* NotchDrawer::panel() const
{
    return m_panel.data();
}

NotchDrawer::~NotchDrawer()
{
    *m_alive = false;
    // Ends the pending close now rather than leaving its timer behind.
    if (m_closePanelToken)
        m_closePanelToken->cancel();
    // No pointer will leave a notch that is gone: a held hide ends here.
    if (m_heldHide && m_heldHide->completion)
        m_heldHide->completion();
    takeContentsBack();
    // The object may be released from a handler running inside its panel or a content (a
    // button in the expanded view): both go at the next turn of the event loop.
    if (m_panel) {
        m_panel->hide();
        m_panel->deleteLater();
    }
    for (QWidget* content : {m_expandedContent, m_compactLeadingContent, m_compactTrailingContent})
        content->deleteLater();
}

void NotchDrawer::setDisableCompactLeading(bool disable)
{
    if (disable == m_disableCompactLeading)
        return;
    m_disableCompactLeading = disable;
    Q_EMIT disableCompactLeadingChanged(disable);
}

void NotchDrawer::setDisableCompactTrailing(bool disable)
{
    if (disable == m_disableCompactTrailing)
        return;
    m_disableCompactTrailing = disable;
    Q_EMIT disableCompactTrailingChanged(disable);
}

void NotchDrawer::setNamespaceId(quint64 id)
{
    if (id == m_namespaceId)
        return;
    m_namespaceId = id;
    Q_EMIT namespaceIdChanged(id);
}

void NotchDrawer::setState(NotchDrawerState state, Spring spring)
{
    m_stateAnimation = spring;
    if (state == m_state)
        return;
    m_state = state;
    Q_EMIT stateChanged(state);
}

void NotchDrawer::setIsHovering(bool hovering)
{
    if (hovering == m_isHovering)
        return;
    m_isHovering = hovering;
    Q_EMIT isHoveringChanged(hovering);
}

QCoro::Task<> NotchDrawer::expand(QScreen* screen)
{
    return expand(screen, false);
}

QCoro::Task<> NotchDrawer::compact(QScreen* screen)
{
    return compact(screen, false);
}

QCoro::Task<> NotchDrawer::expand(QScreen* screen, bool skipHide)
{
    if (m_state == NotchDrawerState::expanded) {
        // Nothing to animate, but what earlier calls left pending must not move it away.
        beginCall();
        co_return;
    }
    co_await showState(screen, NotchDrawerState::expanded, skipHide);
}

QCoro::Task<> NotchDrawer::compact(QScreen* screen, bool skipHide)
{
    if (m_state == NotchDrawerState::compact) {
        beginCall();
        co_return;
    }
    // A card has no compact form, and a notch without sides has nothing to show.
    if (resolvedStyle(screen).isFloating() || (m_disableCompactLeading && m_disableCompactTrailing)) {
        co_await hide();
        co_return;
    }
    co_await showState(screen, NotchDrawerState::compact, skipHide);
}

QCoro::Task<> NotchDrawer::showState(QScreen* screen, NotchDrawerState target, bool skipHide)
{
    // Cancelling the close resumes the hide's caller here, before this call has begun: a hide
    // that caller starts at once is overtaken by this call too, rather than closing its panel.
    const Guard g = guard();
    const bool resuming = std::exchange(m_resumingOvertakenHide, true);
    cancelPendingClose();
    // That caller may also have released the notch.
    if (!g.get())
        co_return;
    m_resumingOvertakenHide = resuming;
    if (needsNewPanel(screen))
        createPanel(screen);
    const quint64 call = beginCall();
    startTask([g, target, skipHide, call] { return animateTo(g, target, skipHide, call); });
    co_await sleepFor(seconds(kShowPause));
}

QCoro::Task<> NotchDrawer::animateTo(Guard guard, NotchDrawerState target, bool skipHide, quint64 call)
{
    NotchDrawer* self = guard.get();
    // A later call in the same turn of the event loop wins before this one has begun.
    if (!self || self->m_lastCall != call)
        co_return;
    if (self->m_state == NotchDrawerState::hidden) {
        self->setState(target, self->m_style.isNotch() ? kOpenNotchSpring : kOpenSpring);
        co_return;
    }
    if (skipHide) {
        self->setState(target, kSwitchSpring);
        co_return;
    }
    self->setState(NotchDrawerState::hidden, kHideSpring);
    co_await sleepFor(seconds(kHideThenShowPause));
    self = guard.get();
    // A call during the pause (a hide as much as an expand or compact) wins.
    if (self && self->m_lastCall == call && self->m_state == NotchDrawerState::hidden)
        self->setState(target, kSwitchSpring);
}

QCoro::Task<> NotchDrawer::hide()
{
    auto promise = std::make_shared<QPromise<void>>();
    QFuture<void> done = promise->future();
    promise->start();
    // Every way a hide ends, the release of its notch included, runs the completion.
    performHide([promise] { promise->finish(); });
    co_await done;
}

void NotchDrawer::performHide(std::function<void()> completion)
{
    if (m_resumingOvertakenHide) {
        if (completion)
            completion();
        return;
    }
    const quint64 call = beginCall();
    // The callers of a held hide that this one overtakes are resumed when this one ends: the
    // notch is then hidden and closed, or shown again by a later expand or compact.
    if (m_heldHide) {
        completion = [held = std::move(m_heldHide->completion), completion = std::move(completion)] {
            if (held)
                held();
            if (completion)
                completion();
        };
        m_heldHide.reset();
    }
    continueHide(call, std::move(completion));
}

void NotchDrawer::continueHide(quint64 call, std::function<void()> completion)
{
    if (call != m_lastCall) {
        // Overtaken while held by an expand or compact: that call decides, and this caller goes on.
        if (completion)
            completion();
        return;
    }
    if (m_state == NotchDrawerState::hidden) {
        // Hidden with a panel and no close on its way: an expand or compact this hide overtook
        // (not begun yet, or in the hidden half of a switch). Its panel closes as after any hide.
        if (m_panel && !isClosePending()) {
            setIsHovering(false);
            closeAfterHide(std::move(completion));
        } else if (completion) {
            completion();
        }
        return;
    }
    if (m_hoverBehavior.contains(NotchDrawerHoverBehavior::holdWhileHovered) && m_isHovering) {
        // Kept here rather than in the task, so that a later hide can take the caller over.
        m_heldHide = HeldHide{call, std::move(completion)};
        const Guard g = guard();
        startTask([g, call] { return retryHide(g, call); });
        return;
    }
    setState(NotchDrawerState::hidden, kHideSpring);
    setIsHovering(false);
    closeAfterHide(std::move(completion));
}

void NotchDrawer::closeAfterHide(std::function<void()> completion)
{
    cancelPendingClose();
    const CancellationToken token;
    m_closePanelToken = token;
    const Guard g = guard();
    startTask([g, token, completion] { return closeAfterPause(g, token, completion); });
}

QCoro::Task<> NotchDrawer::retryHide(Guard guard, quint64 call)
{
    co_await sleepFor(seconds(kHeldHideRetry));
    NotchDrawer* self = guard.get();
    // Gone with its notch, or taken over by a later hide: the caller is resumed there.
    if (!self || !self->m_heldHide || self->m_heldHide->call != call)
        co_return;
    std::function<void()> completion = std::move(self->m_heldHide->completion);
    self->m_heldHide.reset();
    self->continueHide(call, std::move(completion));
}

QCoro::Task<> NotchDrawer::closeAfterPause(Guard guard, CancellationToken token, std::function<void()> completion)
{
    co_await sleepFor(seconds(kClosePause), token);
    // A close cancelled by a later expand or compact leaves the panel up, but its hide has
    // still ended: its caller is resumed rather than left waiting for ever.
    if (!token.isCancelled()) {
        if (NotchDrawer* self = guard.get()) {
            self->m_closePanelToken.reset();
            self->closePanel();
        }
    }
    if (completion)
        completion();
}

void NotchDrawer::cancelPendingClose()
{
    if (m_closePanelToken)
        m_closePanelToken->cancel();
}

void NotchDrawer::setHovering(bool hovering)
{
    if (hovering == m_isHovering)
        return;
    // Nothing is on screen to enter while hidden, but a pointer that leaves is always noted: the
    // hidden half of a switch keeps the flag, and a held hide would wait for a leave long past.
    if (m_state == NotchDrawerState::hidden) {
        if (!hovering)
            setIsHovering(false);
        return;
    }
    setIsHovering(hovering);
    if (m_hoverBehavior.contains(NotchDrawerHoverBehavior::hapticOnHover))
        HapticFeedbackManager::defaultPerformer().perform(HapticFeedbackPerformer::Pattern::alignment,
                                                          HapticFeedbackPerformer::PerformanceTime::defaultTime);
}

NotchDrawerStyle NotchDrawer::resolvedStyle(QScreen* screen) const
{
    return NotchGeometry::resolvedStyle(m_style, ScreenGeometry::of(screen));
}

bool NotchDrawer::needsNewPanel(QScreen* screen) const
{
    return m_state == NotchDrawerState::hidden || !m_panel || !m_panel->targetScreen()
           || m_panel->targetScreen() != screen;
}

void NotchDrawer::createPanel(QScreen* screen)
{
    closePanel();
    const ScreenGeometry geometry = ScreenGeometry::of(screen);
    const QSizeF notchSize = NotchGeometry::notchFrame(geometry).size();
    if (notchSize != m_notchSize) {
        m_notchSize = notchSize;
        Q_EMIT notchSizeChanged(notchSize);
    }
    const double menubarHeight = NotchGeometry::menubarHeight(geometry);
    if (menubarHeight != m_menubarHeight) {
        m_menubarHeight = menubarHeight;
        Q_EMIT menubarHeightChanged(menubarHeight);
    }
    const NotchDrawerStyle style = NotchGeometry::resolvedStyle(m_style, geometry);

    auto* panel = new NotchDrawerPanel(screen);
    panel->setFrame(geometry, NotchGeometry::panelFrame(geometry));
    panel->setContentView(new NotchContentView(this, style));
    panel->show();
    m_panel = panel;
    Q_EMIT panelChanged();
}

void NotchDrawer::closePanel()
{
    if (!m_panel)
        return;
    takeContentsBack();
    NotchDrawerPanel* panel = m_panel;
    m_panel = nullptr;
    panel->close();
    panel->deleteLater();
    // The pointer cannot be over a panel that is gone; a held hide must not wait on it.
    setIsHovering(false);
    Q_EMIT panelChanged();
}

void NotchDrawer::takeContentsBack()
{
    // The contents outlive every panel; a closing panel must not take them with it.
    for (QWidget* content : {m_expandedContent, m_compactLeadingContent, m_compactTrailingContent}) {
        if (content && content->parent()) {
            content->hide();
            content->setParent(nullptr);
        }
    }
}

void NotchDrawer::startScreenObserver()
{
    // A child connected with this object as context: it ends with the object instead of
    // keeping it alive.
    m_screenObserver = new ScreenChangeObserver(this);
    connect(m_screenObserver, &ScreenChangeObserver::screenParametersChanged, this, [this] {
        // Only a panel the notch has is renewed (shown, about to show, or closing after a hide,
        // whose pending close then takes the new one). A hidden notch without one stays without:
        // its hidden shape is an opaque bar on a screen without a housing. The next expand or
        // compact measures the new screens.
        const auto screens = QGuiApplication::screens();
        if (!screens.isEmpty() && m_panel)
            createPanel(screens.first());
    });
}

} // namespace jw
