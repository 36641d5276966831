// Parses one generated file whose block comment holds nothing but TODO lines, and prints the
// time and the memory the parse took above what the process held before it.
//   jotwarden-parse-bench [TODO_LINES]   (default 10000: a 300 KB file)
#include "app/detection/TodoParser.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <unistd.h>

namespace {

double residentMb()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return double(fields.value(1).toLongLong()) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

double peakMb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int lines = argc > 1 ? std::atoi(argv[1]) : 10000;
    if (lines <= 0) {
        std::fprintf(stderr, "usage: jotwarden-parse-bench [TODO_LINES]\n");
        return 2;
    }

    // 30 bytes a line, as a long generated or pasted list in one comment would have.
    QByteArray text = "/*\n";
    text.reserve(qsizetype(lines) * 30 + 8);
    char line[64];
    for (int i = 0; i < lines; ++i) {
        std::snprintf(line, sizeof line, " * TODO: check case %05d now\n", i % 100000);
        text += line;
    }
    text += " */\n";

    const double before = std::max(residentMb(), peakMb());
    QElapsedTimer timer;
    timer.start();
    const QList<jw::ParsedTodo> todos = jw::TodoParser::parseUtf8(text, QStringLiteral("/bench/list.c"));
    const double seconds = double(timer.nsecsElapsed()) / 1e9;

    qint64 bodyBytes = 0;
    for (const jw::ParsedTodo& todo : todos)
        bodyBytes += todo.body.size() * qint64(sizeof(QChar));
    std::printf("bytes=%lld todo_lines=%d todos=%lld body_bytes=%lld seconds=%.3f peak_above_baseline_mb=%.1f "
                "peak_rss_mb=%.1f\n",
                static_cast<long long>(text.size()),
                lines,
                static_cast<long long>(todos.size()),
                static_cast<long long>(bodyBytes),
                seconds,
                peakMb() - before,
                peakMb());
    return 0;
}
