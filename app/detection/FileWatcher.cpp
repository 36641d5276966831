#include "app/detection/FileWatcher.h"

#include "app/detection/TreeScanner.h"
#include "platform/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace jw {
namespace {

const QSet<QString>& extensionSet()
{
    static const QSet<QString> set(FileWatcher::codeFileExtensions().begin(), FileWatcher::codeFileExtensions().end());
    return set;
}

const QSet<QString>& ignoredSet()
{
    static const QSet<QString> set(FileWatcher::ignoredDirectoryNames().begin(),
                                   FileWatcher::ignoredDirectoryNames().end());
    return set;
}

const QSet<QByteArray>& ignoredLocalNames()
{
    static const QSet<QByteArray> set = [] {
        QSet<QByteArray> names;
        for (const QString& name : FileWatcher::ignoredDirectoryNames())
            names.insert(QFile::encodeName(name));
        return names;
    }();
    return set;
}

// The directory as the event streams name it: absolute, clean, in the file system's bytes.
QByteArray localDirectory(const QString& directory)
{
    return QFile::encodeName(QDir::cleanPath(QFileInfo(directory).absoluteFilePath()));
}

bool isWithin(const QByteArray& path, const QByteArray& top)
{
    if (top == "/")
        return path.startsWith('/');
    return path.startsWith(top) && (path.size() == top.size() || path.at(top.size()) == '/');
}

bool hasIgnoredComponent(const QString& path)
{
    for (const QStringView component : QStringView(path).split(u'/', Qt::SkipEmptyParts)) {
        if (ignoredSet().contains(component.toString()))
            return true;
    }
    return false;
}

constexpr fsevents::EventFlags kHandledChanges =
    fsevents::kEventFlagItemCreated | fsevents::kEventFlagItemRenamed | fsevents::kEventFlagItemModified;

void logTooLarge(const QString& path)
{
    log(QStringLiteral("Skipping file larger than 32 MiB: ") + path);
}

} // namespace

const QStringList& FileWatcher::codeFileExtensions()
{
    // The last two can never equal a lower-cased extension; they are kept as the list has them.
    static const QStringList list = {
        "swift",  "ts", "tsx",  "js",   "jsx",  "py",  "rb",   "go",   "rs",    "java", "kt",         "kts",      "c",
        "cpp",    "cc", "h",    "hpp",  "m",    "mm",  "cs",   "php",  "scala", "ex",   "exs",        "erl",      "hs",
        "lua",    "r",  "jl",   "dart", "zig",  "nim", "v",    "sql",  "css",   "scss", "less",       "html",     "vue",
        "svelte", "sh", "bash", "zsh",  "fish", "yml", "yaml", "toml", "tf",    "hcl",  "Dockerfile", "Makefile",
    };
    return list;
}

const QStringList& FileWatcher::ignoredDirectoryNames()
{
    static const QStringList list = {
        ".git",  "node_modules", ".build", "build",    "Pods",        "vendor",   "dist",
        "out",   ".next",        ".nuxt",  "target",   "DerivedData", ".swiftpm", "__pycache__",
        ".venv", "venv",         ".tox",   "Carthage", ".sass-cache", "coverage",
    };
    return list;
}

FileWatcher::FileWatcher()
    : m_queue(std::make_unique<SerialQueue>(QStringLiteral("com.tallowmere.jot-warden.filewatcher")))
{
}

FileWatcher::~FileWatcher()
{
    stop();
    m_alive.reset();
    // Work queued before this point may still be running; let it finish before members go.
    m_queue->sync([] {});
}

void FileWatcher::start(const QStringList& directories, bool initialScan)
{
    stop();
    if (initialScan) {
        qsizetype cached = 0, seen = 0;
        m_queue->sync([&] {
            ScanStats stats;
            for (const QString& directory : directories)
                scan(localDirectory(directory), stats);
            cached = m_fileCache.size();
            seen = m_seenHashes.size();
        });
        log(QStringLiteral("Initial scan complete. Cached ") + QString::number(cached) + QStringLiteral(" files, ")
            + QString::number(seen) + QStringLiteral(" existing TODOs"));
    }
    for (const QString& directory : directories) {
        if (!QFileInfo::exists(directory)) {
            log(QStringLiteral("Directory does not exist, skipping: ") + directory);
            continue;
        }
        fsevents::StreamContext context;
        context.info = this;
        fsevents::EventStream* stream = fsevents::EventStream::create(
            &FileWatcher::eventCallback,
            &context,
            {directory},
            fsevents::kEventIdSinceNow,
            0.25,
            fsevents::kCreateFlagUseCFTypes | fsevents::kCreateFlagNoDefer | fsevents::kCreateFlagFileEvents);
        if (!stream)
            continue;
        stream->setDispatchQueue(m_queue.get());
        // No file below them is ever read, so they take no watch.
        stream->setExcludedDirectoryNames(ignoredLocalNames());
        m_queue->sync([&] { m_streamRoots.insert(stream, localDirectory(directory)); });
        stream->start();
        m_streams.push_back(stream);
        m_streamDirectories << directory;
    }
    m_isRunning = true;
    log(QStringLiteral("FSEvents streams started for ") + QString::number(m_streams.size())
        + QStringLiteral(" directory(ies)"));
}

void FileWatcher::stop()
{
    for (fsevents::EventStream* stream : m_streams) {
        stream->stop();
        stream->invalidate();
        stream->release();
    }
    m_streams.clear();
    m_streamDirectories.clear();
    m_queue->sync([this] { m_streamRoots.clear(); });
    m_isRunning = false;
}

void FileWatcher::updateCache(const QByteArray& localPath, const QString& content)
{
    std::weak_ptr<int> alive = m_alive;
    m_queue->async([this, alive, localPath, content] {
        if (alive.expired())
            return;
        // A cached entry stays, unparsed: the reference changes no TODO's digest, and TODOs the
        // entry lacks (or lacks no longer) come from a save whose event is still to be handled.
        if (m_fileCache.contains(localPath))
            return;
        m_fileCache.insert(localPath, TodoParser::digests(TodoParser::parse(content, QString())));
    });
}

void FileWatcher::setSeenHashes(QSet<QString> hashes)
{
    m_queue->sync([&] { m_seenHashes = std::move(hashes); });
}

FileWatcher::ScanStats FileWatcher::scanDirectories(const QStringList& directories)
{
    ScanStats stats;
    m_queue->sync([&] {
        for (const QString& directory : directories)
            scan(localDirectory(directory), stats);
    });
    return stats;
}

qsizetype FileWatcher::seenHashCount() const
{
    qsizetype n = 0;
    m_queue->sync([&] { n = m_seenHashes.size(); });
    return n;
}

qsizetype FileWatcher::cachedFileCount() const
{
    qsizetype n = 0;
    m_queue->sync([&] { n = m_fileCache.size(); });
    return n;
}

bool FileWatcher::hasSeenHash(const QString& hash) const
{
    bool seen = false;
    m_queue->sync([&] { seen = m_seenHashes.contains(hash); });
    return seen;
}

QStringList FileWatcher::directoriesMissingWatches() const
{
    QStringList missing;
    // One wait for the queue, not one per stream: each stream's own look then runs inline.
    m_queue->sync([&] {
        for (size_t i = 0; i < m_streams.size(); ++i) {
            if (m_streams[i]->missesWatches())
                missing << m_streamDirectories.at(qsizetype(i));
        }
    });
    return missing;
}

int FileWatcher::watchedDirectoryCount() const
{
    int n = 0;
    for (const fsevents::EventStream* stream : m_streams)
        n += stream->watchedDirectoryCount();
    return n;
}

void FileWatcher::scan(const QByteArray& directory, ScanStats& stats, const QSet<QByteArray>& leftOut)
{
    TreeScanner::scan(directory, extensionSet(), ignoredSet(), [&](TreeScanner::File& file) {
        if (file.tooLarge)
            logTooLarge(file.path);
        if (!file.readable || leftOut.contains(file.localPath))
            return;
        ++stats.files;
        stats.bytes += file.bytes;
        stats.todos += file.todos.size();
        m_fileCache.insert(file.localPath, TodoParser::digests(file.todos));
        for (const ParsedTodo& todo : std::as_const(file.todos)) {
            m_seenHashes.insert(todo.contentHash);
            if (onTodoScanned)
                onTodoScanned(todo);
        }
    });
}

// A directory the stream could not tell about until now (back after it went away, or readable
// after it was not) is read as the initial scan reads: what it holds counts as seen. A file still
// being written is left to its writer's close, when it is first seen.
void FileWatcher::rescan(const fsevents::EventStream* stream, const QByteArray& directory)
{
    const QByteArray root = m_streamRoots.value(stream);
    if (root.isEmpty() || !isWithin(directory, root))
        return;
    // The initial scan does not enter hidden directories; their files are handled on events.
    const QByteArray below = directory.mid(root == "/" ? 1 : root.size() + 1);
    for (const QByteArray& name : below.split('/')) {
        if (name.startsWith('.'))
            return;
    }
    ScanStats stats;
    scan(directory, stats, stream->filesAwaitingClose());
}

// A tree whose events were lost: every code file in it is taken as on a change event, logging only
// what is new. A file still being written is left to its writer's close.
void FileWatcher::rescanChanged(const fsevents::EventStream* stream, const QByteArray& directory)
{
    const QString shown = QFile::decodeName(directory);
    log(QStringLiteral("Rescanning ") + shown + QStringLiteral(" after missed file events"));
    const QSet<QByteArray> leftOut = stream->filesAwaitingClose();
    qint64 files = 0;
    qsizetype found = 0;
    TreeScanner::scan(
        directory,
        extensionSet(),
        ignoredSet(),
        [&](TreeScanner::File& file) {
            if (file.tooLarge)
                logTooLarge(file.path);
            if (!file.readable || leftOut.contains(file.localPath))
                return;
            ++files;
            const QList<ParsedTodo> fresh = takeTodos(file.localPath, file.todos);
            found += fresh.size();
            if (!fresh.isEmpty())
                report(file.path, fresh);
        },
        TreeScanner::Hidden::Entered);
    log(QStringLiteral("Rescan of ") + shown + QStringLiteral(" done: ") + QString::number(files)
        + QStringLiteral(" code files read, ") + QString::number(found) + QStringLiteral(" new TODO(s)"));
}

// A tree that went away is forgotten, so that a file at one of its paths later is seen first as
// it is then, not compared with a file that is gone.
void FileWatcher::forget(const QByteArray& directory)
{
    for (auto it = m_fileCache.begin(); it != m_fileCache.end();)
        it = isWithin(it.key(), directory) ? m_fileCache.erase(it) : std::next(it);
}

void FileWatcher::eventCallback(fsevents::EventStream* stream,
                                void* info,
                                size_t numEvents,
                                const QByteArrayList* eventPaths,
                                const fsevents::EventFlags* eventFlags,
                                const fsevents::EventId* eventIds)
{
    Q_UNUSED(eventIds);
    if (!info) {
        log(QStringLiteral("FSEvents callback: no client info"));
        return;
    }
    static_cast<FileWatcher*>(info)->handleEvents(stream, numEvents, eventPaths, eventFlags);
}

void FileWatcher::handleEvents(const fsevents::EventStream* stream,
                               size_t count,
                               const QByteArrayList* paths,
                               const fsevents::EventFlags* flags)
{
    if (!paths || size_t(paths->size()) < count || (count && !flags)) {
        log(QStringLiteral("FSEvents callback: could not cast event paths"));
        return;
    }
    for (size_t i = 0; i < count; ++i) {
        const QByteArray& path = paths->at(qsizetype(i));
        if (flags[i] & fsevents::kEventFlagRootChanged)
            forget(path);
        if (flags[i] & fsevents::kEventFlagMustScanSubDirs) {
            if (flags[i] & fsevents::kEventFlagKernelDropped)
                rescanChanged(stream, path);
            else
                rescan(stream, path);
        }
        if ((flags[i] & kHandledChanges) && (flags[i] & fsevents::kEventFlagItemIsFile))
            handleFileChange(path);
    }
}

void FileWatcher::handleFileChange(const QByteArray& localPath)
{
    const QString path = QFile::decodeName(localPath);
    log(QStringLiteral("File event: ") + path);
    if (!extensionSet().contains(TreeScanner::lowerExtension(path)))
        return;
    log(QStringLiteral("Code file changed: ") + path);
    if (hasIgnoredComponent(path)) {
        log(QStringLiteral("Skipping ignored directory: ") + path);
        return;
    }
    TreeScanner::File file;
    TreeScanner::read(localPath, file, m_readBuffer);
    if (file.beingWritten) {
        // Its writer's close brings another event, with the whole text.
        log(QStringLiteral("File is still being written, waiting for its writer to close it: ") + path);
        return;
    }
    if (file.tooLarge) {
        logTooLarge(path);
        return;
    }
    if (!file.readable) {
        log(QStringLiteral("Could not read file: ") + path);
        return;
    }
    const QList<ParsedTodo>& todos = file.todos;

    const bool cached = m_fileCache.contains(localPath);
    log(QStringLiteral("File has ") + QString::number(todos.size()) + QStringLiteral(" TODO(s), cached: ")
        + (cached ? QStringLiteral("true") : QStringLiteral("false")) + QStringLiteral(", seenHashes: ")
        + QString::number(m_seenHashes.size()));
    const QList<ParsedTodo> fresh = takeTodos(localPath, todos);
    if (fresh.isEmpty()) {
        log(QStringLiteral("No new TODOs (all ") + QString::number(todos.size())
            + QStringLiteral(" already seen or in previous cache)"));
        return;
    }
    report(path, fresh);
}

// Compares a code file's TODOs as read now with the cache, and caches them. Returns those that are
// new; a file not cached before has none.
QList<ParsedTodo> FileWatcher::takeTodos(const QByteArray& localPath, const QList<ParsedTodo>& todos)
{
    const auto previous = m_fileCache.constFind(localPath);
    const DigestSet* before = previous != m_fileCache.constEnd() ? &*previous : nullptr;
    QList<ParsedTodo> fresh = TodoParser::newTodos(todos, before, m_seenHashes);
    for (ParsedTodo& todo : fresh)
        todo.localPath = localPath;
    // A TODO that arrives with its issue reference was filed already: its text is not filed again.
    // One that would be new otherwise may hold a reference written by hand, so it is named once.
    for (const ParsedTodo& todo : todos) {
        if (todo.isAnnotated && before && !TodoParser::containsDigest(*before, todo.contentHash)
            && !m_seenHashes.contains(todo.contentHash))
            log(QStringLiteral("Not filing a TODO that already holds an issue reference: ") + todo.filePath
                + QLatin1Char(':') + QString::number(todo.lineNumber));
    }
    m_fileCache.insert(localPath, TodoParser::digests(todos));
    for (const ParsedTodo& todo : todos) {
        if (todo.isAnnotated)
            m_seenHashes.insert(todo.contentHash);
    }
    return fresh;
}

void FileWatcher::report(const QString& path, const QList<ParsedTodo>& fresh)
{
    log(QStringLiteral("Found ") + QString::number(fresh.size()) + QStringLiteral(" new TODO(s) in ") + path);
    for (const ParsedTodo& todo : fresh)
        log(QStringLiteral("  -> \"") + todo.title + QStringLiteral("\" (hash: ") + todo.contentHash.left(12)
            + QStringLiteral("...)"));
    for (const ParsedTodo& todo : fresh) {
        m_seenHashes.insert(todo.contentHash);
        if (onTodoDetected)
            onTodoDetected(todo);
    }
}

} // namespace jw
