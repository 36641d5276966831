#include "app/detection/TreeScanner.h"

#include "platform/ReadLease.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace jw {
namespace {

// Below this many files, threads cost more than they save.
constexpr size_t kParallelThreshold = 64;
constexpr unsigned kMaxThreads = 8;

struct Entry
{
    QByteArray name;
    bool isDir;
};

void walk(const QByteArray& dir,
          const QSet<QString>& extensions,
          const QSet<QString>& ignoredNames,
          TreeScanner::Hidden hidden,
          std::vector<QByteArray>& files)
{
    // The root directory walks with an empty prefix, so that its children read "/name".
    DIR* d = ::opendir(dir.isEmpty() ? "/" : dir.constData());
    if (!d)
        return;
    std::vector<Entry> entries;
    while (const dirent* e = ::readdir(d)) {
        const char* name = e->d_name;
        if (name[0] == '.'
            && (hidden == TreeScanner::Hidden::Skipped || name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue; // hidden, and "." and ".."
        bool isDir = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN) {
            struct stat st;
            isDir = ::fstatat(::dirfd(d), name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        }
        entries.push_back({QByteArray(name), isDir});
    }
    ::closedir(d);
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    for (const Entry& e : entries) {
        if (ignoredNames.contains(QFile::decodeName(e.name)))
            continue;
        const QByteArray path = dir + '/' + e.name;
        // A directory may carry a code extension too: it is offered like a file (and fails to
        // read) and is still entered.
        if (extensions.contains(TreeScanner::lowerExtension(QFile::decodeName(e.name))))
            files.push_back(path);
        if (e.isDir)
            walk(path, extensions, ignoredNames, hidden, files);
    }
}

// Files above this size are first streamed in chunks of this size: most hold no TODO and are then
// never held whole, which keeps the memory of a scan flat whatever the largest files are.
constexpr qsizetype kChunkBytes = 1024 * 1024;

// Where the last complete UTF-8 character in [from, end) ends.
qsizetype completeBoundary(const char* data, qsizetype from, qsizetype end)
{
    for (qsizetype i = end - 1; i >= from && i >= end - 4; --i) {
        const auto c = static_cast<unsigned char>(data[i]);
        if ((c & 0xC0) == 0x80)
            continue;
        const qsizetype len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        return i + len > end ? i : end;
    }
    return end;
}

enum class Streamed
{
    Invalid,
    TooLarge,
    NoTodo,
    MayHoldTodo
};

// Validates the file chunk by chunk and looks for a TODO tag, carrying the last four bytes (and
// any character cut by the chunk's end) over to the next chunk.
Streamed streamFile(int fd, QByteArray& buffer, qint64& total)
{
    buffer.resize(kChunkBytes + 4);
    char* data = buffer.data();
    qsizetype keep = 0, validFrom = 0;
    bool tag = false;
    total = 0;
    for (;;) {
        const ssize_t n = ::read(fd, data + keep, size_t(kChunkBytes));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Streamed::Invalid;
        }
        if (n == 0)
            break;
        total += n;
        if (total > TreeScanner::kMaxFileBytes)
            return Streamed::TooLarge; // grown since it was measured
        const qsizetype end = keep + n;
        const qsizetype cut = completeBoundary(data, validFrom, end);
        if (!isValidUtf8(QByteArrayView(data + validFrom, cut - validFrom)))
            return Streamed::Invalid;
        tag = tag || TodoParser::hasTodoTag(QByteArrayView(data, end));
        const qsizetype retained = std::min<qsizetype>(4, end);
        std::memmove(data, data + end - retained, size_t(retained));
        keep = retained;
        validFrom = retained - (end - cut);
    }
    if (validFrom < keep)
        return Streamed::Invalid; // cut off inside a character
    return tag ? Streamed::MayHoldTodo : Streamed::NoTodo;
}

// Reads the rest of the file into buffer; false when it fails or holds more than the bound.
bool readAll(int fd, qint64 sizeHint, QByteArray& buffer, bool& tooLarge)
{
    const qsizetype limit = qsizetype(TreeScanner::kMaxFileBytes) + 1;
    qsizetype size = 0;
    qsizetype capacity = std::clamp<qsizetype>(qsizetype(sizeHint) + 1, 4096, limit);
    buffer.resize(capacity);
    for (;;) {
        if (size == capacity) {
            if (capacity == limit) {
                tooLarge = true;
                return false;
            }
            capacity = std::min(capacity * 2, limit);
            buffer.resize(capacity);
        }
        const ssize_t n = ::read(fd, buffer.data() + size, size_t(capacity - size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            break;
        size += n;
    }
    buffer.resize(size);
    return true;
}

void readOpen(int fd, TreeScanner::File& out, QByteArray& buffer)
{
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return;
    ReadLease lease(fd);
    if (lease.writers() == Writers::Some) {
        out.beingWritten = true;
        return;
    }
    if (st.st_size > TreeScanner::kMaxFileBytes) {
        out.tooLarge = true;
        return;
    }
    if (st.st_size > kChunkBytes) {
        qint64 total = 0;
        const Streamed verdict = streamFile(fd, buffer, total);
        lease.release();
        out.tooLarge = verdict == Streamed::TooLarge;
        if (verdict == Streamed::Invalid || verdict == Streamed::TooLarge)
            return;
        if (verdict == Streamed::NoTodo) {
            out.readable = true;
            out.bytes = total;
            return;
        }
        if (::lseek(fd, 0, SEEK_SET) != 0)
            return;
        // Leased again for the second read: a writer may have opened it in between.
        lease.take();
        if (lease.writers() == Writers::Some) {
            out.beingWritten = true;
            return;
        }
    }
    const bool whole = readAll(fd, st.st_size, buffer, out.tooLarge);
    lease.release();
    if (!whole || !isValidUtf8(buffer))
        return;
    if (buffer.startsWith("\xEF\xBB\xBF"))
        buffer.remove(0, 3);
    out.readable = true;
    out.bytes = buffer.size();
    out.todos = TodoParser::parseUtf8(buffer, out.path);
}

void readOne(const QByteArray& path, TreeScanner::File& out, QByteArray& buffer)
{
    out.path = QFile::decodeName(path);
    out.localPath = path;
    // Non-blocking open: a FIFO with a code extension must not hang the reader.
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return;
    readOpen(fd, out, buffer);
    ::close(fd);
    // A buffer grown by one large file is not kept.
    if (buffer.capacity() > 2 * kChunkBytes)
        buffer = QByteArray();
}

} // namespace

QString TreeScanner::lowerExtension(QStringView path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    const QStringView name = path.mid(slash + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0 || dot == name.size() - 1)
        return {};
    return name.mid(dot + 1).toString().toLower();
}

void TreeScanner::read(const QByteArray& path, File& out, QByteArray& buffer)
{
    readOne(path, out, buffer);
}

void TreeScanner::scan(const QByteArray& root,
                       const QSet<QString>& extensions,
                       const QSet<QString>& ignoredNames,
                       const std::function<void(File&)>& sink,
                       Hidden hidden)
{
    for (const QByteArray& component : root.split('/')) {
        if (!component.isEmpty() && ignoredNames.contains(QFile::decodeName(component)))
            return;
    }
    std::vector<QByteArray> paths;
    walk(root == "/" ? QByteArray() : root, extensions, ignoredNames, hidden, paths);

    std::vector<File> files(paths.size());
    const unsigned threads = std::min(kMaxThreads, std::max(1u, std::thread::hardware_concurrency()));
    if (paths.size() < kParallelThreshold || threads == 1) {
        QByteArray buffer;
        for (size_t i = 0; i < paths.size(); ++i) {
            readOne(paths[i], files[i], buffer);
            sink(files[i]);
            files[i] = File();
        }
        return;
    }

    // Workers take files in walk order; the caller hands each to the sink as soon as it and every
    // file before it are done, so results enter in walk order while reading goes on.
    std::atomic<size_t> next{0};
    std::unique_ptr<std::atomic<bool>[]> done(new std::atomic<bool>[paths.size()]);
    for (size_t i = 0; i < paths.size(); ++i)
        done[i].store(false, std::memory_order_relaxed);
    auto work = [&] {
        QByteArray buffer;
        for (size_t i; (i = next.fetch_add(1)) < paths.size();) {
            readOne(paths[i], files[i], buffer);
            done[i].store(true, std::memory_order_release);
            done[i].notify_one();
        }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t)
        pool.emplace_back(work);
    for (size_t i = 0; i < paths.size(); ++i) {
        done[i].wait(false, std::memory_order_acquire);
        sink(files[i]);
        files[i] = File();
    }
    for (std::thread& t : pool)
        t.join();
}

} // namespace jw
