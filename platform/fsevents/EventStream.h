#pragma once

#include <QByteArrayList>
#include <QSet>
#include <QStringList>
#include <QtGlobal>

#include <cstddef>
#include <memory>

namespace jw {
class SerialQueue;
}

namespace jw::fsevents {

using EventFlags = quint32;
using EventId = quint64;
using CreateFlags = quint32;

inline constexpr EventId kEventIdSinceNow = ~EventId(0);

inline constexpr CreateFlags kCreateFlagUseCFTypes = 0x01;
inline constexpr CreateFlags kCreateFlagNoDefer = 0x02;
inline constexpr CreateFlags kCreateFlagFileEvents = 0x10;

inline constexpr EventFlags kEventFlagMustScanSubDirs = 0x01;
inline constexpr EventFlags kEventFlagKernelDropped = 0x04;
inline constexpr EventFlags kEventFlagRootChanged = 0x20;
inline constexpr EventFlags kEventFlagItemCreated = 0x100;
inline constexpr EventFlags kEventFlagItemRemoved = 0x200;
inline constexpr EventFlags kEventFlagItemRenamed = 0x800;
inline constexpr EventFlags kEventFlagItemModified = 0x1000;
inline constexpr EventFlags kEventFlagItemIsFile = 0x10000;
inline constexpr EventFlags kEventFlagItemIsDir = 0x20000;
inline constexpr EventFlags kEventFlagItemIsSymlink = 0x40000;

class EventStream;

struct StreamContext
{
    int version = 0;
    void* info = nullptr; // handed back to the callback; not owned
};

// Called on the stream's queue with one batch of events. eventPaths holds numEvents paths, each
// the bytes the file system names it by (QFile::decodeName gives text to show).
using StreamCallback = void (*)(EventStream* stream,
                                void* info,
                                size_t numEvents,
                                const QByteArrayList* eventPaths,
                                const EventFlags* eventFlags,
                                const EventId* eventIds);

// A file-level event stream over one or more directory trees, backed by inotify.
//
// Every directory of each tree is watched (symbolic links are not followed below the roots),
// except directories with an excluded name and everything below them; directories that appear
// later are watched as they appear and the files already inside them are reported as created.
// A file's content changes are reported when its writer closes it, so a reader never sees a
// half-written file. A file's events are reported once no writer holds it open: at once when
// its writer has already closed it, otherwise together with that close (so a file renamed away
// and written anew under its name is reported once, complete). A rename reports the old and
// the new path; one into the tree from outside counts as created too. A directory moved out of
// its tree is no longer watched, and events of its files still pending are dropped.
//
// Events name each file by its current path. A root that is moved or deleted, itself or through
// a directory above it, or retargeted by a symbolic link on the way to it, is reported as
// root-changed and its tree is no longer watched; the stream
// watches the nearest existing directory above it and, when the root is back, watches its tree
// again and reports it as root-changed and must-scan: what is inside was not reported. A root
// moved away and back has its tree set up again and is reported as must-scan. A directory that
// cannot be read is watched once its permissions let it be read, reported as must-scan. A root
// whose path keeps changing while it is looked at is looked at again after a short pause. Each
// of these is logged. The receiver reads a tree reported as must-scan itself, except the files
// that a writer still held open when the tree was set up (filesAwaitingClose()): each of those
// is reported as created at its writer's close. When the kernel's event queue overflows, events
// are lost: each root is looked at again, its tree set up anew (directories that appeared are
// watched, those gone no longer) and reported as must-scan and kernel-dropped, as anything in it
// may have changed. The overflow is logged.
//
// Delivery follows latency without deferral: the first event after a quiet period of `latency`
// seconds is delivered at once; later ones are gathered and delivered when the period since the
// last delivery has passed. Events of one file within a batch are merged into one entry.
// A created file still being written (the temporary half of an atomic save, typically) does not
// open a batch by itself: it waits for the latency period or for the next event that does.
//
// While no event is pending and no root waits to be looked at again, the stream holds no timer:
// an idle stream costs no CPU.
class EventStream
{
public:
    // Streams on one queue share one inotify instance; start fails when the kernel refuses it
    // (logged).
    static EventStream* create(StreamCallback callback,
                               const StreamContext* context,
                               const QStringList& pathsToWatch,
                               EventId sinceWhen,
                               double latency,
                               CreateFlags flags);

    // The queue on which the callback runs and the stream's state lives. Required before start.
    void setDispatchQueue(SerialQueue* queue);
    // Names of directories that are not watched, nor anything below them. Set before start.
    void setExcludedDirectoryNames(const QSet<QByteArray>& names);
    // Installs the watches (waiting for them on the queue) and begins delivering.
    bool start();
    // Stops delivering and drops every watch; pending undelivered events are discarded.
    void stop();
    void invalidate();
    // Stops if needed and frees the stream. The pointer is dangling afterwards.
    void release();

    // Directories of the trees currently watched (read on the queue).
    int watchedDirectoryCount() const;
    // Whether some directory of the trees is not watched for want of inotify resources: no
    // instance, or the watch limit reached (read on the queue).
    bool missesWatches() const;
    // Files held back while a writer still holds them open: each is reported as created at its
    // writer's close (read on the queue).
    QSet<QByteArray> filesAwaitingClose() const;

    EventStream(const EventStream&) = delete;
    EventStream& operator=(const EventStream&) = delete;

    struct State;

private:
    EventStream() = default;
    ~EventStream();

    std::shared_ptr<State> m_state;
    SerialQueue* m_queue = nullptr;
};

} // namespace jw::fsevents
