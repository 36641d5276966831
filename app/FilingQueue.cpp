#include "app/FilingQueue.h"

#include "app/AppState.h"
#include "platform/Log.h"
#include "platform/Sleep.h"
#include "platform/TaskStart.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInformation>
#include <QPointer>
#include <QSaveFile>

#include <algorithm>
#include <utility>

namespace jw {

namespace {

// The TODOs of one save, or of files saved together (the watcher groups a burst over 0.25 s),
// make one notice.
constexpr std::chrono::milliseconds kNoticeGathering(500);

QString todoCount(qsizetype count)
{
    return count == 1 ? QStringLiteral("1 TODO") : QStringLiteral("%1 TODOs").arg(count);
}

QString waits(qsizetype count)
{
    return todoCount(count) + (count == 1 ? QStringLiteral(" waits") : QStringLiteral(" wait"));
}

QString reasonName(WaitReason reason)
{
    switch (reason) {
    case WaitReason::token:
        return QStringLiteral("token");
    case WaitReason::network:
        return QStringLiteral("network");
    case WaitReason::rateLimit:
        return QStringLiteral("rateLimit");
    }
    return {};
}

bool sameTodo(const ParsedTodo& a, const ParsedTodo& b)
{
    return a.contentHash == b.contentHash && a.localPath == b.localPath && a.lineNumber == b.lineNumber;
}

QString place(const ParsedTodo& todo)
{
    return todo.filePath + QLatin1Char(':') + QString::number(todo.lineNumber);
}

std::chrono::seconds doubled(std::chrono::seconds delay, std::chrono::seconds cap)
{
    return std::min(delay * 2, cap);
}

} // namespace

FilingQueue::FilingQueue(AppState* state, QObject* parent)
    : QObject(parent)
    , m_state(state)
{
    m_noticeTimer.setSingleShot(true);
    m_noticeTimer.setInterval(kNoticeGathering);
    connect(&m_noticeTimer, &QTimer::timeout, this, &FilingQueue::tellTheWait);
}

FilingQueue::~FilingQueue()
{
    // The hold ends with nothing released.
    ++m_holdGeneration;
    if (m_holdWake)
        m_holdWake->cancel();
    for (const WaitReason reason : {WaitReason::token, WaitReason::network, WaitReason::rateLimit}) {
        QStringList where;
        for (const Entry& e : std::as_const(m_entries))
            if (e.reason == reason && !e.released)
                where << place(e.todo);
        if (where.isEmpty())
            continue;
        QString why;
        switch (reason) {
        case WaitReason::token:
            switch (m_state->keyringState()) {
            case KeyringState::notRunning:
                why = QStringLiteral("no keyring was running");
                break;
            case KeyringState::available:
                why = m_keyringAnswered ? QStringLiteral("no token was configured")
                                        : QStringLiteral("the keyring had not answered");
                break;
            case KeyringState::waitingForUnlock:
            case KeyringState::stayedLocked:
                why = QStringLiteral("the keyring was locked");
                break;
            }
            break;
        case WaitReason::network:
            why = QStringLiteral("GitHub could not be reached");
            break;
        case WaitReason::rateLimit:
            why = QStringLiteral("GitHub's rate limit held");
            break;
        }
        log(QStringLiteral("Quitting with %1 not filed while %2: %3")
                .arg(todoCount(where.size()), why, where.join(QStringLiteral(", "))));
    }
    QStringList due;
    for (const Entry& e : std::as_const(m_entries))
        if (e.released)
            due << place(e.todo);
    if (!due.isEmpty())
        log(QStringLiteral("Quitting before sending %1, left for the next launch: %2")
                .arg(todoCount(due.size()), due.join(QStringLiteral(", "))));
}

void FilingQueue::setFilePath(const QString& path)
{
    m_filePath = path;
}

QList<ParsedTodo> FilingQueue::takeStored()
{
    QList<ParsedTodo> out;
    QFile file(m_filePath);
    if (m_filePath.isEmpty() || !file.exists())
        return out;
    if (!file.open(QIODevice::ReadOnly)) {
        log(QStringLiteral("Could not read the TODOs left waiting: ") + file.errorString());
        return out;
    }
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    file.close();
    if (!document.isObject())
        log(QStringLiteral("The list of TODOs left waiting is not readable; it is set aside"));
    for (const QJsonValue& v : document.object().value(QLatin1String("todos")).toArray()) {
        const QJsonObject o = v.toObject();
        ParsedTodo todo;
        todo.contentHash = o.value(QLatin1String("contentHash")).toString();
        todo.filePath = o.value(QLatin1String("filePath")).toString();
        todo.localPath = QByteArray::fromBase64(o.value(QLatin1String("localPath")).toString().toLatin1());
        if (todo.localPath.isEmpty())
            todo.localPath = QFile::encodeName(todo.filePath);
        todo.lineNumber = o.value(QLatin1String("lineNumber")).toInteger();
        todo.title = o.value(QLatin1String("title")).toString();
        if (!todo.contentHash.isEmpty() && !todo.localPath.isEmpty())
            out << todo;
    }
    if (!document.isObject())
        QFile::rename(m_filePath, m_filePath + QStringLiteral(".unreadable"));
    else
        save();
    return out;
}

void FilingQueue::keep(const ParsedTodo& todo, WaitReason reason)
{
    auto found =
        std::find_if(m_entries.begin(), m_entries.end(), [&](const Entry& e) { return sameTodo(e.todo, todo); });
    if (found == m_entries.end()) {
        m_entries << Entry{todo, reason, false};
    } else {
        found->todo = todo;
        found->reason = reason;
        found->released = false;
    }
    save();
    m_noticeReason = reason;
    if (!m_notice) {
        if (!m_noticeTimer.isActive())
            m_noticeTimer.start();
        return;
    }
    // Said once for this wait; only a notice still on screen takes the new count.
    IslandPresenter* island = m_state->islandController();
    if (island && island->isVisible() && m_state->islandState() == IslandState::error(*m_notice)) {
        m_notice = notice(reason);
        m_state->showIsland(IslandState::error(*m_notice));
    }
}

bool FilingQueue::holds(WaitReason reason) const
{
    return std::any_of(m_entries.begin(), m_entries.end(), [reason](const Entry& e) {
        return e.reason == reason && !e.released;
    });
}

void FilingQueue::release(WaitReason reason)
{
    if (reason == WaitReason::token) {
        m_noticeTimer.stop();
        m_notice.reset();
    }
    QList<ParsedTodo> due;
    for (Entry& e : m_entries) {
        if (e.reason == reason && !e.released) {
            e.released = true;
            due << e.todo;
        }
    }
    for (const ParsedTodo& todo : std::as_const(due))
        Q_EMIT released(todo, reason);
}

void FilingQueue::onItsWay(const ParsedTodo& todo)
{
    // One released from a wait is listed already.
    if (std::any_of(m_entries.begin(), m_entries.end(), [&](const Entry& e) { return sameTodo(e.todo, todo); }))
        return;
    m_entries << Entry{todo, std::nullopt, true};
    save();
}

void FilingQueue::sending(const ParsedTodo& todo)
{
    removeReleased(todo);
}

void FilingQueue::removeReleased(const ParsedTodo& todo)
{
    if (m_entries.removeIf([&](const Entry& e) { return e.released && sameTodo(e.todo, todo); }) > 0)
        save();
}

void FilingQueue::settle(const ParsedTodo& todo)
{
    removeReleased(todo);
    // The wait is over for good: the next one is said anew.
    if (std::none_of(m_entries.begin(), m_entries.end(), [](const Entry& e) { return !e.released; })) {
        m_noticeTimer.stop();
        m_notice.reset();
    }
}

void FilingQueue::unreachable(const ParsedTodo& todo)
{
    keep(todo, WaitReason::network);
    if (m_hold == WaitReason::network)
        return;
    holdFor(WaitReason::network, m_nextNetworkRetry);
    m_nextNetworkRetry = doubled(m_nextNetworkRetry, kLastNetworkRetry);
    watchReachability();
}

void FilingQueue::rateLimited(const ParsedTodo& todo, std::optional<QDateTime> until)
{
    std::chrono::nanoseconds delay = m_nextRateLimitWait;
    if (until) {
        // At least a second: a reset time already past (clocks differ) must not make a burst.
        delay = std::chrono::milliseconds(std::max<qint64>(QDateTime::currentDateTimeUtc().msecsTo(*until), 1000));
    } else {
        m_nextRateLimitWait = doubled(m_nextRateLimitWait, kLastRateLimitWait);
    }
    // A clock far behind GitHub's, or an absurd answer, must not hold everything for days.
    delay = std::min<std::chrono::nanoseconds>(delay, kLongestWait);
    m_holdUntil =
        QDateTime::currentDateTime().addMSecs(std::chrono::duration_cast<std::chrono::milliseconds>(delay).count());
    holdFor(WaitReason::rateLimit, delay);
    keep(todo, WaitReason::rateLimit);
}

void FilingQueue::filed(const ParsedTodo& todo)
{
    if (m_entries.removeIf([&](const Entry& e) { return sameTodo(e.todo, todo); }) > 0)
        save();
    m_nextNetworkRetry = kFirstNetworkRetry;
    m_nextRateLimitWait = kFirstRateLimitWait;
    // GitHub answers again: a later wait is said anew.
    if (m_noticeReason != WaitReason::token && !m_hold) {
        m_noticeTimer.stop();
        m_notice.reset();
    }
}

void FilingQueue::showAgain()
{
    if (!m_notice)
        return;
    m_notice = notice(m_noticeReason);
    m_state->showIsland(IslandState::error(*m_notice));
}

QCoro::Task<bool> FilingQueue::waitForTurn()
{
    if (!m_sending) {
        m_sending = true;
        co_return true;
    }
    QPointer<FilingQueue> self(this);
    const CancellationToken handedOver;
    m_turnWaiters << handedOver;
    for (;;) {
        const bool slept = co_await sleepFor(std::chrono::hours(24), handedOver);
        if (!self)
            co_return false;
        if (handedOver.isCancelled())
            co_return true;
        if (!slept) {
            m_turnWaiters.removeAll(handedOver);
            co_return false;
        }
    }
}

void FilingQueue::endTurn()
{
    // The turn passes straight to the longest waiting, so a later creation cannot overtake it.
    if (m_turnWaiters.isEmpty()) {
        m_sending = false;
        return;
    }
    m_turnWaiters.takeFirst().cancel();
}

void FilingQueue::holdFor(WaitReason reason, std::chrono::nanoseconds delay)
{
    if (m_holdWake)
        m_holdWake->cancel();
    m_hold = reason;
    const quint64 generation = ++m_holdGeneration;
    const CancellationToken wake;
    m_holdWake = wake;
    QPointer<FilingQueue> self(this);
    startTask(
        [self, delay, wake, generation] { return self ? self->holdTask(delay, wake, generation) : QCoro::Task<>(); });
}

QCoro::Task<> FilingQueue::holdTask(std::chrono::nanoseconds delay, CancellationToken wake, quint64 generation)
{
    QPointer<FilingQueue> self(this);
    const bool slept = co_await sleepFor(delay, wake);
    // Not slept and not woken: the application is ending.
    if (!self || (!slept && !wake.isCancelled()))
        co_return;
    endHold(generation);
}

void FilingQueue::endHold(quint64 generation)
{
    if (generation != m_holdGeneration || !m_hold)
        return;
    const WaitReason reason = *m_hold;
    m_hold.reset();
    m_holdWake.reset();
    m_holdUntil.reset();
    release(reason);
}

void FilingQueue::watchReachability()
{
    static bool loaded = false;
    if (!loaded) {
        loaded = true;
        QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability);
    }
    QNetworkInformation* info = QNetworkInformation::instance();
    // A lambda is never a unique connection: one made per outage would pile up.
    if (!info || std::exchange(m_watchingReachability, true))
        return;
    connect(info,
            &QNetworkInformation::reachabilityChanged,
            this,
            [this](QNetworkInformation::Reachability reachability) {
                // Try at once, not at the end of the delay.
                if (reachability == QNetworkInformation::Reachability::Online && m_hold == WaitReason::network
                    && m_holdWake)
                    m_holdWake->cancel();
            });
}

void FilingQueue::tellTheWait()
{
    if (!std::any_of(m_entries.begin(), m_entries.end(), [](const Entry& e) { return !e.released; }) || m_notice)
        return;
    m_notice = notice(m_noticeReason);
    log(*m_notice);
    m_state->showIsland(IslandState::error(*m_notice));
}

QString FilingQueue::notice(WaitReason reason) const
{
    // Those on their way that never had to wait are not said to wait.
    const qsizetype count =
        std::count_if(m_entries.begin(), m_entries.end(), [](const Entry& e) { return e.reason.has_value(); });
    switch (reason) {
    case WaitReason::token:
        switch (m_state->keyringState()) {
        case KeyringState::notRunning:
            return QStringLiteral("Keyring not running: ") + waits(count) + QStringLiteral(" for it to start");
        case KeyringState::available:
            return m_keyringAnswered
                       ? QStringLiteral("No GitHub token configured: ") + waits(count) + QStringLiteral(" for one")
                       : QStringLiteral("Keyring not ready: ") + waits(count) + QStringLiteral(" for its answer");
        case KeyringState::waitingForUnlock:
        case KeyringState::stayedLocked:
            break;
        }
        return QStringLiteral("Keyring locked: ") + waits(count) + QStringLiteral(" for it to be unlocked");
    case WaitReason::network:
        return QStringLiteral("GitHub could not be reached: ") + waits(count);
    case WaitReason::rateLimit:
        return QStringLiteral("GitHub API rate limit exceeded: ") + waits(count)
               + (m_holdUntil ? QStringLiteral(" until ") + m_holdUntil->toString(QStringLiteral("HH:mm")) : QString());
    }
    return {};
}

void FilingQueue::save() const
{
    if (m_filePath.isEmpty())
        return;
    if (m_entries.isEmpty()) {
        QFile::remove(m_filePath);
        return;
    }
    QJsonArray todos;
    for (const Entry& e : m_entries) {
        QJsonObject o{
            {QStringLiteral("contentHash"), e.todo.contentHash},
            {QStringLiteral("filePath"), e.todo.filePath},
            {QStringLiteral("localPath"), QString::fromLatin1(e.todo.localPath.toBase64())},
            {QStringLiteral("lineNumber"), e.todo.lineNumber},
            {QStringLiteral("title"), e.todo.title},
        };
        if (e.reason)
            o.insert(QStringLiteral("reason"), reasonName(*e.reason));
        todos.append(o);
    }
    const QByteArray bytes =
        QJsonDocument(QJsonObject{{QStringLiteral("version"), 1}, {QStringLiteral("todos"), todos}}).toJson();
    // Whole or not at all: a run that ends mid-write leaves the last complete list.
    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        log(QStringLiteral("Could not keep the waiting TODOs in %1: %2").arg(m_filePath, file.errorString()));
}

} // namespace jw
