#pragma once

#include <QDateTime>
#include <QString>

namespace jw {

// A date relative to `now` in words, with named days, weeks, months and years where English has
// them: "now", "2 minutes ago", "in 3 hours", "yesterday", "last week", "in 2 years".
QString relativeDateText(const QDateTime& date, const QDateTime& now);

} // namespace jw
