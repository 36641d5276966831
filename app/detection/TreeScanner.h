#pragma once

#include "app/detection/TodoParser.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

#include <functional>

namespace jw {

// Walks a directory tree the way the platform's enumerator that skips hidden entries does
// (pre-order, names in byte order), or with hidden entries too, reading and parsing the code files
// it finds on worker threads while the caller receives them in walk order.
class TreeScanner
{
public:
    struct File
    {
        QString path;         // as text, for the TODOs and the log
        QByteArray localPath; // the bytes the file system names it by
        bool readable = false;
        // Not read: larger than any source file.
        bool tooLarge = false;
        // Not read: a writer holds it open, and its close tells when it is complete.
        bool beingWritten = false;
        qint64 bytes = 0;
        QList<ParsedTodo> todos;
    };

    enum class Hidden
    {
        Skipped,
        Entered
    };

    // root is a clean absolute path. Hidden entries are skipped unless asked otherwise; no entry
    // whose name is in ignoredNames is entered, and nothing is yielded when a component of root
    // itself is in it. A file is yielded when its lower-cased extension is in extensions. sink
    // runs on the calling thread.
    static void scan(const QByteArray& root,
                     const QSet<QString>& extensions,
                     const QSet<QString>& ignoredNames,
                     const std::function<void(File&)>& sink,
                     Hidden hidden = Hidden::Skipped);

    // Code files above this size are never read: no source file is that large, and what is
    // (a database dump, a disk image, a capture) would cost its size in memory.
    static constexpr qint64 kMaxFileBytes = 32 * 1024 * 1024;

    // Reads and parses one file as the scan does, as strict UTF-8 without a leading byte-order
    // mark, holding at most kMaxFileBytes of it; buffer is reused between calls. Not readable when
    // it is not a regular file, not valid UTF-8, too large or being written.
    static void read(const QByteArray& path, File& out, QByteArray& buffer);

    // The file name's extension lower-cased, as the platform's path-extension rule gives it.
    static QString lowerExtension(QStringView path);
};

} // namespace jw
