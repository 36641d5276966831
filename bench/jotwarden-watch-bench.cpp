// Times installing the watcher's watches over a directory tree (no initial scan) and counts them:
// the directories watched and the inotify watches the process holds, which is what counts against
// fs.inotify.max_user_watches.
//   jotwarden-watch-bench [--runs N] DIR
#include "app/detection/FileWatcher.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace {

int inotifyWatches()
{
    int watches = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System)) {
        char target[64] = {};
        const ssize_t n = ::readlink(QFile::encodeName(fds.filePath(fd)).constData(), target, sizeof target - 1);
        if (n <= 0 || std::strcmp(target, "anon_inode:inotify") != 0)
            continue;
        QFile info(QStringLiteral("/proc/self/fdinfo/") + fd);
        if (!info.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : info.readAll().split('\n'))
            watches += line.startsWith("inotify wd:") ? 1 : 0;
    }
    return watches;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    int runs = 5;
    const qsizetype at = args.indexOf(QStringLiteral("--runs"));
    if (at >= 0 && at + 1 < args.size()) {
        runs = std::max(1, args[at + 1].toInt());
        args.remove(at, 2);
    }
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: jotwarden-watch-bench [--runs N] DIR\n");
        return 2;
    }

    std::vector<double> seconds;
    int dirs = 0, watches = 0;
    for (int run = 0; run < runs; ++run) {
        jw::FileWatcher watcher;
        QElapsedTimer timer;
        timer.start();
        watcher.start(args, false);
        seconds.push_back(double(timer.nsecsElapsed()) / 1e9);
        dirs = watcher.watchedDirectoryCount();
        watches = inotifyWatches();
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf("watched_dirs=%d inotify_watches=%d setup_median_s=%.4f setup_min_s=%.4f runs=%d\n",
                dirs,
                watches,
                seconds[seconds.size() / 2],
                seconds.front(),
                runs);
    return 0;
}
