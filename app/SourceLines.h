#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>

namespace jw::SourceLines {

// One line of a UTF-8 file as byte offsets, without its line-break character.
struct Span
{
    qsizetype start = 0;
    qsizetype end = 0;
};

// Splits at every newline character (LF, VT, FF, CR, NEL, LS, PS), each on its own, so a CR LF
// pair yields an empty line between its two characters: the numbering the TODO parser uses.
QList<Span> split(const QByteArray& utf8);

// Whether the line already holds "(#" and the issue number, not followed by another digit.
bool isAnnotated(const QString& line, qint64 issueNumber);

// A blank, "(#", the number, a blank, the address and ")".
QString annotation(qint64 issueNumber, const QString& issueURL);

// Where in a line (a byte offset) the annotation goes so that the comment still holds it: just
// before the last "*/" when the line is a block comment's ("/*" or "*" after its indentation) and
// holds one, else before a final backslash (which carries a comment on into the next line), else at
// the end. White space before that place stays after it.
qsizetype annotationPoint(QByteArrayView line);

// The file's bytes with the annotation placed in line `lineNumber` (1-based); only that line's
// bytes change, and every TODO of the file keeps its line and hash. Nothing when the line does not
// exist, already holds the reference, or could not take it without changing a TODO.
std::optional<QByteArray>
annotate(const QByteArray& utf8, qint64 lineNumber, qint64 issueNumber, const QString& issueURL);

} // namespace jw::SourceLines
