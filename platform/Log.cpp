#include "platform/Log.h"

#include <atomic>
#include <cstdio>
#include <mutex>

namespace jw {
namespace {
std::mutex gLogMutex;
std::atomic<LogSink> gSink{nullptr};
} // namespace

void log(const QString& line)
{
    const QByteArray bytes = QByteArrayLiteral("[Jotwarden] ") + line.toUtf8() + '\n';
    {
        std::lock_guard lock(gLogMutex);
        std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
        std::fflush(stdout);
    }
    if (LogSink sink = gSink.load())
        sink(line);
}

void setLogSink(LogSink sink)
{
    gSink.store(sink);
}

} // namespace jw
