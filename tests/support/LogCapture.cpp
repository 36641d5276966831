#include "tests/support/LogCapture.h"

#include "platform/Log.h"

namespace jw::test {
namespace {
QMutex gMutex;
QStringList gLines;
void sink(const QString& line)
{
    QMutexLocker lock(&gMutex);
    gLines << line;
}
} // namespace

LogCapture::LogCapture()
{
    clear();
    setLogSink(&sink);
}

LogCapture::~LogCapture()
{
    setLogSink(nullptr);
}

QStringList LogCapture::lines() const
{
    QMutexLocker lock(&gMutex);
    return gLines;
}

void LogCapture::clear()
{
    QMutexLocker lock(&gMutex);
    gLines.clear();
}

} // namespace jw::test
