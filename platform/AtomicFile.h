#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

namespace jw {

// Replaces the file at `path` with `bytes` as a whole or not at all. A symbolic link is written
// through to its target; the target keeps its permission bits (and, where we may, its owner).
// On any failure the original stays byte for byte as it was and no temporary file is left.
// The path is the bytes the file system names the file by, which need not be UTF-8.
Status writeFileAtomically(const QByteArray& localPath, const QByteArray& bytes);

// A file's bytes as read, with what tells whether the file changed since.
struct FileSnapshot
{
    QByteArray bytes;
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0;
    // A writer held it open: what was read may be part of a save still going on.
    bool beingWritten = false;
};

// Reads the whole file at `localPath` (through a symbolic link); nothing when it cannot be read.
std::optional<FileSnapshot> readFileSnapshot(const QByteArray& localPath);

enum class Replacement
{
    written,
    failed,
    changed,
    readOnly,
    ownedByAnother,
    hardLinked
};

// As writeFileAtomically, but only over the file `read` was taken of while it still holds what was
// read: same inode, size, modification time and bytes, and no writer holding it open, checked again
// just before the rename, so that a save meanwhile or still going on is never replaced by older
// content. A file its owner made read-only, one owned by
// another user, or one with more than one hard link is left as it is: replacing it would undo that.
Replacement replaceUnchangedFile(const QByteArray& localPath, const FileSnapshot& read, const QByteArray& bytes);

// Called with the target's path just before the new content replaces it; set only by tests, to
// change the file in between.
void setBeforeReplaceHook(std::function<void(const QByteArray& targetPath)> hook);

} // namespace jw
