#pragma once

#include "app/detection/TodoParser.h"
#include "platform/SerialQueue.h"
#include "platform/fsevents/EventStream.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

namespace jw {

// Watches project directories and reports each TODO that a code file gains.
//
// For every code file it has read, the watcher remembers only the digests of the file's TODOs
// (what telling new TODOs from old ones needs), not the file's text.
class FileWatcher
{
public:
    struct ScanStats
    {
        qint64 files = 0; // code files read
        qint64 todos = 0;
        qint64 bytes = 0;
    };

    FileWatcher();
    ~FileWatcher();
    FileWatcher(const FileWatcher&) = delete;
    FileWatcher& operator=(const FileWatcher&) = delete;

    static const QStringList& codeFileExtensions();
    static const QStringList& ignoredDirectoryNames();

    // Stops, scans every directory first when initialScan is set (the caller waits), then opens
    // one event stream per existing directory.
    void start(const QStringList& directories, bool initialScan);
    void stop();
    // Takes the text the owner wrote into a file for a file not cached yet. A cached entry stays:
    // the reference changes no TODO's digest, and an entry that differs in its TODOs from the text
    // is one whose save's event is still to come and must be compared then.
    void updateCache(const QByteArray& localPath, const QString& content);
    // The owner's seed, on its thread, before the first start.
    void setSeenHashes(QSet<QString> hashes);
    bool isRunning() const { return m_isRunning; }

    // Called on the watcher's queue for each new TODO.
    std::function<void(const ParsedTodo&)> onTodoDetected;
    // Called on the watcher's queue for each TODO an initial scan finds, in scan order.
    std::function<void(const ParsedTodo&)> onTodoScanned;

    // The initial scan alone, synchronously on the queue.
    ScanStats scanDirectories(const QStringList& directories);

    SerialQueue& queue() { return *m_queue; }
    qsizetype seenHashCount() const;
    qsizetype cachedFileCount() const;
    bool hasSeenHash(const QString& hash) const;
    int streamCount() const { return int(m_streams.size()); }
    int watchedDirectoryCount() const;
    // The directories, as given to start, with a part left unwatched for want of inotify
    // resources (the watch limit, or no instance at all).
    QStringList directoriesMissingWatches() const;

private:
    static void eventCallback(fsevents::EventStream* stream,
                              void* info,
                              size_t numEvents,
                              const QByteArrayList* eventPaths,
                              const fsevents::EventFlags* eventFlags,
                              const fsevents::EventId* eventIds);
    void handleEvents(const fsevents::EventStream* stream,
                      size_t count,
                      const QByteArrayList* paths,
                      const fsevents::EventFlags* flags);
    void handleFileChange(const QByteArray& localPath);
    QList<ParsedTodo> takeTodos(const QByteArray& localPath, const QList<ParsedTodo>& todos);
    void report(const QString& path, const QList<ParsedTodo>& fresh);
    void scan(const QByteArray& directory, ScanStats& stats, const QSet<QByteArray>& leftOut = {});
    void rescan(const fsevents::EventStream* stream, const QByteArray& directory);
    void rescanChanged(const fsevents::EventStream* stream, const QByteArray& directory);
    void forget(const QByteArray& directory);

    std::vector<fsevents::EventStream*> m_streams;
    QStringList m_streamDirectories; // the directory of each stream, as given to start
    std::unique_ptr<SerialQueue> m_queue;
    // Keyed by the bytes the file system names a file by: names that are not UTF-8 stay apart.
    QHash<QByteArray, DigestSet> m_fileCache;
    // Each stream's directory, read on the queue.
    QHash<const fsevents::EventStream*, QByteArray> m_streamRoots;
    QSet<QString> m_seenHashes;
    bool m_isRunning = false;
    QByteArray m_readBuffer;
    // Queued cache updates hold this weakly; it dies with the watcher.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

} // namespace jw
