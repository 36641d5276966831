#include "platform/AtomicFile.h"

#include "platform/ReadLease.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace jw {

namespace {

std::function<void(const QByteArray&)> beforeReplace;

QString systemError(const char* what, int error)
{
    return QStringLiteral("%1: %2").arg(QString::fromLatin1(what), QString::fromLocal8Bit(std::strerror(error)));
}

bool writeAll(int fd, const char* data, qsizetype size, int* error)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            *error = errno;
            return false;
        }
        if (n == 0) {
            *error = EIO;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

qint64 modifiedNs(const struct stat& st)
{
    return qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

bool sameStamps(const struct stat& st, const FileSnapshot& read)
{
    return st.st_dev == read.device && st.st_ino == read.inode && st.st_size == read.size
           && modifiedNs(st) == read.modifiedNs;
}

bool writerHolds(int fd)
{
    return ReadLease(fd).writers() == Writers::Some;
}

bool writerHolds(const QByteArray& path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false;
    const bool held = writerHolds(fd);
    ::close(fd);
    return held;
}

// Timestamps tick coarsely: a same-size save within one tick shows only in the bytes.
bool holdsExactly(const QByteArray& path, const QByteArray& bytes)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char chunk[65536];
    qsizetype at = 0;
    bool same = true;
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            same = n == 0 && at == bytes.size();
            break;
        }
        if (at + n > bytes.size() || std::memcmp(chunk, bytes.constData() + at, static_cast<size_t>(n)) != 0) {
            same = false;
            break;
        }
        at += n;
    }
    ::close(fd);
    return same;
}

struct Outcome
{
    Replacement replacement;
    QString error;
};

Outcome failed(QString error)
{
    return {Replacement::failed, std::move(error)};
}

Outcome replaceFile(const QByteArray& localPath, const QByteArray& bytes, const FileSnapshot* read)
{
    // Write through a symbolic link instead of replacing the link by a plain file.
    QByteArray targetPath = localPath;
    struct stat link;
    if (::lstat(localPath.constData(), &link) == 0 && S_ISLNK(link.st_mode)) {
        char* resolved = ::realpath(localPath.constData(), nullptr);
        if (!resolved)
            return failed(QStringLiteral("The link %1 points nowhere").arg(QFile::decodeName(localPath)));
        targetPath = resolved;
        std::free(resolved);
    } else if (!targetPath.startsWith('/')) {
        char* cwd = ::getcwd(nullptr, 0);
        if (!cwd)
            return failed(systemError("getcwd", errno));
        targetPath = QByteArray(cwd) + '/' + targetPath;
        std::free(cwd);
    }

    struct stat original;
    if (::stat(targetPath.constData(), &original) != 0)
        return failed(systemError("stat", errno));
    if (!S_ISREG(original.st_mode))
        return failed(QStringLiteral("%1 is not a regular file").arg(QFile::decodeName(targetPath)));
    if (read) {
        if (read->beingWritten || !sameStamps(original, *read))
            return {Replacement::changed, {}};
        // Decided by the file's owner and mode, not by what root may do.
        if (original.st_uid != ::geteuid())
            return {Replacement::ownedByAnother, {}};
        if (!(original.st_mode & S_IWUSR))
            return {Replacement::readOnly, {}};
        if (original.st_nlink > 1)
            return {Replacement::hardLinked, {}};
    }

    const qsizetype slash = targetPath.lastIndexOf('/');
    const QByteArray dir = slash == 0 ? QByteArrayLiteral("/") : targetPath.left(slash);
    QByteArray tempPath = dir + "/." + targetPath.mid(slash + 1) + ".jotwarden-XXXXXX";
    const int fd = ::mkstemp(tempPath.data());
    if (fd < 0)
        return failed(systemError("create temporary file", errno));

    int error = 0;
    bool ok = writeAll(fd, bytes.constData(), bytes.size(), &error);
    // A short write on a full disk must never reach the user's file: flush and check everything.
    if (ok && ::fchmod(fd, original.st_mode & 07777) != 0) {
        error = errno;
        ok = false;
    }
    if (ok && (original.st_uid != ::geteuid() || original.st_gid != ::getegid()))
        (void)::fchown(fd, original.st_uid, original.st_gid);
    if (ok && ::fsync(fd) != 0) {
        error = errno;
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        error = errno;
        ok = false;
    }
    if (ok) {
        struct stat written;
        if (::stat(tempPath.constData(), &written) != 0 || written.st_size != bytes.size()) {
            error = EIO;
            ok = false;
        }
    }
    if (ok && beforeReplace)
        beforeReplace(targetPath);
    bool changed = false;
    if (ok && read) {
        struct stat now;
        // Stamped after the bytes, so that a save during the comparison shows where the tick allows.
        // A writer still holding the file would finish its save into the replaced one.
        changed = !holdsExactly(targetPath, read->bytes) || ::stat(targetPath.constData(), &now) != 0
                  || !sameStamps(now, *read) || writerHolds(targetPath);
        ok = !changed;
    }
    if (ok && ::rename(tempPath.constData(), targetPath.constData()) != 0) {
        error = errno;
        ok = false;
    }
    if (!ok) {
        ::unlink(tempPath.constData());
        if (changed)
            return {Replacement::changed, {}};
        return failed(systemError("write", error));
    }
    // Make the rename itself durable.
    if (const int dfd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY); dfd >= 0) {
        (void)::fsync(dfd);
        ::close(dfd);
    }
    return {Replacement::written, {}};
}

} // namespace

Status writeFileAtomically(const QByteArray& localPath, const QByteArray& bytes)
{
    const Outcome outcome = replaceFile(localPath, bytes, nullptr);
    return outcome.replacement == Replacement::written ? Status() : Status::failure(outcome.error);
}

std::optional<FileSnapshot> readFileSnapshot(const QByteArray& localPath)
{
    const int fd = ::open(localPath.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    // Stamped before reading: a change during the read then shows as a change.
    struct stat st;
    QFile file;
    const bool beingWritten = writerHolds(fd);
    if (::fstat(fd, &st) != 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return std::nullopt;
    }
    FileSnapshot snapshot;
    snapshot.bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    snapshot.device = st.st_dev;
    snapshot.inode = st.st_ino;
    snapshot.size = st.st_size;
    snapshot.modifiedNs = modifiedNs(st);
    snapshot.beingWritten = beingWritten;
    return snapshot;
}

Replacement replaceUnchangedFile(const QByteArray& localPath, const FileSnapshot& read, const QByteArray& bytes)
{
    return replaceFile(localPath, bytes, &read).replacement;
}

void setBeforeReplaceHook(std::function<void(const QByteArray& targetPath)> hook)
{
    beforeReplace = std::move(hook);
}

} // namespace jw
