#include "app/views/RelativeDate.h"

namespace jw {

namespace {

QString counted(qint64 n, const char* unit, bool past)
{
    const QString amount =
        QStringLiteral("%1 %2%3").arg(n).arg(QLatin1String(unit)).arg(n == 1 ? QLatin1String() : QLatin1String("s"));
    return past ? amount + QStringLiteral(" ago") : QStringLiteral("in ") + amount;
}

QString named(qint64 n, const char* unit, bool past)
{
    if (n == 1)
        return (past ? QStringLiteral("last ") : QStringLiteral("next ")) + QLatin1String(unit);
    return counted(n, unit, past);
}

} // namespace

QString relativeDateText(const QDateTime& date, const QDateTime& now)
{
    if (!date.isValid() || !now.isValid())
        return QString();
    const bool past = date <= now;
    const QDateTime from = past ? date.toLocalTime() : now.toLocalTime();
    const QDateTime to = past ? now.toLocalTime() : date.toLocalTime();
    const qint64 seconds = from.secsTo(to);

    // Whole calendar months between the two, the way a calendar counts them.
    int months = (to.date().year() - from.date().year()) * 12 + to.date().month() - from.date().month();
    if (months > 0 && from.addMonths(months) > to)
        --months;
    if (months >= 12)
        return named(months / 12, "year", past);
    if (months >= 1)
        return named(months, "month", past);
    const qint64 days = seconds / 86400;
    if (days >= 7)
        return named(days / 7, "week", past);
    if (days == 1)
        return past ? QStringLiteral("yesterday") : QStringLiteral("tomorrow");
    if (days >= 2)
        return counted(days, "day", past);
    if (seconds >= 3600)
        return counted(seconds / 3600, "hour", past);
    if (seconds >= 60)
        return counted(seconds / 60, "minute", past);
    if (seconds >= 1)
        return counted(seconds, "second", past);
    return QStringLiteral("now");
}

} // namespace jw
