#include "platform/fsevents/EventStream.h"

#include "platform/SerialQueue.h"
#include "tests/support/LogCapture.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <semaphore>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace jw::fsevents {
namespace {

constexpr int kWaitMs = 10000;

struct Event
{
    QString path;
    EventFlags flags;
};

class EventStreamTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        root = tmp.path();
    }

    void TearDown() override
    {
        if (stream)
            stream->release();
    }

    void startStream() { startStream({root}); }

    void startStream(const QStringList& roots)
    {
        StreamContext context;
        context.info = this;
        stream = EventStream::create(&EventStreamTest::callback,
                                     &context,
                                     roots,
                                     kEventIdSinceNow,
                                     0.25,
                                     kCreateFlagUseCFTypes | kCreateFlagNoDefer | kCreateFlagFileEvents);
        ASSERT_NE(stream, nullptr);
        stream->setDispatchQueue(&queue);
        ASSERT_TRUE(stream->start());
    }

    static void
    callback(EventStream*, void* info, size_t n, const QByteArrayList* paths, const EventFlags* flags, const EventId*)
    {
        auto* self = static_cast<EventStreamTest*>(info);
        EXPECT_TRUE(self->queue.isCurrent());
        QList<Event> batch;
        for (size_t i = 0; i < n; ++i)
            batch.push_back({QFile::decodeName(paths->at(qsizetype(i))), flags[i]});
        QMutexLocker lock(&self->mutex);
        self->batches.push_back(batch);
    }

    QString path(const QString& rel) const { return root + '/' + rel; }

    static void write(const QString& file, const QByteArray& bytes)
    {
        QDir().mkpath(QFileInfo(file).absolutePath());
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Append));
        f.write(bytes);
    }

    // Flags of the first event for the path, waiting for it.
    std::optional<EventFlags> waitFor(const QString& file, EventFlags wanted = 0)
    {
        std::optional<EventFlags> found;
        (void)QTest::qWaitFor(
            [&] {
                QMutexLocker lock(&mutex);
                for (const QList<Event>& batch : std::as_const(batches))
                    for (const Event& e : batch)
                        if (e.path == file && (e.flags & wanted) == wanted) {
                            found = e.flags;
                            return true;
                        }
                return false;
            },
            kWaitMs);
        return found;
    }

    bool sawPathContaining(const QString& part)
    {
        QMutexLocker lock(&mutex);
        for (const QList<Event>& batch : std::as_const(batches))
            for (const Event& e : batch)
                if (e.path.contains(part))
                    return true;
        return false;
    }

    QTemporaryDir tmp;
    QString root;
    SerialQueue queue{QStringLiteral("test.events")};
    EventStream* stream = nullptr;
    QMutex mutex;
    QList<QList<Event>> batches;
};

TEST_F(EventStreamTest, AtomicReplaceIsReportedOnTheTarget)
{
    write(path("t.c"), "old\n");
    startStream();
    write(path("t.c.tmp"), "new\n");
    ASSERT_EQ(::rename(QFile::encodeName(path("t.c.tmp")).constData(), QFile::encodeName(path("t.c")).constData()), 0);
    const auto flags = waitFor(path("t.c"), kEventFlagItemRenamed);
    ASSERT_TRUE(flags);
    EXPECT_TRUE(*flags & kEventFlagItemIsFile);
    EXPECT_FALSE(*flags & kEventFlagItemCreated); // the rename happened inside the tree
}

TEST_F(EventStreamTest, ModifiedOnCloseAndCreatedOnceWritten)
{
    write(path("m.c"), "x\n");
    startStream();
    write(path("m.c"), "y\n");
    const auto modified = waitFor(path("m.c"));
    ASSERT_TRUE(modified);
    EXPECT_EQ(*modified, kEventFlagItemModified | kEventFlagItemIsFile);

    write(path("n.c"), "z\n");
    const auto created = waitFor(path("n.c"));
    ASSERT_TRUE(created);
    EXPECT_EQ(*created, kEventFlagItemCreated | kEventFlagItemModified | kEventFlagItemIsFile);
}

TEST_F(EventStreamTest, NewDirectoriesAreWatchedAndTheirEarlyFilesReported)
{
    startStream();
    EXPECT_EQ(stream->watchedDirectoryCount(), 1);
    write(path("a/b/early.c"), "1\n");
    const auto early = waitFor(path("a/b/early.c"), kEventFlagItemCreated | kEventFlagItemIsFile);
    ASSERT_TRUE(early);
    EXPECT_TRUE(waitFor(path("a/b"), kEventFlagItemCreated | kEventFlagItemIsDir));
    write(path("a/b/late.c"), "2\n");
    EXPECT_TRUE(waitFor(path("a/b/late.c"), kEventFlagItemCreated | kEventFlagItemIsFile));
    EXPECT_EQ(stream->watchedDirectoryCount(), 3);
}

TEST_F(EventStreamTest, MovesIntoTheTreeCountAsCreated)
{
    QTemporaryDir outside;
    write(outside.path() + "/f.c", "1\n");
    write(outside.path() + "/d/g.c", "2\n");
    startStream();
    ASSERT_EQ(
        ::rename(QFile::encodeName(outside.path() + "/f.c").constData(), QFile::encodeName(path("f.c")).constData()),
        0);
    ASSERT_EQ(::rename(QFile::encodeName(outside.path() + "/d").constData(), QFile::encodeName(path("d")).constData()),
              0);
    EXPECT_TRUE(waitFor(path("f.c"), kEventFlagItemCreated | kEventFlagItemRenamed | kEventFlagItemIsFile));
    EXPECT_TRUE(waitFor(path("d/g.c"), kEventFlagItemCreated | kEventFlagItemIsFile));
    // The moved-in directory is watched.
    write(path("d/g.c"), "3\n");
    EXPECT_TRUE(waitFor(path("d/g.c"), kEventFlagItemModified));
}

TEST_F(EventStreamTest, SymbolicLinksToDirectoriesAreNotFollowed)
{
    QTemporaryDir outside;
    ASSERT_EQ(::symlink(QFile::encodeName(outside.path()).constData(), QFile::encodeName(path("link")).constData()), 0);
    write(outside.path() + "/x.c", "1\n");
    startStream();
    EXPECT_EQ(stream->watchedDirectoryCount(), 1);
    write(outside.path() + "/x.c", "2\n");
    write(path("marker.c"), "m\n");
    ASSERT_TRUE(waitFor(path("marker.c")));
    EXPECT_FALSE(sawPathContaining("x.c"));
}

TEST_F(EventStreamTest, FirstEventAtOnceLaterOnesGrouped)
{
    for (const char* name : {"a.c", "b.c", "c.c"})
        write(path(name), "0\n");
    startStream();
    write(path("a.c"), "1\n");
    ASSERT_TRUE(waitFor(path("a.c")));
    // Within the latency period after that delivery: delivered together, once it has passed.
    write(path("b.c"), "1\n");
    write(path("c.c"), "1\n");
    ASSERT_TRUE(waitFor(path("c.c")));
    QMutexLocker lock(&mutex);
    ASSERT_EQ(batches.size(), 2);
    EXPECT_EQ(batches[0].size(), 1);
    ASSERT_EQ(batches[1].size(), 2);
    EXPECT_EQ(batches[1][0].path, path("b.c"));
    EXPECT_EQ(batches[1][1].path, path("c.c"));
}

TEST_F(EventStreamTest, StoppedStreamDeliversNothingAndRestarts)
{
    write(path("s.c"), "0\n");
    startStream();
    stream->stop();
    write(path("s.c"), "1\n");
    stream->start();
    write(path("t.c"), "1\n");
    ASSERT_TRUE(waitFor(path("t.c")));
    EXPECT_FALSE(sawPathContaining("s.c"));
}

TEST_F(EventStreamTest, QueueOverflowIsLoggedAndTheStreamGoesOn)
{
    QFile limitFile(QStringLiteral("/proc/sys/fs/inotify/max_queued_events"));
    const int limit = limitFile.open(QIODevice::ReadOnly) ? limitFile.readAll().trimmed().toInt() : 0;
    if (limit <= 0 || limit > 100000)
        GTEST_SKIP() << "inotify queue limit " << limit;
    test::LogCapture logs;
    startStream();
    // Hold the queue so the kernel's event queue fills up: each new file is two events.
    std::binary_semaphore held(0);
    queue.async([&] { held.acquire(); });
    const QByteArray dir = QFile::encodeName(root);
    for (int i = 0; i < limit / 2 + 1000; ++i) {
        const int fd = ::open((dir + "/f" + QByteArray::number(i)).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    ASSERT_TRUE(QDir().mkpath(path("made/meanwhile")));
    held.release();
    const QString line = "File event queue overflowed; some changes under " + root + " were missed";
    ASSERT_TRUE(QTest::qWaitFor([&] { return logs.contains(line); }, kWaitMs));
    // Anything in the tree may have changed; its directories are watched as they are now.
    EXPECT_TRUE(waitFor(root, kEventFlagMustScanSubDirs | kEventFlagKernelDropped));
    write(path("after.c"), "1\n");
    EXPECT_TRUE(waitFor(path("after.c")));
    write(path("made/meanwhile/m.c"), "1\n");
    EXPECT_TRUE(waitFor(path("made/meanwhile/m.c")));
}

TEST_F(EventStreamTest, FilesOfAMovedInDirectoryAreReportedOnceNoWriterHoldsThem)
{
    QTemporaryDir outside;
    write(outside.path() + "/d/closed.c", "");
    write(outside.path() + "/d/written.c", "1\n");
    const int held =
        ::open(QFile::encodeName(outside.path() + "/d/held.c").constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::write(held, "1\n", 2), 2);
    startStream();
    ASSERT_EQ(::rename(QFile::encodeName(outside.path() + "/d").constData(), QFile::encodeName(path("d")).constData()),
              0);
    // Their writers closed before the directory was watched: no close will report them.
    EXPECT_EQ(waitFor(path("d/closed.c")), kEventFlagItemCreated | kEventFlagItemIsFile);
    EXPECT_EQ(waitFor(path("d/written.c")), kEventFlagItemCreated | kEventFlagItemIsFile);
    // Still being written: reported complete, once its writer closes it.
    EXPECT_FALSE(sawPathContaining("held.c"));
    ASSERT_EQ(::write(held, "2\n", 2), 2);
    ::close(held);
    EXPECT_EQ(waitFor(path("d/held.c")), kEventFlagItemCreated | kEventFlagItemModified | kEventFlagItemIsFile);
}

// A file that another writer keeps open (a server's database or log) is looked at again only
// briefly after a close: then that writer's close reports it, and nothing polls until then.
TEST_F(EventStreamTest, AWriteToAFileAnotherWriterHoldsIsReportedAtThatClose)
{
    write(path("log.c"), "0\n");
    startStream();
    const int server = ::open(QFile::encodeName(path("log.c")).constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(server, 0);
    write(path("log.c"), "1\n");
    EXPECT_TRUE(QTest::qWaitFor([&] { return stream->filesAwaitingClose().contains(QFile::encodeName(path("log.c"))); },
                                kWaitMs));
    EXPECT_FALSE(sawPathContaining("log.c"));
    ::close(server);
    EXPECT_TRUE(waitFor(path("log.c"), kEventFlagItemModified | kEventFlagItemIsFile));
}

// The directory a missing root is awaited in, and the one above that, keep going away and coming
// back while the stream looks at them. Once they hold still, the root's arrival is still seen.
TEST_F(EventStreamTest, MissingRootArrivingAfterItsParentsKeptChangingIsWatched)
{
    const QString project = path("far/near/project");
    const QByteArray far = QFile::encodeName(path("far"));
    const QByteArray near = far + "/near";
    ASSERT_TRUE(QDir().mkpath(QFile::decodeName(near)));
    startStream({project});
    std::atomic<int> failures = 0;
    std::thread churn([&] {
        const auto check = [&](int result) {
            failures += result != 0;
        };
        for (int k = 0; k < 2000; ++k) {
            check(::rename(near.constData(), (near + ".away").constData()));
            check(::rename((near + ".away").constData(), near.constData()));
            check(::rename(far.constData(), (far + ".away").constData()));
            check(::rename((far + ".away").constData(), far.constData()));
            check(::rmdir(near.constData()));
            check(::mkdir(near.constData(), 0755));
        }
    });
    churn.join();
    ASSERT_EQ(failures, 0);

    write(project + "/a.c", "1\n");
    ASSERT_TRUE(waitFor(project, kEventFlagRootChanged | kEventFlagMustScanSubDirs));
    write(project + "/b.c", "1\n");
    EXPECT_TRUE(waitFor(project + "/b.c", kEventFlagItemCreated));
}

// A root moved away and back while its tree is being set up: a watch added by path meanwhile
// fails, yet once it holds still every directory of its tree is watched.
TEST_F(EventStreamTest, RootMovedAwayAndBackDuringSetUpEndsWithItsWholeTreeWatched)
{
    const QString project = path("project");
    constexpr int kBranches = 100;
    for (int d = 0; d < kBranches; ++d)
        ASSERT_TRUE(QDir().mkpath(project + QStringLiteral("/d%1/e").arg(d)));
    const QByteArray at = QFile::encodeName(project);
    const QByteArray away = at + ".away";
    for (int round = 0; round < 12; ++round) {
        std::atomic<int> moves = 0;
        std::atomic<bool> enough = false;
        std::atomic<int> failures = 0;
        std::thread churn([&] {
            while (!enough) {
                failures += ::rename(at.constData(), away.constData()) != 0;
                failures += ::rename(away.constData(), at.constData()) != 0;
                ++moves;
            }
        });
        while (moves == 0)
            std::this_thread::yield();
        startStream({project});
        // Some more moves while the stream handles the first ones.
        const int started = moves;
        while (moves < started + 100)
            std::this_thread::yield();
        enough = true;
        churn.join();
        ASSERT_EQ(failures, 0);

        ASSERT_TRUE(QTest::qWaitFor([&] { return stream->watchedDirectoryCount() == 1 + 2 * kBranches; }, kWaitMs))
            << "round " << round << ": " << stream->watchedDirectoryCount() << " directories watched";
        write(project + QStringLiteral("/d%1/e/f.c").arg(round), "1\n");
        ASSERT_TRUE(waitFor(project + QStringLiteral("/d%1/e/f.c").arg(round), kEventFlagItemCreated));
        stream->release();
        stream = nullptr;
    }
}

} // namespace
} // namespace jw::fsevents
