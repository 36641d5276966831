#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QLocalServer;

namespace jw {

// One running copy per user session. A lock file in the user's runtime folder says which copy
// runs, and a local socket beside it lets a later launch ask that copy to show itself. The lock
// of a copy that died (kill -9, a crash) is taken over: the lock names its process, which is
// gone.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    enum class Role
    {
        primary,   // this copy runs
        secondary, // another copy runs: ask it to show itself, then end
        unguarded, // the lock could not be made at all; this copy runs without it
    };

    // `name` names the lock and the socket in `directory`, the user's runtime folder by default.
    explicit SingleInstance(const QString& name, QString directory = {}, QObject* parent = nullptr);
    ~SingleInstance() override;

    Role claim();
    // Why the copy is unguarded, or, as the running copy, why later launches cannot reach it.
    QString errorText() const { return m_errorText; }

    // As a secondary copy: asks the running copy to show itself. `done` runs on the event loop,
    // with whether the request reached it. No waiting here: a copy just starting may take a
    // moment to listen, so the connection is tried again for a while.
    void askPrimaryToShow(std::function<void(bool reached)> done);

    static constexpr int kConnectAttempts = 50;
    static constexpr int kConnectRetryMs = 100;

Q_SIGNALS:
    // As the running copy: a later launch asked to see it.
    void showRequested();

private:
    void listen();
    void tryConnect(int attemptsLeft, std::shared_ptr<std::function<void(bool)>> done);

    QString m_socketPath;
    QLockFile m_lock;
    QLocalServer* m_server = nullptr;
    QString m_errorText;
};

} // namespace jw
