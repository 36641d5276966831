#include "platform/fsevents/EventStream.h"

#include "platform/Log.h"
#include "platform/ReadLease.h"
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
#include <functional>
#include <linux/openat2.h>
#include <map>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace jw::fsevents {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kTreeMask = IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE | IN_EXCL_UNLINK;
// A watch follows its directory wherever it goes. A root and the directories above it are also
// watched for moving or going away: the tree's events would otherwise go on under a gone path.
constexpr uint32_t kSelfMask = IN_MOVE_SELF | IN_DELETE_SELF;
// For a child that is missing or cannot be read: its arrival, or a change of its permissions.
constexpr uint32_t kChildMask = IN_CREATE | IN_MOVED_TO | IN_ATTRIB;
// For a symbolic link on the way to a root: its replacement, which retargets the root while the
// watches stay on the old target.
constexpr uint32_t kLinkMask = IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE;

// Bounds the looks at a root whose path keeps changing while it is looked at; when they run out,
// it is looked at again after a pause.
constexpr int kMaxRootChecks = 8;
constexpr std::chrono::milliseconds kRootRecheckDelay{250};

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString shown(const QByteArray& path)
{
    return QFile::decodeName(path);
}

QByteArray join(const QByteArray& dir, const QByteArray& name)
{
    return (dir == "/" ? QByteArray() : dir) + '/' + name;
}

QByteArray parentOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.left(slash);
}

// Whether path is top or lies below it.
bool isWithin(const QByteArray& path, const QByteArray& top)
{
    if (top == "/")
        return path.startsWith('/');
    return path.startsWith(top) && (path.size() == top.size() || path.at(top.size()) == '/');
}

void eraseWithin(QSet<QByteArray>& set, const QByteArray& top)
{
    for (auto it = set.begin(); it != set.end();)
        it = isWithin(*it, top) ? set.erase(it) : std::next(it);
}

bool isDirectory(const QByteArray& path, struct stat* st)
{
    return ::stat(path.constData(), st) == 0 && S_ISDIR(st->st_mode);
}

// Opens a name only as far as the dentry cache resolves it. Right after a rename or unlink the old
// name is not there, and a full lookup would wait on the directory lock that the rename holds
// while the file system finishes it (removing the file it replaced may wait on the journal for
// many milliseconds), holding up the events that are already queued. A name that anyone holds
// open is always cached. Kernels without cached lookups (before 5.12) look up as usual.
int openCached(int dirFd, const char* name, int flags)
{
    open_how how{};
    how.flags = uint64_t(flags);
    how.resolve = RESOLVE_CACHED;
    const long fd = ::syscall(SYS_openat2, dirFd, name, &how, sizeof how);
    if (fd >= 0 || (errno != ENOSYS && errno != EINVAL))
        return int(fd);
    return ::openat(dirFd, name, flags);
}

bool lstatCached(const char* path, struct stat* st)
{
    const int fd = openCached(AT_FDCWD, path, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fstat(fd, st) == 0;
    ::close(fd);
    return ok;
}

// Whether anyone holds the file open for writing.
Writers openWriters(int dirFd, const char* name)
{
    const int fd = openCached(dirFd, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
    if (fd < 0)
        return Writers::Unknown;
    const Writers writers = ReadLease(fd).writers();
    ::close(fd);
    return writers;
}

// One inotify instance serves every stream whose queue runs on this thread: the kernel grants a
// user few instances (fs.inotify.max_user_instances, 128 by default, shared with every program
// the user runs), while watches are plentiful. One inode has one watch in an instance, so streams
// whose trees meet share it; a watch is removed once no stream holds it.
class Inotify : public std::enable_shared_from_this<Inotify>
{
public:
    struct Reader
    {
        // Takes one event; returns whether it should open a batch at once.
        std::function<bool(const inotify_event*)> handle;
        // After the events read at once: whether one of them opened a batch.
        std::function<void(bool)> endOfRead;
        QSet<int> held;
        bool triggered = false;
    };

    // The calling thread's instance, opened on first use; null when the kernel refuses (logged).
    static std::shared_ptr<Inotify> ofThisThread(QObject* context)
    {
        thread_local std::weak_ptr<Inotify> current;
        if (auto existing = current.lock())
            return existing;
        const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd < 0) {
            log(QStringLiteral("Could not start watching files: ") + errorText(errno));
            return nullptr;
        }
        auto made = std::shared_ptr<Inotify>(new Inotify(fd, context));
        current = made;
        return made;
    }

    ~Inotify()
    {
        // deleteLater: the last stream may stop inside a delivery that the notifier started.
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        ::close(m_fd);
    }

    Inotify(const Inotify&) = delete;
    Inotify& operator=(const Inotify&) = delete;

    int subscribe(Reader reader)
    {
        const int id = m_nextId++;
        m_readers.emplace(id, std::move(reader));
        return id;
    }

    void unsubscribe(int id)
    {
        const auto it = m_readers.find(id);
        if (it == m_readers.end())
            return;
        const QSet<int> held = std::move(it->second.held);
        m_readers.erase(it);
        for (const int wd : held)
            release(id, wd);
    }

    // inotify_add_watch for one reader; errno tells why it failed.
    int addWatch(int id, const QByteArray& path, uint32_t mask)
    {
        const int wd = inotify_add_watch(m_fd, path.constData(), mask);
        const int error = errno;
        const auto it = m_readers.find(id);
        if (wd >= 0 && it != m_readers.end() && !it->second.held.contains(wd)) {
            it->second.held.insert(wd);
            m_holders[wd].push_back(id);
        }
        errno = error;
        return wd;
    }

    void removeWatch(int id, int wd)
    {
        const auto it = m_readers.find(id);
        if (it != m_readers.end() && it->second.held.remove(wd))
            release(id, wd);
    }

private:
    Inotify(int fd, QObject* context)
        : m_fd(fd)
        , m_notifier(new QSocketNotifier(fd, QSocketNotifier::Read, context))
    {
        QObject::connect(m_notifier, &QSocketNotifier::activated, m_notifier, [this] { onReadable(); });
    }

    void release(int id, int wd)
    {
        const auto it = m_holders.find(wd);
        if (it == m_holders.end())
            return;
        std::erase(*it, id);
        if (it->empty()) {
            m_holders.erase(it);
            inotify_rm_watch(m_fd, wd);
        }
    }

    void onReadable()
    {
        // A reader's delivery may stop the last stream, which releases this instance.
        const std::shared_ptr<Inotify> keep = shared_from_this();
        alignas(inotify_event) char buffer[64 * 1024];
        while (!m_readers.empty()) {
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n <= 0)
                break; // EAGAIN: drained
            for (ssize_t offset = 0; offset < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buffer + offset);
                // Each event to the streams holding its watch; one without (an overflow) to all. A
                // copy: a reader's handling may add or drop watches, or stop its stream.
                std::vector<int> to;
                if (e->wd < 0) {
                    for (const auto& [id, reader] : m_readers)
                        to.push_back(id);
                } else {
                    to = m_holders.value(e->wd);
                }
                for (const int id : to) {
                    const auto it = m_readers.find(id);
                    if (it != m_readers.end())
                        it->second.triggered |= it->second.handle(e);
                }
                if (e->mask & IN_IGNORED) {
                    m_holders.remove(e->wd);
                    for (auto& [id, reader] : m_readers)
                        reader.held.remove(e->wd);
                }
                offset += ssize_t(sizeof(inotify_event) + e->len);
            }
        }
        std::vector<int> ids;
        for (const auto& [id, reader] : m_readers)
            ids.push_back(id);
        for (const int id : ids) {
            const auto it = m_readers.find(id);
            if (it == m_readers.end())
                continue;
            const bool triggered = std::exchange(it->second.triggered, false);
            const std::function<void(bool)> endOfRead = it->second.endOfRead;
            endOfRead(triggered);
        }
    }

    int m_fd;
    QSocketNotifier* m_notifier;
    QHash<int, std::vector<int>> m_holders; // watch descriptor -> the readers holding it
    std::map<int, Reader> m_readers;
    int m_nextId = 1;
};

} // namespace

struct EventStream::State : std::enable_shared_from_this<EventStream::State>
{
    struct Pending
    {
        QByteArray path;
        EventFlags flags;
        int rechecks = 0;
    };

    // The kernel lets go of a closed file within moments; a writer left after that is another
    // one, whose own close reports the file.
    static constexpr int kMaxRechecks = 4;

    // What setting up a tree does with the files it finds.
    enum class Contents
    {
        Unreported, // nothing: their text was read before
        Scanned,    // they are read by a scan: one that a writer holds open waits for its close
        Created,    // each is reported as created, one that a writer holds open at its close
    };

    enum class RootStatus
    {
        Missing,
        Unreadable,
        Watched,
        Excluded
    };

    struct Root
    {
        explicit Root(QByteArray p)
            : path(std::move(p))
        {
        }

        QByteArray path;
        RootStatus status = RootStatus::Missing;
        int wd = -1;
        dev_t device = 0;
        ino_t inode = 0;
        // While the root is not watched: the directory watched for the child on the way to it.
        QByteArray waitingIn;
        QByteArray waitingFor;
    };

    // A directory above roots, watched for their sake. One inode has one watch, so roots that
    // share a directory above them share its watch.
    struct Anchor
    {
        struct Role
        {
            size_t root;
            QByteArray child; // the next name on the way down to the root
            bool waiting;     // the child is missing, or is the root and not watched
            bool link;        // the child is a symbolic link
        };
        std::vector<Role> roles;
    };

    struct MovedAway
    {
        uint32_t cookie;
        QByteArray path;
    };

    EventStream* owner = nullptr;
    StreamCallback callback = nullptr;
    void* info = nullptr;
    std::vector<Root> roots;
    QSet<QByteArray> excluded;
    Clock::duration latency{};
    SerialQueue* queue = nullptr;

    std::shared_ptr<Inotify> inotify;
    int reader = 0;
    bool running = false;
    QTimer* timer = nullptr;
    QTimer* recheckTimer = nullptr;
    QSet<size_t> unsettledRoots; // roots whose looks ran out, waiting for recheckTimer
    Clock::time_point deadline{};
    Clock::time_point lastDelivery{};
    bool delivered = false;

    // A watch's mask only ever grows (a smaller one would have to be set by path, which may name
    // another directory by then); what a watch is for decides what its events mean.
    QHash<int, QByteArray> dirs; // watch descriptor -> directory of a tree
    QHash<int, Anchor> anchors;  // watch descriptor -> directory above roots
    QSet<QByteArray> blocked;    // directories of a tree that could not be read
    std::vector<Pending> batch;
    QHash<QByteArray, size_t> batchIndex;
    QSet<QByteArray> awaitingClose; // new files whose writer still holds them open
    std::deque<uint32_t> recentMoveCookies;
    std::vector<MovedAway> movedAway; // directories moved from a tree, not (yet) seen arriving
    EventId nextId = 1;
    bool watchLimitLogged = false;
    bool missingWatches = false; // some directory could not be watched for want of inotify resources

    ~State() { closeFd(); }

    void closeFd()
    {
        if (inotify)
            inotify->unsubscribe(reader);
        inotify.reset();
    }

    int addWatch(const QByteArray& path, uint32_t mask) { return inotify->addWatch(reader, path, mask); }
    void removeWatch(int wd) { inotify->removeWatch(reader, wd); }

    bool startOnQueue()
    {
        if (running)
            return true;
        std::weak_ptr<State> weak = shared_from_this();
        missingWatches = false;
        if (!inotify) {
            inotify = Inotify::ofThisThread(queue->context());
            missingWatches = !inotify;
            if (!inotify)
                return false;
            reader = inotify->subscribe({[weak](const inotify_event* e) {
                                             auto self = weak.lock();
                                             return self && self->running && self->handle(e);
                                         },
                                         [weak](bool triggered) {
                                             if (auto self = weak.lock())
                                                 self->endOfRead(triggered);
                                         },
                                         {},
                                         false});
        }
        running = true;
        timer = new QTimer(queue->context());
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer, &QTimer::timeout, timer, [weak] {
            if (auto self = weak.lock())
                self->flush();
        });
        recheckTimer = new QTimer(queue->context());
        recheckTimer->setSingleShot(true);
        QObject::connect(recheckTimer, &QTimer::timeout, recheckTimer, [weak] {
            if (auto self = weak.lock())
                self->recheckUnsettledRoots();
        });
        for (Root& root : roots) {
            root = Root(root.path);
            if (hasExcludedComponent(root.path))
                root.status = RootStatus::Excluded;
        }
        for (size_t i = 0; i < roots.size(); ++i)
            checkRoot(i, true);
        return true;
    }

    void stopOnQueue()
    {
        if (!running)
            return;
        running = false;
        // deleteLater: stop may be called from inside a delivery that the notifier started.
        timer->stop();
        timer->deleteLater();
        timer = nullptr;
        recheckTimer->stop();
        recheckTimer->deleteLater();
        recheckTimer = nullptr;
        unsettledRoots.clear();
        closeFd();
        dirs.clear();
        anchors.clear();
        blocked.clear();
        batch.clear();
        batchIndex.clear();
        awaitingClose.clear();
        recentMoveCookies.clear();
        movedAway.clear();
    }

    bool hasExcludedComponent(const QByteArray& path) const
    {
        const QByteArrayList names = path.split('/');
        return std::any_of(names.begin(), names.end(), [&](const QByteArray& n) { return excluded.contains(n); });
    }

    // A file that a writer holds open is reported at its writer's close, complete; what is pending
    // for it until then goes with that close.
    void holdUntilClosed(const QByteArray& path)
    {
        awaitingClose.insert(path);
        const auto it = batchIndex.constFind(path);
        if (it != batchIndex.constEnd())
            batch[*it].flags = 0;
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

    // Pending events below a directory that moved or went away name paths that are gone.
    void dropPendingBelow(const QByteArray& top)
    {
        std::vector<Pending> kept;
        kept.reserve(batch.size());
        batchIndex.clear();
        for (Pending& p : batch) {
            if (p.path != top && isWithin(p.path, top))
                continue;
            batchIndex.insert(p.path, kept.size());
            kept.push_back(std::move(p));
        }
        batch.swap(kept);
    }

    // Watches top and every directory below it, treating what they hold as contents says.
    // Returns top's watch descriptor, or minus the error that refused it.
    int addTree(const QByteArray& top, bool isRoot, Contents contents, bool quiet)
    {
        std::vector<QByteArray> stack{top};
        int topResult = -ENOENT;
        bool first = true;
        while (!stack.empty() && running) {
            const QByteArray dir = std::move(stack.back());
            stack.pop_back();
            const bool isTop = first;
            first = false;
            // Below the roots, a symbolic link to a directory is not followed.
            const uint32_t mask =
                kTreeMask | IN_ONLYDIR | IN_MASK_ADD | (isRoot && isTop ? kSelfMask : uint32_t(IN_DONT_FOLLOW));
            const int wd = addWatch(dir, mask);
            if (isTop)
                topResult = wd >= 0 ? wd : -errno;
            if (wd < 0) {
                const int error = errno;
                if (error == ENOSPC) {
                    missingWatches = true;
                    if (!watchLimitLogged)
                        log(QStringLiteral("Could not watch ") + shown(dir)
                            + QStringLiteral(": the inotify watch limit (fs.inotify.max_user_watches) is reached;"
                                             " changes in directories not yet watched are missed"));
                    watchLimitLogged = true;
                } else if (error != ENOENT && error != ENOTDIR && !quiet) {
                    log(QStringLiteral("Could not watch directory ") + shown(dir) + QStringLiteral(": ")
                        + errorText(error));
                }
                // Its parent tells when its permissions change. (A root's parent is watched as
                // the root's anchor.)
                if (error == EACCES && !(isRoot && isTop)) {
                    blocked.insert(dir);
                    addWatch(parentOf(dir), IN_ATTRIB | IN_MASK_ADD | IN_ONLYDIR);
                }
                continue;
            }
            dirs.insert(wd, dir);

            DIR* d = ::opendir(dir.constData());
            if (!d)
                continue;
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
                if (type == DT_DIR) {
                    if (excluded.contains(QByteArray::fromRawData(name, qsizetype(std::strlen(name)))))
                        continue;
                    const QByteArray path = join(dir, name);
                    if (contents == Contents::Created)
                        add(path, kEventFlagItemCreated | kEventFlagItemIsDir);
                    stack.push_back(path);
                    continue;
                }
                if (contents == Contents::Unreported)
                    continue;
                // Files that arrived before their directory was watched: a writer that closed one
                // before then raised no event the watch could see. One still being written is
                // neither reported nor to be scanned before its writer's close.
                if (type == DT_REG && openWriters(::dirfd(d), name) == Writers::Some)
                    awaitingClose.insert(join(dir, name));
                else if (contents == Contents::Created)
                    add(join(dir, name),
                        kEventFlagItemCreated | (type == DT_LNK ? kEventFlagItemIsSymlink : kEventFlagItemIsFile));
            }
            ::closedir(d);
        }
        return topResult;
    }

    void removeTree(const QByteArray& top)
    {
        for (auto it = dirs.begin(); it != dirs.end();) {
            if (isWithin(it.value(), top)) {
                if (!anchors.contains(it.key()))
                    removeWatch(it.key());
                it = dirs.erase(it);
            } else {
                ++it;
            }
        }
        eraseWithin(blocked, top);
        eraseWithin(awaitingClose, top);
        dropPendingBelow(top);
    }

    // Brings root i's watches in line with what its path names now: its tree while it is there,
    // the directories above it in any case. Returns whether a change was reported.
    bool checkRoot(size_t i, bool initial, bool moved = false)
    {
        Root& root = roots[i];
        if (root.status == RootStatus::Excluded)
            return false;
        bool reported = false;
        bool settled = false;
        for (int look = 0; look < kMaxRootChecks && running && !settled; ++look) {
            struct stat st;
            const bool isDir = isDirectory(root.path, &st);
            if (root.status == RootStatus::Watched && !(isDir && st.st_dev == root.device && st.st_ino == root.inode)) {
                removeTree(root.path);
                root.wd = -1;
                root.status = RootStatus::Missing;
                log(QStringLiteral("Watched directory is gone, waiting for it to come back: ") + shown(root.path));
                add(root.path, kEventFlagRootChanged);
                reported = true;
            }
            if (!isDir && root.status == RootStatus::Unreadable)
                root.status = RootStatus::Missing;
            if (isDir && root.status != RootStatus::Watched) {
                const RootStatus before = root.status;
                const int wd = addTree(root.path,
                                       true,
                                       initial ? Contents::Unreported : Contents::Scanned,
                                       before == RootStatus::Unreadable);
                if (wd >= 0) {
                    root.wd = wd;
                    root.device = st.st_dev;
                    root.inode = st.st_ino;
                    root.status = RootStatus::Watched;
                    if (!initial) {
                        log(before == RootStatus::Unreadable
                                ? QStringLiteral("Directory can be read now, watching it: ") + shown(root.path)
                                : QStringLiteral("Watched directory is back, watching it again: ") + shown(root.path));
                        add(root.path, kEventFlagRootChanged | kEventFlagMustScanSubDirs);
                        reported = true;
                    }
                } else {
                    root.status = wd == -EACCES ? RootStatus::Unreadable : RootStatus::Missing;
                }
            } else if (moved && root.status == RootStatus::Watched) {
                // Moved and back in place: watches added by path while it was away failed. Setting
                // the tree up again keeps the watches it has and adds the missing ones.
                const int wd = addTree(root.path, true, Contents::Scanned, false);
                if (wd >= 0)
                    root.wd = wd;
                log(QStringLiteral("Watched directory moved and is back in place, watching its tree again: ")
                    + shown(root.path));
                add(root.path, kEventFlagMustScanSubDirs);
                reported = true;
            }
            moved = false;
            settled = anchorAncestors(i) && rootSettled(root);
        }
        if (settled || !running) {
            unsettledRoots.remove(i);
        } else if (!unsettledRoots.contains(i)) {
            // No watch may be in place to tell of its next change: look again after a pause.
            log(QStringLiteral("Watched directory keeps changing, looking at it again shortly: ") + shown(root.path));
            unsettledRoots.insert(i);
            recheckTimer->start(kRootRecheckDelay);
        } else if (!recheckTimer->isActive()) {
            recheckTimer->start(kRootRecheckDelay);
        }
        return reported;
    }

    void recheckUnsettledRoots()
    {
        bool triggered = false;
        for (const size_t i : QSet<size_t>(unsettledRoots))
            triggered |= checkRoot(i, false);
        deliverOrWait(triggered);
    }

    // Watches every directory above root i for moving or going away, and the first one whose
    // child on the way down is missing (or is the root, not watched) for that child as well.
    // Returns false when one of them went away before its watch was in place: what that watch was
    // to tell is lost, so the way down has to be walked again.
    bool anchorAncestors(size_t i)
    {
        dropAnchors(i);
        Root& root = roots[i];
        root.waitingIn.clear();
        root.waitingFor.clear();
        const QByteArrayList names = root.path.split('/');
        QByteArray dir("/");
        for (qsizetype k = 1; k < names.size(); ++k) {
            const QByteArray& child = names[k];
            if (child.isEmpty())
                continue;
            const QByteArray childPath = join(dir, child);
            struct stat st;
            const bool waiting =
                k == names.size() - 1 ? root.status != RootStatus::Watched : !isDirectory(childPath, &st);
            const bool link = ::lstat(childPath.constData(), &st) == 0 && S_ISLNK(st.st_mode);
            // The file-system root never moves: it is watched only for what it is awaited to hold.
            if (waiting || link || dir != "/") {
                const uint32_t mask =
                    kSelfMask | (waiting ? kChildMask : 0u) | (link ? kLinkMask : 0u) | IN_ONLYDIR | IN_MASK_ADD;
                const int wd = addWatch(dir, mask);
                if (wd >= 0)
                    anchors[wd].roles.push_back({i, child, waiting, link});
                else if (errno == ENOENT || errno == ENOTDIR)
                    return false;
            }
            if (waiting) {
                root.waitingIn = dir;
                root.waitingFor = child;
                return true;
            }
            dir = childPath;
        }
        return true;
    }

    void dropAnchors(size_t i)
    {
        for (auto it = anchors.begin(); it != anchors.end();) {
            std::vector<Anchor::Role>& roles = it->roles;
            roles.erase(std::remove_if(roles.begin(), roles.end(), [i](const Anchor::Role& r) { return r.root == i; }),
                        roles.end());
            if (roles.empty()) {
                if (!dirs.contains(it.key()))
                    removeWatch(it.key());
                it = anchors.erase(it);
            } else {
                ++it;
            }
        }
    }

    // Whether what was looked at still holds now that the watches that would tell of a change
    // are in place; a change in between would otherwise go unseen.
    bool rootSettled(const Root& root) const
    {
        struct stat st;
        if (root.status == RootStatus::Watched)
            return isDirectory(root.path, &st) && st.st_dev == root.device && st.st_ino == root.inode;
        if (root.waitingIn.isEmpty())
            return true; // nothing above it could be watched
        // Only the directory waited in tells of the child's arrival.
        if (!isDirectory(root.waitingIn, &st))
            return false;
        const QByteArray awaited = join(root.waitingIn, root.waitingFor);
        if (!isDirectory(awaited, &st))
            return true;
        if (root.status != RootStatus::Unreadable || awaited != root.path)
            return false;
        DIR* d = ::opendir(awaited.constData());
        if (d)
            ::closedir(d);
        return !d;
    }

    // After events were lost, the watches may miss directories that appeared and name ones that
    // went away or elsewhere: each root is looked at again, its tree set up anew and reported as
    // must-scan and kernel-dropped, since anything in it may have changed.
    bool resync()
    {
        bool reported = false;
        for (size_t i = 0; i < roots.size(); ++i)
            reported |= checkRoot(i, false);
        // Directories seen leaving a tree may have arrived elsewhere in one unseen: the walk tells.
        movedAway.clear();
        const QHash<int, QByteArray> before = std::exchange(dirs, {});
        for (const Root& root : roots) {
            if (root.status != RootStatus::Watched)
                continue;
            eraseWithin(blocked, root.path);
            eraseWithin(awaitingClose, root.path);
            addTree(root.path, true, Contents::Scanned, false);
            add(root.path, kEventFlagMustScanSubDirs | kEventFlagKernelDropped);
            reported = true;
        }
        for (auto it = before.constBegin(); it != before.constEnd(); ++it) {
            if (!dirs.contains(it.key()) && !anchors.contains(it.key()))
                removeWatch(it.key());
        }
        return reported;
    }

    // Returns whether the event should open a batch at once.
    bool handle(const inotify_event* e)
    {
        if (e->mask & IN_Q_OVERFLOW) {
            QStringList names;
            for (const Root& root : roots)
                names << shown(root.path);
            log(QStringLiteral("File event queue overflowed; some changes under ") + names.join(QStringLiteral(", "))
                + QStringLiteral(" were missed"));
            return resync();
        }
        const QByteArray name = e->len ? QByteArray(e->name) : QByteArray();
        bool triggered = false;

        const auto anchor = anchors.constFind(e->wd);
        if (anchor != anchors.constEnd()) {
            std::vector<size_t> affected;
            for (const Anchor::Role& role : anchor->roles) {
                const bool moved = e->mask & (kSelfMask | IN_IGNORED);
                const bool awaited = role.waiting && (e->mask & kChildMask) && (name.isEmpty() || name == role.child);
                const bool relinked = role.link && (e->mask & kLinkMask) && name == role.child;
                if (moved || awaited || relinked)
                    affected.push_back(role.root);
            }
            if (e->mask & IN_IGNORED)
                anchors.remove(e->wd);
            for (const size_t i : affected)
                triggered |= checkRoot(i, false);
        }

        const auto it = dirs.constFind(e->wd);
        if (it == dirs.constEnd())
            return triggered;
        if (e->mask & (kSelfMask | IN_IGNORED)) {
            for (size_t i = 0; i < roots.size(); ++i) {
                if (roots[i].status == RootStatus::Watched && roots[i].wd == e->wd)
                    return checkRoot(i, false, e->mask & IN_MOVE_SELF) || triggered;
            }
            if (e->mask & IN_IGNORED)
                dirs.remove(e->wd);
            return triggered;
        }
        if (name.isEmpty())
            return triggered;
        const QByteArray path = join(it.value(), name);
        if (e->mask & IN_ISDIR)
            return handleDirectory(e, path, name) || triggered;

        if (e->mask & IN_CREATE) {
            struct stat st;
            const bool known = lstatCached(path.constData(), &st);
            if (known && S_ISLNK(st.st_mode)) {
                add(path, kEventFlagItemCreated | kEventFlagItemIsSymlink);
            } else if (known && S_ISREG(st.st_mode)) {
                // Its writer's close reports it, complete. Where the writers cannot be told, an
                // empty file waits for the close its creation promises.
                const Writers writers = openWriters(AT_FDCWD, path.constData());
                if (writers == Writers::Some || (writers == Writers::Unknown && st.st_size == 0))
                    holdUntilClosed(path);
                else
                    add(path, kEventFlagItemCreated | kEventFlagItemIsFile);
            } else {
                add(path, kEventFlagItemCreated | kEventFlagItemIsFile);
            }
            return triggered;
        }
        if (e->mask & IN_CLOSE_WRITE) {
            const auto pending = batchIndex.constFind(path);
            const bool createdInBatch =
                pending != batchIndex.constEnd() && (batch[*pending].flags & kEventFlagItemCreated);
            if (awaitingClose.remove(path) || createdInBatch) {
                // Often the temporary file of an atomic save: let the rename that follows open
                // the batch rather than this.
                add(path, kEventFlagItemCreated | kEventFlagItemModified | kEventFlagItemIsFile);
                return triggered;
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
            return triggered;
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
        return triggered;
    }

    bool handleDirectory(const inotify_event* e, const QByteArray& path, const QByteArray& name)
    {
        const bool isExcluded = excluded.contains(name);
        if (e->mask & (IN_CREATE | IN_MOVED_TO)) {
            if (e->mask & IN_MOVED_TO) {
                movedAway.erase(std::remove_if(movedAway.begin(),
                                               movedAway.end(),
                                               [&](const MovedAway& m) { return m.cookie == e->cookie; }),
                                movedAway.end());
            }
            if (isExcluded)
                return false;
            add(path,
                kEventFlagItemCreated | kEventFlagItemIsDir | (e->mask & IN_MOVED_TO ? kEventFlagItemRenamed : 0u));
            addTree(path, false, Contents::Created, false);
        } else if (e->mask & IN_MOVED_FROM) {
            if (isExcluded)
                return false;
            removeTree(path);
            add(path, kEventFlagItemRenamed | kEventFlagItemIsDir);
            movedAway.push_back({e->cookie, path});
        } else if (e->mask & IN_DELETE) {
            blocked.remove(path);
            if (!isExcluded)
                add(path, kEventFlagItemRemoved | kEventFlagItemIsDir);
        } else if ((e->mask & IN_ATTRIB) && blocked.contains(path)) {
            if (addTree(path, false, Contents::Scanned, true) < 0)
                return false;
            blocked.remove(path);
            log(QStringLiteral("Directory can be read now, watching it: ") + shown(path));
            add(path, kEventFlagMustScanSubDirs);
            return true;
        }
        return false;
    }

    void endOfRead(bool triggered)
    {
        // A rename within the trees queues both of its halves at once: a directory whose arrival
        // did not follow its leaving went out of them.
        for (const MovedAway& m : movedAway)
            log(QStringLiteral("Directory moved out of the watched tree, no longer watching it: ") + shown(m.path));
        movedAway.clear();
        deliverOrWait(triggered);
    }

    // Delivers the batch at once when an event opened it and the latency period allows, otherwise
    // arms the timer for when it is due.
    void deliverOrWait(bool triggered)
    {
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
        // A writer may hold a file open since its event came (an editor writing anew a file it
        // renamed away): the receiver would read it half-written. It is reported at the close. A
        // writer whose close came may not have let go of the file yet (the kernel tells of the
        // close first, and a file system may flush it in between): that one is looked at again,
        // a few times.
        std::vector<Pending> later;
        for (Pending& p : batch) {
            if (!(p.flags & kEventFlagItemIsFile)
                || !(p.flags & (kEventFlagItemCreated | kEventFlagItemRenamed | kEventFlagItemModified))
                || openWriters(AT_FDCWD, p.path.constData()) != Writers::Some)
                continue;
            if ((p.flags & kEventFlagItemModified) && p.rechecks < kMaxRechecks)
                later.push_back(std::exchange(p, Pending{p.path, 0}));
            else
                holdUntilClosed(p.path);
        }
        std::vector<Pending> events;
        events.swap(batch);
        batchIndex.clear();
        std::erase_if(events, [](const Pending& p) { return p.flags == 0; });
        const Clock::time_point now = Clock::now();
        for (Pending& p : later) {
            add(p.path, p.flags);
            batch[batchIndex.value(p.path)].rechecks = p.rechecks + 1;
        }
        if (!later.empty())
            arm(now + latency, now);
        if (events.empty())
            return;
        lastDelivery = now;
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
    auto* stream = new EventStream;
    stream->m_state = std::make_shared<State>();
    State& s = *stream->m_state;
    s.owner = stream;
    s.callback = callback;
    s.info = context ? context->info : nullptr;
    for (const QString& path : pathsToWatch)
        s.roots.emplace_back(QFile::encodeName(QDir::cleanPath(QFileInfo(path).absoluteFilePath())));
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

QSet<QByteArray> EventStream::filesAwaitingClose() const
{
    QSet<QByteArray> files;
    if (!m_queue)
        return files;
    const State* s = m_state.get();
    m_queue->sync([&] { files = s->awaitingClose; });
    return files;
}

bool EventStream::missesWatches() const
{
    if (!m_queue)
        return false;
    bool missing = false;
    const State* s = m_state.get();
    m_queue->sync([&] { missing = s->missingWatches; });
    return missing;
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
