#include "app/SourceLines.h"

#include "app/detection/TodoParser.h"

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

namespace {

// The length in bytes of the white space (a tab or a Unicode space separator, as the TODO parser
// counts it) that ends at `end` in a UTF-8 line, or 0.
qsizetype whiteSpaceBefore(QByteArrayView line, qsizetype end)
{
    if (end <= 0)
        return 0;
    if (line[end - 1] == ' ' || line[end - 1] == '\t')
        return 1;
    qsizetype start = end - 1;
    while (start > 0 && end - start < 4 && (static_cast<unsigned char>(line[start]) & 0xC0) == 0x80)
        --start;
    const QString c = QString::fromUtf8(line.sliced(start, end - start));
    return c.size() == 1 && c.at(0).category() == QChar::Separator_Space ? end - start : 0;
}

// What annotating must keep: every TODO, where it stands and what it hashes as.
QList<std::pair<qint64, QString>> fingerprint(const QList<ParsedTodo>& todos)
{
    QList<std::pair<qint64, QString>> out;
    out.reserve(todos.size());
    for (const ParsedTodo& todo : todos)
        out.append({todo.lineNumber, todo.contentHash});
    return out;
}

// Whether the parser reads the line as part of a block comment: after the indentation it starts
// with "/*" or "*", and no line-comment prefix comes first. In any other line a "*/" is only text.
bool isBlockCommentLine(QByteArrayView line)
{
    const QString text = QString::fromUtf8(line);
    if (TodoParser::commentPrefix(text))
        return false;
    // A line holds no line breaks, so trimming takes the parser's white space only.
    const QString trimmed = text.trimmed();
    return trimmed.startsWith(u'*') || trimmed.startsWith(u"/*");
}

} // namespace

qsizetype annotationPoint(QByteArrayView line)
{
    qsizetype point = line.size();
    if (const qsizetype closer = line.lastIndexOf("*/"); closer >= 0 && isBlockCommentLine(line)) {
        point = closer;
    } else {
        qsizetype last = line.size();
        while (const qsizetype k = whiteSpaceBefore(line, last))
            last -= k;
        if (last > 0 && line[last - 1] == '\\')
            point = last - 1;
        else
            return line.size();
    }
    // The reference's pattern takes the white space before it along; what stood there stays after.
    while (const qsizetype k = whiteSpaceBefore(line, point))
        point -= k;
    return point;
}

std::optional<QByteArray>
annotate(const QByteArray& utf8, qint64 lineNumber, qint64 issueNumber, const QString& issueURL)
{
    const QList<Span> lines = split(utf8);
    if (lineNumber < 1 || lineNumber > lines.size())
        return std::nullopt;
    const Span span = lines[lineNumber - 1];
    const QByteArrayView line = QByteArrayView(utf8).sliced(span.start, span.end - span.start);
    if (isAnnotated(QString::fromUtf8(line), issueNumber))
        return std::nullopt;
    QByteArray annotated = utf8;
    annotated.insert(span.start + annotationPoint(line), annotation(issueNumber, issueURL).toUtf8());
    // Odd lines (a closer run on into code or into another closer) can let the reference's pattern
    // reach past the reference; such a line is left as it is rather than change a TODO's text.
    if (fingerprint(TodoParser::parseUtf8(annotated, QString())) != fingerprint(TodoParser::parseUtf8(utf8, QString())))
        return std::nullopt;
    return annotated;
}

} // namespace jw::SourceLines
