#pragma once

#include "app/detection/TodoParser.h"
#include "platform/Cancellation.h"

#include <QCoroTask>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <optional>

namespace jw {

class AppState;

// Why a detected TODO is not filed yet.
enum class WaitReason
{
    token,     // the keyring has not given the token: not answered yet, locked, or not running
    network,   // GitHub could not be reached
    rateLimit, // GitHub asked to wait
};

// Every TODO that waits to be filed, with why, in the order detected. It sends creations one
// at a time, holds all of them while GitHub cannot be reached or asks to wait, keeps itself in a
// file of its own beside the store across a restart, and says on the island and in the log what
// waits. GUI thread only.
class FilingQueue : public QObject
{
    Q_OBJECT
public:
    static constexpr std::chrono::seconds kFirstNetworkRetry{5};
    static constexpr std::chrono::seconds kLastNetworkRetry{300};
    static constexpr std::chrono::seconds kFirstRateLimitWait{60};
    static constexpr std::chrono::seconds kLastRateLimitWait{960};
    // The longest any one wait lasts before GitHub is asked again, whatever time it named.
    static constexpr std::chrono::hours kLongestWait{1};

    explicit FilingQueue(AppState* state, QObject* parent = nullptr);
    // Lists on the log what still waits.
    ~FilingQueue() override;

    // The file the queue keeps itself in; what it holds stays there until it is read back.
    void setFilePath(const QString& path);
    // The TODOs an earlier run left waiting, as it kept them. The file then holds only what is
    // kept from now on.
    QList<ParsedTodo> takeStored();

    // The keyring has given its first answer: a token wait is no longer for that answer.
    void setKeyringAnswered() { m_keyringAnswered = true; }

    // Keeps `todo` (again, if it was released) until its reason passes. TODOs are told apart by
    // their hash, file and line: two of one text are two.
    void keep(const ParsedTodo& todo, WaitReason reason);
    // Lists `todo`, through the checks and on its way to GitHub, until its request is sent: a run
    // that ends first leaves it to the next.
    void onItsWay(const ParsedTodo& todo);
    // The request for `todo` leaves now. Whether GitHub took it cannot be known if the run ends
    // before the answer, so it is no longer listed; a failure that is tried again keeps it anew.
    void sending(const ParsedTodo& todo);
    // Whether TODOs kept for `reason` wait still, not yet released.
    bool holds(WaitReason reason) const;
    // What holds every creation back now: GitHub unreachable or a rate limit.
    std::optional<WaitReason> hold() const { return m_hold; }
    // Hands each TODO kept for `reason` on through `released`; they stay listed until they settle.
    void release(WaitReason reason);
    // A released TODO was filed, or dropped at a check: it no longer waits. One kept again
    // meanwhile stays. Once none waits still, the next wait is said anew.
    void settle(const ParsedTodo& todo);

    // After a creation that never reached GitHub: keeps `todo` and tries again after a delay
    // that grows with each failure, or at once when the network comes back.
    void unreachable(const ParsedTodo& todo);
    // After GitHub refused a creation for a rate limit: keeps `todo` and sends nothing until
    // `until` (or a wait that grows with each such refusal, when GitHub named no time).
    void rateLimited(const ParsedTodo& todo, std::optional<QDateTime> until);
    // GitHub took an issue: the waits start short again.
    void filed(const ParsedTodo& todo);
    // For a run that showed its steps and then had to wait: the island says the wait again.
    void showAgain();

    // One creation at a time: waits until no other is on its way. False when the application
    // ends first. Pair each true with endTurn().
    QCoro::Task<bool> waitForTurn();
    void endTurn();

    qsizetype count() const { return m_entries.size(); }

Q_SIGNALS:
    void released(const jw::ParsedTodo& todo, jw::WaitReason reason);

private:
    struct Entry
    {
        ParsedTodo todo;
        // Absent for one on its way that never had to wait.
        std::optional<WaitReason> reason;
        bool released = false;
    };

    void holdFor(WaitReason reason, std::chrono::nanoseconds delay);
    QCoro::Task<> holdTask(std::chrono::nanoseconds delay, CancellationToken wake, quint64 generation);
    void endHold(quint64 generation);
    void watchReachability();
    void noticeAfterGathering();
    void tellTheWait();
    QString notice(WaitReason reason) const;
    void save() const;
    void removeReleased(const ParsedTodo& todo);

    AppState* m_state;
    bool m_keyringAnswered = false;
    QString m_filePath;
    QList<Entry> m_entries;

    std::optional<WaitReason> m_hold;
    quint64 m_holdGeneration = 0;
    std::optional<CancellationToken> m_holdWake;
    std::optional<QDateTime> m_holdUntil;
    bool m_watchingReachability = false;
    std::chrono::seconds m_nextNetworkRetry = kFirstNetworkRetry;
    std::chrono::seconds m_nextRateLimitWait = kFirstRateLimitWait;

    bool m_sending = false;
    QList<CancellationToken> m_turnWaiters;

    // Gathers the TODOs detected together into one notice.
    QTimer m_noticeTimer;
    WaitReason m_noticeReason = WaitReason::token;
    // The notice as last shown; absent until it is said for the current wait.
    std::optional<QString> m_notice;
};

} // namespace jw
