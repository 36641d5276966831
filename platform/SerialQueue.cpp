#include "platform/SerialQueue.h"

#include <QMetaObject>

#include <pthread.h>
#include <semaphore>

namespace jw {

SerialQueue::SerialQueue(const QString& label)
    : m_label(label)
{
    m_thread.setObjectName(label);
    m_thread.start();
    m_context = new QObject;
    m_context->moveToThread(&m_thread);
    // Linux limits thread names to 15 characters; keep the end, which is the distinctive part.
    const QByteArray name = label.toUtf8().right(15);
    async([name] { pthread_setname_np(pthread_self(), name.constData()); });
}

SerialQueue::~SerialQueue()
{
    QObject* context = m_context;
    sync([context] { delete context; });
    m_thread.quit();
    m_thread.wait();
}

void SerialQueue::async(std::function<void()> fn)
{
    QMetaObject::invokeMethod(m_context, std::move(fn), Qt::QueuedConnection);
}

void SerialQueue::sync(const std::function<void()>& fn)
{
    if (isCurrent()) {
        fn();
        return;
    }
    std::binary_semaphore done(0);
    QMetaObject::invokeMethod(
        m_context,
        [&] {
            fn();
            done.release();
        },
        Qt::QueuedConnection);
    done.acquire();
}

bool SerialQueue::isCurrent() const
{
    return QThread::currentThread() == &m_thread;
}

} // namespace jw
