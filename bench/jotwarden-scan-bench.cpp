// Runs the watcher's initial scan over one directory and prints what it read and how fast.
//   jotwarden-scan-bench [--list] DIR
#include "app/detection/FileWatcher.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>

#include <cstdio>
#include <sys/resource.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool list = args.removeAll(QStringLiteral("--list")) > 0;
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: jotwarden-scan-bench [--list] DIR\n");
        return 2;
    }

    jw::FileWatcher watcher;
    if (list) {
        watcher.onTodoScanned = [](const jw::ParsedTodo& todo) {
            const QByteArray line = todo.contentHash.toUtf8() + '\t' + todo.filePath.toUtf8() + ':'
                                    + QByteArray::number(todo.lineNumber) + '\t' + todo.title.toUtf8() + '\n';
            std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
        };
    }
    QElapsedTimer timer;
    timer.start();
    const jw::FileWatcher::ScanStats stats = watcher.scanDirectories(args);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("files=%lld todos=%lld bytes=%lld seconds=%.3f mbps=%.1f peak_rss_mb=%.1f\n",
                static_cast<long long>(stats.files),
                static_cast<long long>(stats.todos),
                static_cast<long long>(stats.bytes),
                seconds,
                double(stats.bytes) / 1e6 / seconds,
                double(usage.ru_maxrss) / 1024.0);
    return 0;
}
