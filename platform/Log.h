#pragma once

#include <QString>

namespace jw {

// Writes "[Jotwarden] " + line + "\n" to standard output as one whole line and flushes it.
// Safe to call from any thread: concurrent lines never interleave.
void log(const QString& line);

// Test seam: every logged line (without prefix) is also handed to the sink, when one is set.
using LogSink = void (*)(const QString& line);
void setLogSink(LogSink sink);

} // namespace jw
