#pragma once

#include <QMutex>
#include <QString>
#include <QStringList>

namespace jw::test {

// Collects every line logged while it exists (without the "[Jotwarden] " prefix).
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    QStringList lines() const;
    bool contains(const QString& line) const { return lines().contains(line); }
    int count(const QString& line) const { return static_cast<int>(lines().count(line)); }
    void clear();
};

} // namespace jw::test
