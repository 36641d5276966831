#pragma once

#include "NotchDrawerKit/NotchDrawerTypes.h"
#include "NotchDrawerKit/Spring.h"
#include "platform/Cancellation.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QSizeF>

#include <functional>
#include <memory>
#include <optional>

class QScreen;
class QWidget;

namespace jw {

class NotchDrawerPanel;
class ScreenChangeObserver;

// The notch object: three content widgets built once, the published state its panel's views
// draw, the panel itself, and the asynchronous expand / compact / hide operations.
//
// Every state change carries the spring it animates with (stateAnimation()); the state itself
// changes at once and the views animate their presentation toward it.
//
// The last call wins: whatever an earlier expand, compact or hide still has queued or pausing
// gives way to a later call, and every caller is resumed. A hide held while hovered that a
// later hide overtakes returns with that one, once the notch is hidden and closed.
//
//   auto* notch = new NotchDrawer(NotchDrawerHoverBehavior::hapticOnHover, NotchDrawerStyle::standardNotch(),
//                                 [model] { return new IslandView(model); });
//   co_await notch->expand(QGuiApplication::primaryScreen());
//   co_await notch->hide();   // then release it; nothing of it stays behind
//
// The content widgets belong to the notch object and move into each panel it creates.
class NotchDrawer : public QObject, public NotchDrawerControllable
{
    Q_OBJECT
    Q_PROPERTY(NotchDrawerState state READ state NOTIFY stateChanged)
    Q_PROPERTY(bool isHovering READ isHovering NOTIFY isHoveringChanged)
    Q_PROPERTY(QSizeF notchSize READ notchSize NOTIFY notchSizeChanged)
    Q_PROPERTY(double menubarHeight READ menubarHeight NOTIFY menubarHeightChanged)
    Q_PROPERTY(bool disableCompactLeading READ disableCompactLeading WRITE setDisableCompactLeading NOTIFY
                   disableCompactLeadingChanged)
    Q_PROPERTY(bool disableCompactTrailing READ disableCompactTrailing WRITE setDisableCompactTrailing NOTIFY
                   disableCompactTrailingChanged)
    Q_PROPERTY(quint64 namespaceId READ namespaceId WRITE setNamespaceId NOTIFY namespaceIdChanged)

public:
    using ContentFactory = std::function<QWidget*()>;

    // Calls the factories once each (expanded, leading, trailing) and takes the widgets.
    NotchDrawer(NotchDrawerHoverBehavior hoverBehavior,
                NotchDrawerStyle style,
                ContentFactory expanded,
                ContentFactory compactLeading,
                ContentFactory compactTrailing,
                QObject* parent = nullptr);
    // Without side views: both sides are empty widgets and disabled.
    NotchDrawer(NotchDrawerHoverBehavior hoverBehavior,
                NotchDrawerStyle style,
                ContentFactory expanded,
                QObject* parent = nullptr);
    ~NotchDrawer() override;

    // Springs used by the state machine.
    static constexpr Spring kOpenNotchSpring{0.4, 0.7};
    static constexpr Spring kOpenSpring{0.4, 0.85};
    static constexpr Spring kSwitchSpring{0.4, 0.85};
    static constexpr Spring kHideSpring{0.4, 1.0};

    NotchDrawerStyle style() const { return m_style; }
    NotchDrawerHoverBehavior hoverBehavior() const { return m_hoverBehavior; }

    QWidget* expandedContent() const { return m_expandedContent; }
    QWidget* compactLeadingContent() const { return m_compactLeadingContent; }
    QWidget* compactTrailingContent() const { return m_compactTrailingContent; }

    NotchDrawerState state() const { return m_state; }
    // The spring of the most recent change of state.
    Spring stateAnimation() const { return m_stateAnimation; }
    bool isHovering() const { return m_isHovering; }
    QSizeF notchSize() const { return m_notchSize; }
    double menubarHeight() const { return m_menubarHeight; }
    bool disableCompactLeading() const { return m_disableCompactLeading; }
    void setDisableCompactLeading(bool disable);
    bool disableCompactTrailing() const { return m_disableCompactTrailing; }
    void setDisableCompactTrailing(bool disable);
    // 0 while unset; the panel's root view sets it once.
    quint64 namespaceId() const { return m_namespaceId; }
    void setNamespaceId(quint64 id);

    // The current panel, null while there is none.
    NotchDrawerPanel* panel() const;

    QCoro::Task<> expand(QScreen* screen) override;
    QCoro::Task<> compact(QScreen* screen) override;
    QCoro::Task<> hide() override;

    // With skipHide a change between the two visible states springs straight across instead
    // of passing through hidden; for front ends that move one element between the states.
    QCoro::Task<> expand(QScreen* screen, bool skipHide);
    QCoro::Task<> compact(QScreen* screen, bool skipHide);

    // Hides now (or, held while hovered, once the pointer leaves) and calls `completion` when
    // the panel has closed, or when a later expand or compact overtakes the hide (or cancels
    // its close). A later hide takes over a held one's completion and calls it when it ends.
    // A hide started from a completion that an expand or compact runs is overtaken by it too.
    void performHide(std::function<void()> completion);
    // The pointer's hovering as the notch view reports it. While hidden only a leave counts.
    void setHovering(bool hovering);

    NotchDrawerStyle resolvedStyle(QScreen* screen) const;
    void createPanel(QScreen* screen);
    void closePanel();

Q_SIGNALS:
    void stateChanged(jw::NotchDrawerState state);
    void isHoveringChanged(bool isHovering);
    void notchSizeChanged(QSizeF notchSize);
    void menubarHeightChanged(double menubarHeight);
    void disableCompactLeadingChanged(bool disable);
    void disableCompactTrailingChanged(bool disable);
    void namespaceIdChanged(quint64 id);
    void panelChanged();

private:
    // Tells tasks whether the object is still whole; QPointer alone turns null only after
    // the derived destructor has run.
    using AliveFlag = std::shared_ptr<bool>;
    struct Guard
    {
        QPointer<NotchDrawer> drawer;
        AliveFlag alive;
        NotchDrawer* get() const { return drawer && *alive ? drawer.data() : nullptr; }
    };
    Guard guard() { return Guard{this, m_alive}; }

    QCoro::Task<> showState(QScreen* screen, NotchDrawerState target, bool skipHide);
    static QCoro::Task<> animateTo(Guard guard, NotchDrawerState target, bool skipHide, quint64 call);
    static QCoro::Task<> retryHide(Guard guard, quint64 call);
    static QCoro::Task<> closeAfterPause(Guard guard, CancellationToken token, std::function<void()> completion);

    // Numbers a new call; work of earlier calls checks it and gives way.
    quint64 beginCall() { return ++m_lastCall; }
    void continueHide(quint64 call, std::function<void()> completion);
    void closeAfterHide(std::function<void()> completion);
    void setState(NotchDrawerState state, Spring spring);
    void setIsHovering(bool hovering);
    bool isClosePending() const { return m_closePanelToken && !m_closePanelToken->isCancelled(); }
    void cancelPendingClose();
    bool needsNewPanel(QScreen* screen) const;
    void startScreenObserver();
    void takeContentsBack();

    const NotchDrawerStyle m_style;
    const NotchDrawerHoverBehavior m_hoverBehavior;
    QWidget* m_expandedContent = nullptr;
    QWidget* m_compactLeadingContent = nullptr;
    QWidget* m_compactTrailingContent = nullptr;

    quint64 m_namespaceId = 0;
    bool m_disableCompactLeading = false;
    bool m_disableCompactTrailing = false;
    NotchDrawerState m_state = NotchDrawerState::hidden;
    Spring m_stateAnimation = kHideSpring;
    QSizeF m_notchSize{0, 0};
    double m_menubarHeight = 0;
    bool m_isHovering = false;
    quint64 m_lastCall = 0;
    // While an expand or compact resumes the caller of the hide whose close it cancels.
    bool m_resumingOvertakenHide = false;
    // The hide waiting for the pointer to leave, with the callers it will resume.
    struct HeldHide
    {
        quint64 call = 0;
        std::function<void()> completion;
    };
    std::optional<HeldHide> m_heldHide;

    QPointer<NotchDrawerPanel> m_panel;
    std::optional<CancellationToken> m_closePanelToken;
    ScreenChangeObserver* m_screenObserver = nullptr;
    AliveFlag m_alive = std::make_shared<bool>(true);
};

} // namespace jw
