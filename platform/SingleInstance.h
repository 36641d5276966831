#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QLocalServer;

namespace jw {

// One running copy per store. A lock file beside the store says which copy runs, whatever runtime
// folder each launch was given (another session, an ssh log-in, a sandbox). The running copy
// listens on a local socket and writes its path beside the lock, so that a later launch can ask
// it to show itself. The lock of a copy that died (kill -9, a crash) is taken over: the lock names
// its process, which is gone.
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

    // `name` names the lock in `lockDirectory`, which is made when missing.
    SingleInstance(const QString& name, const QString& lockDirectory, QObject* parent = nullptr);
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

    QString m_name;
    QString m_lockDirectory;
    QString m_addressPath; // holds the running copy's socket path
    QLockFile m_lock;
    QLocalServer* m_server = nullptr;
    QString m_errorText;
};

} // namespace jw
