#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QString>

namespace jw {

// Replaces the file at `path` with `bytes` as a whole or not at all. A symbolic link is written
// through to its target; the target keeps its permission bits (and, where we may, its owner).
// On any failure the original stays byte for byte as it was and no temporary file is left.
// The path is the bytes the file system names the file by, which need not be UTF-8.
Status writeFileAtomically(const QByteArray& localPath, const QByteArray& bytes);

} // namespace jw
