#include "platform/SerialQueue.h"

#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace jw {

TEST(SerialQueue, RunsWorkInOrderOnOneNamedThread)
{
    SerialQueue queue(QStringLiteral("com.tallowmere.test"));
    std::vector<int> order;
    QThread* seen = nullptr;
    for (int i = 0; i < 100; ++i)
        queue.async([&, i] {
            order.push_back(i);
            seen = QThread::currentThread();
        });
    queue.sync([] {});
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(order[i], i);
    EXPECT_NE(seen, QThread::currentThread());
    EXPECT_EQ(seen->objectName(), QStringLiteral("com.tallowmere.test"));
}

TEST(SerialQueue, SyncFromTheQueueItselfRunsInline)
{
    SerialQueue queue(QStringLiteral("q"));
    bool inner = false;
    queue.sync([&] { queue.sync([&] { inner = queue.isCurrent(); }); });
    EXPECT_TRUE(inner);
}

} // namespace jw
