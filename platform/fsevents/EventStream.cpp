#include "platform/fsevents/EventStream.h"

#include "platform/Log.h"
#include "platform/SerialQueue.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace jw::fsevents {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kWatchMask = IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE | IN_EXCL_UNLINK;

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

enum class Writers
{
    None,
    Some,
    Unknown
};

// Whether anyone holds the file open for writing: the kernel grants a read lease exactly when
// nobody does. Unknown where leases are refused (another owner's file, a file system without).
Writers openWriters(int dirFd, const char* name)
{
    const int fd = ::openat(dirFd, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
    if (fd < 0)
        return Writers::Unknown;
    Writers writers = Writers::Unknown;
    // A writer opening the file while the lease is held breaks it, and that signals the holder:
    // SIGIO would end the process, SIGURG is ignored unless handled.
    if (::fcntl(fd, F_SETSIG, SIGURG) == 0) {
        if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
            ::fcntl(fd, F_SETLEASE, F_UNLCK);
            writers = Writers::None;
        } else if (errno == EAGAIN) {
            writers = Writers::Some;
        }
    }
    ::close(fd);
    return writers;
}

} // namespace

struct EventStream::State : std::enable_shared_from_this<EventStream::State>
{
    struct Pending
    {
        QByteArray path;
        EventFlags flags;
    };

    EventStream* owner = nullptr;
    StreamCallback callback = nullptr;
    void* info = nullptr;
    QList<QByteArray> roots;
    QSet<QByteArray> excluded;
    Clock::duration latency{};
    SerialQueue* queue = nullptr;

    int fd = -1;
    bool running = false;
    QSocketNotifier* notifier = nullptr;
    QTimer* timer = nullptr;
    Clock::time_point deadline{};
    Clock::time_point lastDelivery{};
    bool delivered = false;

    QHash<int, QByteArray> dirs; // watch descriptor -> directory path
    std::vector<Pending> batch;
    QHash<QByteArray, size_t> batchIndex;
    QSet<QByteArray> awaitingClose; // new files whose writer still holds them open
    std::deque<uint32_t> recentMoveCookies;
    EventId nextId = 1;
    bool watchLimitLogged = false;

    ~State() { closeFd(); }

    void closeFd()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }

    bool startOnQueue()
    {
        if (running)
            return true;
        if (fd < 0)
            fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd < 0) {
            log(QStringLiteral("Could not start watching files: ") + errorText(errno));
            return false;
        }
        running = true;
        for (const QByteArray& root : roots) {
            if (!hasExcludedComponent(root))
                addTree(root, true, false);
        }
        notifier = new QSocketNotifier(fd, QSocketNotifier::Read, queue->context());
        std::weak_ptr<State> weak = shared_from_this();
        QObject::connect(notifier, &QSocketNotifier::activated, notifier, [weak] {
            if (auto self = weak.lock())
                self->onReadable();
        });
        timer = new QTimer(queue->context());
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer, &QTimer::timeout, timer, [weak] {
            if (auto self = weak.lock())
                self->flush();
        });
        return true;
    }

    void stopOnQueue()
    {
        if (!running)
            return;
        running = false;
        // deleteLater: stop may be called from inside a delivery that the notifier started.
        notifier->setEnabled(false);
        notifier->deleteLater();
        notifier = nullptr;
        timer->stop();
        timer->deleteLater();
        timer = nullptr;
        closeFd();
        dirs.clear();
        batch.clear();
        batchIndex.clear();
        awaitingClose.clear();
        recentMoveCookies.clear();
    }

    bool hasExcludedComponent(const QByteArray& path) const
    {
        const QByteArrayList names = path.split('/');
        return std::any_of(names.begin(), names.end(), [&](const QByteArray& n) { return excluded.contains(n); });
    }

    void add(const QByteArray& path, EventFlags flags)
    {
        const auto it = batchIndex.constFind(path);
        if (it != batchIndex.constEnd()) {
            batch[*it].flags |= flags;
            return;
        }
        batchIndex.insert(path, batch.size());
        batch.push_back({path, flags});
    }

    void addTree(const QByteArray& top, bool isRoot, bool reportFiles)
    {
        std::vector<QByteArray> stack{top};
        bool first = true;
        while (!stack.empty() && running) {
            const QByteArray dir = std::move(stack.back());
            stack.pop_back();
            // Below the roots, a symbolic link to a directory is not followed.
            const uint32_t mask = kWatchMask | IN_ONLYDIR | (isRoot && first ? 0u : uint32_t(IN_DONT_FOLLOW));
            first = false;
            const int wd = inotify_add_watch(fd, dir.constData(), mask);
            if (wd < 0) {
                const int error = errno;
                if (error == ENOSPC) {
                    if (!watchLimitLogged)
                        log(QStringLiteral("Could not watch ") + QFile::decodeName(dir)
                            + QStringLiteral(": the inotify watch limit (fs.inotify.max_user_watches) is reached;"
                                             " changes in directories not yet watched are missed"));
                    watchLimitLogged = true;
                } else if (error != ENOENT && error != ENOTDIR) {
                    log(QStringLiteral("Could not watch directory ") + QFile::decodeName(dir) + QStringLiteral(": ")
                        + errorText(error));
                }
                continue;
            }
            dirs.insert(wd, dir);

            DIR* d = ::opendir(dir.constData());
            if (!d)
                continue;
            const QByteArray prefix = dir == "/" ? QByteArray() : dir;
            while (const dirent* entry = ::readdir(d)) {
                const char* name = entry->d_name;
                if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
                    continue;
                unsigned char type = entry->d_type;
                if (type == DT_UNKNOWN) {
                    struct stat st;
                    if (::fstatat(::dirfd(d), name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                        continue;
                    type = S_ISDIR(st.st_mode)   ? DT_DIR
                           : S_ISLNK(st.st_mode) ? DT_LNK
                           : S_ISREG(st.st_mode) ? DT_REG
                                                 : DT_UNKNOWN;
                }
                const QByteArray path = prefix + '/' + name;
                if (type == DT_DIR) {
                    if (excluded.contains(QByteArray::fromRawData(name, qsizetype(std::strlen(name)))))
                        continue;
                    if (reportFiles)
                        add(path, kEventFlagItemCreated | kEventFlagItemIsDir);
                    stack.push_back(path);
                } else if (reportFiles) {
                    // Files that arrived before their directory was watched: a writer that closed
                    // one before then raised no event the watch could see.
                    if (type == DT_LNK)
                        add(path, kEventFlagItemCreated | kEventFlagItemIsSymlink);
                    else if (type == DT_REG && openWriters(::dirfd(d), name) == Writers::Some)
                        awaitingClose.insert(path);
                    else
                        add(path, kEventFlagItemCreated | kEventFlagItemIsFile);
                }
            }
            ::closedir(d);
        }
    }

    void removeTree(const QByteArray& top)
    {
        const QByteArray below = top + '/';
        for (auto it = dirs.begin(); it != dirs.end();) {
            if (it.value() == top || it.value().startsWith(below)) {
                inotify_rm_watch(fd, it.key());
                it = dirs.erase(it);
            } else {
                ++it;
            }
        }
    }

    // Returns whether the event should open a batch at once.
    bool handle(const inotify_event* e)
    {
        if (e->mask & IN_Q_OVERFLOW) {
            QStringList names;
            for (const QByteArray& root : roots)
                names << QFile::decodeName(root);
            log(QStringLiteral("File event queue overflowed; some changes under ") + names.join(QStringLiteral(", "))
                + QStringLiteral(" were missed"));
            return false;
        }
        const auto it = dirs.constFind(e->wd);
        if (it == dirs.constEnd())
            return false;
        if (e->mask & IN_IGNORED) {
            dirs.remove(e->wd);
            return false;
        }
        if (e->len == 0 || e->name[0] == 0)
            return false;
        const QByteArray path = (it.value() == "/" ? QByteArray() : it.value()) + '/' + e->name;

        if (e->mask & IN_ISDIR) {
            if (excluded.contains(QByteArray(e->name)))
                return false;
            if (e->mask & IN_CREATE) {
                add(path, kEventFlagItemCreated | kEventFlagItemIsDir);
                addTree(path, false, true);
            } else if (e->mask & IN_MOVED_TO) {
                add(path, kEventFlagItemCreated | kEventFlagItemRenamed | kEventFlagItemIsDir);
                addTree(path, false, true);
            } else if (e->mask & IN_MOVED_FROM) {
                removeTree(path);
                add(path, kEventFlagItemRenamed | kEventFlagItemIsDir);
            } else if (e->mask & IN_DELETE) {
                add(path, kEventFlagItemRemoved | kEventFlagItemIsDir);
            }
            return false;
        }

        if (e->mask & IN_CREATE) {
            struct stat st;
            const bool known = ::lstat(path.constData(), &st) == 0;
            if (known && S_ISLNK(st.st_mode)) {
                add(path, kEventFlagItemCreated | kEventFlagItemIsSymlink);
            } else if (known && S_ISREG(st.st_mode)) {
                // Its writer's close reports it, complete. Where the writers cannot be told, an
                // empty file waits for the close its creation promises.
                const Writers writers = openWriters(AT_FDCWD, path.constData());
                if (writers == Writers::Some || (writers == Writers::Unknown && st.st_size == 0))
                    awaitingClose.insert(path);
                else
                    add(path, kEventFlagItemCreated | kEventFlagItemIsFile);
            } else {
                add(path, kEventFlagItemCreated | kEventFlagItemIsFile);
            }
            return false;
        }
        if (e->mask & IN_CLOSE_WRITE) {
            const auto pending = batchIndex.constFind(path);
            const bool createdInBatch =
                pending != batchIndex.constEnd() && (batch[*pending].flags & kEventFlagItemCreated);
            if (awaitingClose.remove(path) || createdInBatch) {
                // Often the temporary file of an atomic save: let the rename that follows open
                // the batch rather than this.
                add(path, kEventFlagItemCreated | kEventFlagItemModified | kEventFlagItemIsFile);
                return false;
            }
            add(path, kEventFlagItemModified | kEventFlagItemIsFile);
            return true;
        }
        if (e->mask & IN_MOVED_FROM) {
            awaitingClose.remove(path);
            recentMoveCookies.push_back(e->cookie);
            if (recentMoveCookies.size() > 64)
                recentMoveCookies.pop_front();
            add(path, kEventFlagItemRenamed | kEventFlagItemIsFile);
            return false;
        }
        if (e->mask & IN_MOVED_TO) {
            awaitingClose.remove(path);
            EventFlags flags = kEventFlagItemRenamed;
            if (std::find(recentMoveCookies.begin(), recentMoveCookies.end(), e->cookie) == recentMoveCookies.end())
                flags |= kEventFlagItemCreated; // moved in from outside the tree
            struct stat st;
            const bool link = ::lstat(path.constData(), &st) == 0 && S_ISLNK(st.st_mode);
            add(path, flags | (link ? kEventFlagItemIsSymlink : kEventFlagItemIsFile));
            return true;
        }
        if (e->mask & IN_DELETE) {
            awaitingClose.remove(path);
            add(path, kEventFlagItemRemoved | kEventFlagItemIsFile);
        }
        return false;
    }

    void onReadable()
    {
        alignas(inotify_event) char buffer[64 * 1024];
        bool triggered = false;
        while (running) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0)
                break; // EAGAIN: drained
            for (ssize_t offset = 0; offset < n && running;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buffer + offset);
                triggered |= handle(e);
                offset += ssize_t(sizeof(inotify_event) + e->len);
            }
        }
        if (!running || batch.empty())
            return;
        const Clock::time_point now = Clock::now();
        if (triggered && (!delivered || now - lastDelivery >= latency)) {
            flush();
            return;
        }
        const Clock::time_point due = triggered ? lastDelivery + latency : now + latency;
        if (!timer->isActive() || due < deadline)
            arm(due, now);
    }

    void arm(Clock::time_point due, Clock::time_point now)
    {
        deadline = due;
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(due - now + std::chrono::microseconds(999));
        timer->start(std::max<qint64>(0, wait.count()));
    }

    void flush()
    {
        if (!running || batch.empty())
            return;
        timer->stop();
        std::vector<Pending> events;
        events.swap(batch);
        batchIndex.clear();
        lastDelivery = Clock::now();
        delivered = true;

        QByteArrayList paths;
        paths.reserve(qsizetype(events.size()));
        std::vector<EventFlags> flags;
        std::vector<EventId> ids;
        flags.reserve(events.size());
        ids.reserve(events.size());
        for (Pending& p : events) {
            paths << std::move(p.path);
            flags.push_back(p.flags);
            ids.push_back(nextId++);
        }
        // The callback may stop or release the stream; this reference keeps the state alive
        // until it returns.
        const std::shared_ptr<State> keep = shared_from_this();
        callback(owner, info, events.size(), &paths, flags.data(), ids.data());
    }
};

EventStream* EventStream::create(StreamCallback callback,
                                 const StreamContext* context,
                                 const QStringList& pathsToWatch,
                                 EventId sinceWhen,
                                 double latency,
                                 CreateFlags flags)
{
    // Only "since now" exists here: inotify keeps no history. The flags ask for what this
    // stream always does (file-level events, no deferral, paths as a string list).
    Q_UNUSED(sinceWhen);
    Q_UNUSED(flags);
    if (!callback || pathsToWatch.isEmpty())
        return nullptr;
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) {
        log(QStringLiteral("Could not start watching files: ") + errorText(errno));
        return nullptr;
    }
    auto* stream = new EventStream;
    stream->m_state = std::make_shared<State>();
    State& s = *stream->m_state;
    s.fd = fd;
    s.owner = stream;
    s.callback = callback;
    s.info = context ? context->info : nullptr;
    for (const QString& path : pathsToWatch)
        s.roots << QFile::encodeName(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    s.latency = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(std::max(0.0, latency)));
    return stream;
}

EventStream::~EventStream() = default;

void EventStream::setDispatchQueue(SerialQueue* queue)
{
    m_queue = queue;
    m_state->queue = queue;
}

void EventStream::setExcludedDirectoryNames(const QSet<QByteArray>& names)
{
    State* s = m_state.get();
    if (m_queue)
        m_queue->sync([s, &names] { s->excluded = names; });
    else
        s->excluded = names;
}

bool EventStream::start()
{
    if (!m_queue)
        return false;
    bool ok = false;
    State* s = m_state.get();
    m_queue->sync([&] { ok = s->startOnQueue(); });
    return ok;
}

void EventStream::stop()
{
    if (!m_queue)
        return;
    State* s = m_state.get();
    m_queue->sync([s] { s->stopOnQueue(); });
}

void EventStream::invalidate()
{
    stop();
    if (m_queue) {
        State* s = m_state.get();
        m_queue->sync([s] { s->closeFd(); });
    } else {
        m_state->closeFd();
    }
}

void EventStream::release()
{
    invalidate();
    m_state->owner = nullptr;
    delete this;
}

int EventStream::watchedDirectoryCount() const
{
    if (!m_queue)
        return 0;
    int n = 0;
    const State* s = m_state.get();
    m_queue->sync([&] { n = int(s->dirs.size()); });
    return n;
}

} // namespace jw::fsevents
