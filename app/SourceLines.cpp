#include "app/SourceLines.h"

namespace jw::SourceLines {

QList<Span> split(const QByteArray& utf8)
{
    QList<Span> lines;
    const auto* data = reinterpret_cast<const unsigned char*>(utf8.constData());
    const qsizetype size = utf8.size();
    qsizetype start = 0;
    qsizetype i = 0;
    while (i < size) {
        int breakLength = 0;
        const unsigned char c = data[i];
        if (c == '\n' || c == '\v' || c == '\f' || c == '\r')
            breakLength = 1;
        else if (c == 0xC2 && i + 1 < size && data[i + 1] == 0x85)
            breakLength = 2;
        else if (c == 0xE2 && i + 2 < size && data[i + 1] == 0x80 && (data[i + 2] == 0xA8 || data[i + 2] == 0xA9))
            breakLength = 3;
        if (breakLength) {
            lines.append({start, i});
            i += breakLength;
            start = i;
        } else {
            ++i;
        }
    }
    lines.append({start, size});
    return lines;
}

bool isAnnotated(const QString& line, qint64 issueNumber)
{
    const QString needle = QStringLiteral("(#") + QString::number(issueNumber);
    for (qsizetype at = line.indexOf(needle); at >= 0; at = line.indexOf(needle, at + 1)) {
        const qsizetype after = at + needle.size();
        if (after == line.size() || !line.at(after).isDigit())
            return true;
    }
    return false;
}

QString annotation(qint64 issueNumber, const QString& issueURL)
{
    return QStringLiteral(" (#%1 %2)").arg(issueNumber).arg(issueURL);
}

qsizetype annotationPoint(QByteArrayView line)
{
    const auto isBlank = [](char c) {
        return c == ' ' || c == '\t';
    };
    qsizetype point = line.size();
    if (const qsizetype closer = line.lastIndexOf("*/"); closer >= 0) {
        point = closer;
    } else {
        qsizetype last = line.size();
        while (last > 0 && isBlank(line[last - 1]))
            --last;
        if (last > 0 && line[last - 1] == '\\')
            point = last - 1;
        else
            return line.size();
    }
    while (point > 0 && isBlank(line[point - 1]))
        --point;
    return point;
}

} // namespace jw::SourceLines
