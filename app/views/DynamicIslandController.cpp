#include "app/views/DynamicIslandController.h"

#include "NotchDrawerKit/NotchDrawer.h"
#include "app/views/NotchExpandedView.h"
#include "app/views/NotchViewModel.h"
#include "app/views/SystemColors.h"
#include "platform/Sleep.h"
#include "platform/TaskStart.h"

#include <QGuiApplication>
#include <QScreen>

namespace jw {

namespace {

QScreen* primaryScreen()
{
    return QGuiApplication::primaryScreen();
}

} // namespace

DynamicIslandController::DynamicIslandController(QObject* parent)
    : QObject(parent)
    , m_viewModel(new NotchViewModel(this))
    , m_screenProvider(primaryScreen)
{
}

DynamicIslandController::~DynamicIslandController()
{
    // Wakes a sleeping dismissal now instead of leaving its timer behind; it finds us gone.
    if (m_dismissTask)
        m_dismissTask->cancel();
}

void DynamicIslandController::setScreenProvider(ScreenProvider provider)
{
    m_screenProvider = provider ? std::move(provider) : ScreenProvider(primaryScreen);
}

int DynamicIslandController::heldNotchCount() const
{
    int n = m_notch ? 1 : 0;
    for (const auto& object : m_hiding)
        if (object && object != m_notch)
            ++n;
    return n;
}

void DynamicIslandController::show(const IslandState& state)
{
    if (m_dismissTask)
        m_dismissTask->cancel();

    if (state.kind == IslandState::Kind::hidden) {
        setIsVisible(false);
        startHide(m_notch);
        return;
    }

    fillViewModel(state);

    if (!m_isVisible) {
        setIsVisible(true);
        NotchDrawer* previous = m_notch;
        m_notch = makeNotch();
        // An object being hidden stays with its hide, which releases it when done.
        if (previous && !m_hiding.contains(previous))
            release(previous);
        Q_EMIT notchCreated(m_notch);
        const QPointer<NotchDrawer> target = m_notch;
        const ScreenProvider screen = m_screenProvider;
        startTask([target, screen] { return expandTask(target, screen); });
    }

    double delay = 0;
    if (state.kind == IslandState::Kind::confirmed)
        delay = kConfirmedDismissDelay;
    else if (state.kind == IslandState::Kind::error)
        delay = kErrorDismissDelay;
    else
        return;
    const CancellationToken token;
    m_dismissTask = token;
    const QPointer<DynamicIslandController> self = this;
    startTask([self, delay, token] { return dismissalTask(self, delay, token); });
}

void DynamicIslandController::fillViewModel(const IslandState& state)
{
    struct Row
    {
        const char* icon;
        QColor color;
        IconAnimation animation;
        QString title;
        QString subtitle;
    };
    Row row;
    switch (state.kind) {
    case IslandState::Kind::detecting:
        row = {"gear", SystemColor::blue(), IconAnimation::rotating, tr("TODO detected"), state.title};
        break;
    case IslandState::Kind::creating:
        row = {"arrow.trianglehead.2.counterclockwise",
               SystemColor::orange(),
               IconAnimation::rotating,
               tr("Creating issue..."),
               state.title};
        break;
    case IslandState::Kind::confirmed:
        row = {"checkmark.circle.fill",
               SystemColor::green(),
               IconAnimation::pulsing,
               tr("Pushed #%1").arg(state.issueNumber),
               state.repoFullName};
        break;
    case IslandState::Kind::error:
        row = {"xmark.circle.fill", SystemColor::red(), IconAnimation::none, tr("Failed"), state.message};
        break;
    case IslandState::Kind::hidden:
        return;
    }
    NotchViewModel& vm = *m_viewModel;
    vm.setIcon(QString::fromLatin1(row.icon));
    vm.setIconColor(row.color);
    vm.setIconAnimation(row.animation);
    vm.setTitle(row.title);
    vm.setSubtitle(row.subtitle);
    const bool confirmed = state.kind == IslandState::Kind::confirmed;
    vm.setIssueURL(confirmed ? std::optional<QString>(state.issueURL) : std::nullopt);
    vm.setProjectName(confirmed ? state.projectName : std::nullopt);
    vm.setProjectURL(confirmed ? state.projectURL : std::nullopt);
    vm.setProjectFailed(confirmed && state.projectFailed);
    vm.setIsV2Project(confirmed && state.isV2Project);
}

void DynamicIslandController::setIsVisible(bool visible)
{
    if (m_isVisible == visible)
        return;
    m_isVisible = visible;
    Q_EMIT isVisibleChanged(visible);
}

NotchDrawer* DynamicIslandController::makeNotch()
{
    const QPointer<NotchViewModel> model = m_viewModel;
    return new NotchDrawer(
        NotchDrawerHoverBehavior{NotchDrawerHoverBehavior::hapticOnHover},
        NotchDrawerStyle::standardNotch(),
        [model]() -> QWidget* { return new NotchExpandedView(model); },
        this);
}

bool DynamicIslandController::beginHide(NotchDrawer* target)
{
    // Nothing on screen, or a hide of this object already under way: nothing more to do.
    if (!target || m_hiding.contains(target))
        return false;
    m_hiding.append(target);
    return true;
}

void DynamicIslandController::startHide(QPointer<NotchDrawer> target)
{
    if (!beginHide(target))
        return;
    const QPointer<DynamicIslandController> self = this;
    startTask([self, target] { return hideTask(self, target); });
}

void DynamicIslandController::finishHide(NotchDrawer* target)
{
    m_hiding.removeAll(target);
    m_hiding.removeAll(nullptr);
    if (!target)
        return;
    if (m_notch == target)
        m_notch = nullptr;
    release(target);
}

void DynamicIslandController::release(NotchDrawer* target)
{
    Q_EMIT notchReleased(target);
    target->deleteLater();
}

QCoro::Task<> DynamicIslandController::expandTask(QPointer<NotchDrawer> target, ScreenProvider screen)
{
    QScreen* mainScreen = screen ? screen() : nullptr;
    if (!mainScreen || !target)
        co_return;
    co_await target->expand(mainScreen);
}

QCoro::Task<> DynamicIslandController::hideTask(QPointer<DynamicIslandController> self, QPointer<NotchDrawer> target)
{
    if (target)
        co_await target->hide();
    if (self)
        self->finishHide(target);
}

QCoro::Task<>
DynamicIslandController::dismissalTask(QPointer<DynamicIslandController> self, double delay, CancellationToken token)
{
    co_await sleepFor(seconds(delay), token);
    if (token.isCancelled() || !self)
        co_return;
    // Past this point a new state no longer stops the hide; the countdown is over.
    if (self->m_dismissTask == token)
        self->m_dismissTask.reset();
    self->setIsVisible(false);
    const QPointer<NotchDrawer> target = self->m_notch;
    if (self->beginHide(target))
        co_await hideTask(self, target);
}

} // namespace jw
