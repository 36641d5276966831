// Measures the delay from a file write to the watcher's detection handler, for in-place appends
// and for atomic saves (a temporary file renamed over the target). Each write comes after a quiet
// period longer than the stream latency, so each is the first event of its burst.
//   jotwarden-latency-bench [--writes N] [--setup DIR]
// With --setup, also times installing the watches over DIR (no scan).
#include "app/detection/FileWatcher.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Detection
{
    std::mutex mutex;
    std::condition_variable changed;
    long count = 0;
    Clock::time_point at;
};

void writeAll(const QByteArray& path, const QByteArray& bytes, int flags)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CLOEXEC | flags, 0644);
    if (fd < 0 || ::write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size()) {
        std::perror("write");
        std::exit(1);
    }
    ::close(fd);
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
    return v[i];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    int writes = 200;
    QString setupDir;
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--writes"))
            writes = std::max(1, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--setup"))
            setupDir = args[i + 1];
    }

    if (!setupDir.isEmpty()) {
        jw::FileWatcher watcher;
        QElapsedTimer timer;
        timer.start();
        watcher.start({setupDir}, false);
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        std::printf("watch_setup_seconds=%.3f watched_dirs=%d\n", seconds, watcher.watchedDirectoryCount());
    }

    // Ten ordinary source files of about 200 lines with two TODOs each; appends rotate over them,
    // atomic saves rewrite the first with one changing TODO.
    QByteArray base = "#include <stdio.h>\n// TODO: existing one\n";
    for (int i = 0; i < 200; ++i)
        base += "static int value" + QByteArray::number(i) + " = " + QByteArray::number(i * 7) + "; /* note */\n";
    base += "/* TODO: existing two */\n";
    QTemporaryDir tmp;
    std::vector<QByteArray> files;
    for (int i = 0; i < 10; ++i) {
        files.push_back(QFile::encodeName(tmp.path() + QStringLiteral("/latency%1.c").arg(i)));
        writeAll(files.back(), base, O_CREAT | O_TRUNC);
    }
    const QByteArray temp = files[0] + ".tmp";

    Detection detection;
    jw::FileWatcher watcher;
    watcher.onTodoDetected = [&](const jw::ParsedTodo&) {
        std::lock_guard lock(detection.mutex);
        detection.at = Clock::now();
        ++detection.count;
        detection.changed.notify_all();
    };
    watcher.start({tmp.path()}, true);

    auto measure = [&](bool rename, int i) {
        const QByteArray line = "// TODO: item " + QByteArray::number(i) + (rename ? " r\n" : " a\n");
        // Past the latency window of the previous delivery: this write opens a new burst.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        long before;
        {
            std::lock_guard lock(detection.mutex);
            before = detection.count;
        }
        const Clock::time_point start = Clock::now();
        if (rename) {
            writeAll(temp, base + line, O_CREAT | O_TRUNC);
            ::rename(temp.constData(), files[0].constData());
        } else {
            writeAll(files[size_t(i) % files.size()], line, O_APPEND);
        }
        std::unique_lock lock(detection.mutex);
        if (!detection.changed.wait_for(lock, std::chrono::seconds(5), [&] { return detection.count > before; })) {
            std::fprintf(stderr, "no detection for write %d\n", i);
            std::exit(1);
        }
        return std::chrono::duration<double, std::milli>(detection.at - start).count();
    };

    std::vector<double> append, renamed;
    for (int i = 0; i < writes; ++i)
        append.push_back(measure(false, i));
    for (int i = 0; i < writes; ++i)
        renamed.push_back(measure(true, writes + i));

    // An idle watcher should cost nothing: no timer, no polling.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    getrusage(RUSAGE_SELF, &after);
    auto cpuMs = [](const rusage& u) {
        return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3
               + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
    };
    std::printf("idle_cpu_ms_over_2s=%.3f\n", cpuMs(after) - cpuMs(before));

    std::printf("append_median_ms=%.3f append_p99_ms=%.3f rename_median_ms=%.3f rename_p99_ms=%.3f\n",
                percentile(append, 0.5),
                percentile(append, 0.99),
                percentile(renamed, 0.5),
                percentile(renamed, 0.99));
    return 0;
}
