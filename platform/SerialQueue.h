#pragma once

#include <QObject>
#include <QString>
#include <QThread>

#include <functional>
#include <memory>

namespace jw {

// One worker thread running its own event loop; work submitted to it runs one item at a time,
// in submission order. The label names the thread.
class SerialQueue
{
public:
    explicit SerialQueue(const QString& label);
    ~SerialQueue();

    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    void async(std::function<void()> fn);
    // Runs fn on the queue and waits for it. Called from the queue itself, it runs inline.
    void sync(const std::function<void()>& fn);

    bool isCurrent() const;
    QString label() const { return m_label; }
    // An object living on the queue's thread: parent for notifiers and timers that belong to it.
    QObject* context() const { return m_context; }

private:
    QString m_label;
    QThread m_thread;
    QObject* m_context = nullptr;
};

} // namespace jw
