#include "platform/AtomicFile.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace jw {

namespace {

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

} // namespace

Status writeFileAtomically(const QByteArray& localPath, const QByteArray& bytes)
{
    // Write through a symbolic link instead of replacing the link by a plain file.
    QByteArray targetPath = localPath;
    struct stat link;
    if (::lstat(localPath.constData(), &link) == 0 && S_ISLNK(link.st_mode)) {
        char* resolved = ::realpath(localPath.constData(), nullptr);
        if (!resolved)
            return Status::failure(QStringLiteral("The link %1 points nowhere").arg(QFile::decodeName(localPath)));
        targetPath = resolved;
        std::free(resolved);
    } else if (!targetPath.startsWith('/')) {
        char* cwd = ::getcwd(nullptr, 0);
        if (!cwd)
            return Status::failure(systemError("getcwd", errno));
        targetPath = QByteArray(cwd) + '/' + targetPath;
        std::free(cwd);
    }

    struct stat original;
    if (::stat(targetPath.constData(), &original) != 0)
        return Status::failure(systemError("stat", errno));
    if (!S_ISREG(original.st_mode))
        return Status::failure(QStringLiteral("%1 is not a regular file").arg(QFile::decodeName(targetPath)));

    const qsizetype slash = targetPath.lastIndexOf('/');
    const QByteArray dir = slash == 0 ? QByteArrayLiteral("/") : targetPath.left(slash);
    QByteArray tempPath = dir + "/." + targetPath.mid(slash + 1) + ".jotwarden-XXXXXX";
    const int fd = ::mkstemp(tempPath.data());
    if (fd < 0)
        return Status::failure(systemError("create temporary file", errno));

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
    if (ok && ::rename(tempPath.constData(), targetPath.constData()) != 0) {
        error = errno;
        ok = false;
    }
    if (!ok) {
        ::unlink(tempPath.constData());
        return Status::failure(systemError("write", error));
    }
    // Make the rename itself durable.
    if (const int dfd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY); dfd >= 0) {
        (void)::fsync(dfd);
        ::close(dfd);
    }
    return {};
}

} // namespace jw
