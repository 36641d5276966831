#pragma once

#include <QByteArrayView>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <vector>

namespace jw {

// One TODO comment found in a file.
struct ParsedTodo
{
    QString title;
    QString body;
    QString fullContent;
    QString filePath;
    // The bytes the file system names the file by, which need not be UTF-8: the watcher sets them
    // on each TODO it reports. filePath is their text, for display, the log and the issue body.
    QByteArray localPath;
    qint64 lineNumber = 0;
    QString contentHash;
    // The TODO's own line holds an issue reference of the annotation's form: it was filed
    // already, here or wherever the line came from (a pull, a copied file).
    bool isAnnotated = false;

    QString issueBody() const;
    bool operator==(const ParsedTodo&) const = default;
};

// The raw SHA-256 behind a content hash. A file's TODOs are remembered as a sorted vector of these
// rather than as the file's text: an empty vector costs no allocation.
using ContentDigest = std::array<unsigned char, 32>;
using DigestSet = std::vector<ContentDigest>;

namespace TodoParser {

// Line-comment prefixes, tested in this order.
inline const QStringList commentPrefixes = {
    QStringLiteral("//"),
    QStringLiteral("#"),
    QStringLiteral("--"),
    QStringLiteral(";"),
    QStringLiteral("%"),
};

QList<ParsedTodo> parse(const QString& content, const QString& filePath);
// The same over text that is already valid UTF-8 (as a file read strictly gives it): no decoding
// unless the text holds a TODO.
QList<ParsedTodo> parseUtf8(QByteArrayView content, const QString& filePath);

// Whether "todo:" occurs in any ASCII case: a text without it holds no TODO.
bool hasTodoTag(QByteArrayView utf8);

// The TODOs of the new text that are neither annotated nor among the previous text's or the seen
// hashes.
QList<ParsedTodo> newTodos(const QString& content,
                           const std::optional<QString>& previous,
                           const QString& filePath,
                           const QSet<QString>& seenHashes);
// For callers that keep only the digests of the previous text; nullptr means no previous text.
QList<ParsedTodo>
newTodos(const QString& content, const DigestSet* previous, const QString& filePath, const QSet<QString>& seenHashes);
// The same over TODOs the caller has parsed already.
QList<ParsedTodo>
newTodos(const QList<ParsedTodo>& current, const DigestSet* previous, const QSet<QString>& seenHashes);

QString contentHash(const QString& of);
std::optional<QString> commentPrefix(const QString& of);

// Sorted digests of the given TODOs' content hashes.
DigestSet digests(const QList<ParsedTodo>& todos);
bool containsDigest(const DigestSet& set, const QString& contentHash);

} // namespace TodoParser

// Strict UTF-8: rejects overlong forms, encoded surrogates, code points past U+10FFFF, stray
// continuation bytes and sequences cut short.
bool isValidUtf8(QByteArrayView bytes);

} // namespace jw
