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

    // Reads a file as strict UTF-8 into buffer, without a leading byte-order mark. False when it is
    // not a readable regular file or not valid UTF-8.
    static bool readUtf8(const QByteArray& path, QByteArray& buffer);

    // The file name's extension lower-cased, as the platform's path-extension rule gives it.
    static QString lowerExtension(QStringView path);
};

} // namespace jw
