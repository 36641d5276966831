#include "app/detection/TodoParser.h"

#include <QChar>
#include <QCryptographicHash>
#include <QStringDecoder>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

namespace jw {
namespace {

using Byte = unsigned char;

// Everything below works on valid UTF-8 bytes. A lead byte (0xC2..0xF4) never occurs inside a
// sequence, so byte-wise tests for the multi-byte white-space and newline characters are exact.
struct Span
{
    const char* b;
    const char* e;
    bool empty() const { return b == e; }
    qsizetype size() const { return e - b; }
};

inline Byte at(const char* p)
{
    return static_cast<Byte>(*p);
}

// Length of the white-space character (tab or Unicode Zs) starting at p, or 0.
inline int wsLenAt(const char* p, const char* e)
{
    const Byte c = at(p);
    if (c == ' ' || c == '\t')
        return 1;
    if (c < 0xC2)
        return 0;
    const auto n = e - p;
    if (c == 0xC2)
        return n >= 2 && at(p + 1) == 0xA0 ? 2 : 0; // U+00A0
    if (n < 3)
        return 0;
    const Byte c1 = at(p + 1), c2 = at(p + 2);
    if (c == 0xE1)
        return c1 == 0x9A && c2 == 0x80 ? 3 : 0; // U+1680
    if (c == 0xE2) {
        if (c1 == 0x80 && (c2 <= 0x8A || c2 == 0xAF)) // U+2000..U+200A, U+202F
            return 3;
        return c1 == 0x81 && c2 == 0x9F ? 3 : 0; // U+205F
    }
    if (c == 0xE3)
        return c1 == 0x80 && c2 == 0x80 ? 3 : 0; // U+3000
    return 0;
}

// Length of the white-space character ending at e, or 0.
inline int wsLenBefore(const char* b, const char* e)
{
    const auto n = e - b;
    if (n == 0)
        return 0;
    const Byte c = at(e - 1);
    if (c == ' ' || c == '\t')
        return 1;
    if (c < 0x80)
        return 0;
    if (n >= 2 && at(e - 2) == 0xC2 && c == 0xA0)
        return 2;
    if (n >= 3) {
        const Byte a = at(e - 3), m = at(e - 2);
        if ((a == 0xE1 && m == 0x9A && c == 0x80) || (a == 0xE2 && m == 0x80 && (c <= 0x8A || c == 0xAF))
            || (a == 0xE2 && m == 0x81 && c == 0x9F) || (a == 0xE3 && m == 0x80 && c == 0x80))
            return 3;
    }
    return 0;
}

// Length of the newline character (LF, VT, FF, CR, U+0085, U+2028, U+2029) starting at p, or 0.
inline int nlLenAt(const char* p, const char* e)
{
    const Byte c = at(p);
    if (c >= 0x0A && c <= 0x0D)
        return 1;
    if (c == 0xC2)
        return e - p >= 2 && at(p + 1) == 0x85 ? 2 : 0;
    if (c == 0xE2)
        return e - p >= 3 && at(p + 1) == 0x80 && (at(p + 2) == 0xA8 || at(p + 2) == 0xA9) ? 3 : 0;
    return 0;
}

inline int nlLenBefore(const char* b, const char* e)
{
    const auto n = e - b;
    if (n == 0)
        return 0;
    const Byte c = at(e - 1);
    if (c >= 0x0A && c <= 0x0D)
        return 1;
    if (c == 0x85 && n >= 2 && at(e - 2) == 0xC2)
        return 2;
    if ((c == 0xA8 || c == 0xA9) && n >= 3 && at(e - 2) == 0x80 && at(e - 3) == 0xE2)
        return 3;
    return 0;
}

inline bool mayStartNewline(Byte c)
{
    return c <= 0x0D || c == 0xC2 || c == 0xE2;
}

// First newline character at or after p (or e); its length goes to len.
inline const char* findNewline(const char* p, const char* e, int& len)
{
    for (; p < e; ++p) {
        if (!mayStartNewline(at(p)))
            continue;
        if ((len = nlLenAt(p, e)))
            return p;
    }
    len = 0;
    return e;
}

qint64 countNewlines(const char* p, const char* e)
{
    qint64 n = 0;
    while (p < e) {
        if (!mayStartNewline(at(p))) {
            ++p;
            continue;
        }
        const int len = nlLenAt(p, e);
        if (len) {
            ++n;
            p += len;
        } else {
            ++p;
        }
    }
    return n;
}

inline int cpLen(Byte lead)
{
    return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

char32_t decode(const char* p)
{
    const Byte c = at(p);
    if (c < 0x80)
        return c;
    if (c < 0xE0)
        return char32_t(c & 0x1F) << 6 | (at(p + 1) & 0x3F);
    if (c < 0xF0)
        return char32_t(c & 0x0F) << 12 | char32_t(at(p + 1) & 0x3F) << 6 | (at(p + 2) & 0x3F);
    return char32_t(c & 0x07) << 18 | char32_t(at(p + 1) & 0x3F) << 12 | char32_t(at(p + 2) & 0x3F) << 6
           | (at(p + 3) & 0x3F);
}

Span trim(Span s)
{
    while (s.b < s.e) {
        const int k = wsLenAt(s.b, s.e);
        if (!k)
            break;
        s.b += k;
    }
    while (s.b < s.e) {
        const int k = wsLenBefore(s.b, s.e);
        if (!k)
            break;
        s.e -= k;
    }
    return s;
}

Span trimWithNewlines(Span s)
{
    while (s.b < s.e) {
        const int k = std::max(wsLenAt(s.b, s.e), nlLenAt(s.b, s.e));
        if (!k)
            break;
        s.b += k;
    }
    while (s.b < s.e) {
        const int k = std::max(wsLenBefore(s.b, s.e), nlLenBefore(s.b, s.e));
        if (!k)
            break;
        s.e -= k;
    }
    return s;
}

inline bool startsWith(Span s, std::string_view prefix)
{
    return s.size() >= qsizetype(prefix.size()) && std::memcmp(s.b, prefix.data(), prefix.size()) == 0;
}

inline bool equals(Span s, std::string_view text)
{
    return s.size() == qsizetype(text.size()) && std::memcmp(s.b, text.data(), text.size()) == 0;
}

// "todo:" in any ASCII case; no other character folds to these letters.
inline bool isTodoTag(const char* p)
{
    return (at(p) | 0x20) == 't' && (at(p + 1) | 0x20) == 'o' && (at(p + 2) | 0x20) == 'd' && (at(p + 3) | 0x20) == 'o'
           && at(p + 4) == ':';
}

inline bool startsWithTodoTag(Span s)
{
    return s.size() >= 5 && isTodoTag(s.b);
}

bool containsTodoTag(Span s)
{
    for (const char* p = s.b; p + 5 <= s.e; ++p) {
        p = static_cast<const char*>(std::memchr(p + 4, ':', static_cast<size_t>(s.e - p - 4)));
        if (!p)
            return false;
        if (isTodoTag(p - 4))
            return true;
        p -= 4;
    }
    return false;
}

std::string removeAll(Span s, std::string_view what)
{
    std::string out;
    out.reserve(static_cast<size_t>(s.size()));
    const char* p = s.b;
    while (p < s.e) {
        const char* hit = std::search(p, s.e, what.begin(), what.end());
        out.append(p, hit);
        if (hit == s.e)
            break;
        p = hit + what.size();
    }
    return out;
}

inline bool contains(Span s, std::string_view what)
{
    return std::search(s.b, s.e, what.begin(), what.end()) != s.e;
}

// Same order as TodoParser::commentPrefixes.
constexpr std::array<std::string_view, 5> kPrefixes = {"//", "#", "--", ";", "%"};

inline Span spanOf(const std::string& s)
{
    return {s.data(), s.data() + s.size()};
}

// The issue reference the pipeline appends: "\s*\(#\d+ https?://\S+?\)" with \s = tab or Zs
// (the only white space left inside a line) and \d any Unicode decimal digit. Returns the end of
// the match that starts with the '(' at p, or nullptr.
const char* matchReference(const char* p, const char* e)
{
    ++p;
    if (p >= e || *p != '#')
        return nullptr;
    ++p;
    int digits = 0;
    while (p < e) {
        const Byte c = at(p);
        if (c >= '0' && c <= '9') {
            ++p;
        } else if (c >= 0x80 && QChar::category(decode(p)) == QChar::Number_DecimalDigit) {
            p += cpLen(c);
        } else {
            break;
        }
        ++digits;
    }
    if (!digits || p >= e || *p != ' ')
        return nullptr;
    ++p;
    Span rest{p, e};
    if (!startsWith(rest, "http"))
        return nullptr;
    p += 4;
    if (p < e && *p == 's')
        ++p;
    if (!startsWith(Span{p, e}, "://"))
        return nullptr;
    p += 3;
    // The address ends at its first ')': a greedy match would run on into what follows a
    // reference placed before a block comment's closer ("x (#4 https://…)*/);" once the closer
    // is dropped), and annotating would change the line's hash.
    const char* runStart = p;
    while (p < e && !wsLenAt(p, e)) {
        if (*p == ')' && p > runStart)
            return p + 1;
        p += cpLen(at(p));
    }
    return nullptr;
}

bool holdsReference(Span s)
{
    for (const char* p = s.b; p < s.e; ++p) {
        p = static_cast<const char*>(std::memchr(p, '(', static_cast<size_t>(s.e - p)));
        if (!p)
            return false;
        if (matchReference(p, s.e))
            return true;
    }
    return false;
}

std::string clean(Span s)
{
    std::string out;
    const char* copyFrom = s.b;
    const char* p = s.b;
    while (p < s.e) {
        const char* paren = static_cast<const char*>(std::memchr(p, '(', static_cast<size_t>(s.e - p)));
        if (!paren)
            break;
        const char* end = matchReference(paren, s.e);
        if (!end) {
            p = paren + 1;
            continue;
        }
        const char* start = paren;
        while (start > copyFrom) {
            const int k = wsLenBefore(copyFrom, start);
            if (!k)
                break;
            start -= k;
        }
        out.append(copyFrom, start);
        copyFrom = p = end;
    }
    out.append(copyFrom, s.e);
    const Span t = trim(spanOf(out));
    return std::string(t.b, t.e);
}

// Walks lines the way splitting at every newline character does: n newlines give n + 1 lines.
struct LineCursor
{
    const char* pos;
    const char* end;
    bool done = false;

    bool next(Span& line)
    {
        if (done)
            return false;
        int len = 0;
        const char* nl = findNewline(pos, end, len);
        line = {pos, nl};
        if (nl == end)
            done = true;
        else
            pos = nl + len;
        return true;
    }
};

// QString::fromUtf8 drops a leading U+FEFF as a byte-order mark; inside a file's text it is a
// character like any other.
QString textOf(const char* b, qsizetype n)
{
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    return decoder(QByteArrayView(b, n));
}

enum class Mode
{
    Line,
    Block
};

QString hashOfUtf8(Span text)
{
    const Span t = trimWithNewlines(text);
    QByteArray bytes(t.b, t.size());
    bool ascii = true;
    for (char& ch : bytes) {
        const Byte c = static_cast<Byte>(ch);
        if (c >= 0x80) {
            ascii = false;
            break;
        }
        if (c >= 'A' && c <= 'Z')
            ch = static_cast<char>(c | 0x20);
    }
    if (!ascii) {
        // QString::toLower applies the full mappings (U+0130 becomes "i" + U+0307) and no
        // locale's rules.
        bytes = textOf(t.b, t.size()).toLower().toUtf8();
    }
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QString joinLines(const std::vector<std::string>& lines, size_t from)
{
    std::string joined;
    for (size_t i = from; i < lines.size(); ++i) {
        if (i > from)
            joined += '\n';
        joined += lines[i];
    }
    return textOf(joined.data(), static_cast<qsizetype>(joined.size()));
}

// A line that starts a TODO: its comment style and its comment text, which begins with the tag.
struct TodoLine
{
    Mode mode = Mode::Line;
    std::string_view prefix; // line mode only
    Span text;
};

std::optional<TodoLine> todoLine(Span line)
{
    const Span trimmed = trim(line);
    TodoLine found;
    for (const std::string_view candidate : kPrefixes) {
        if (startsWith(trimmed, candidate)) {
            found.prefix = candidate;
            break;
        }
    }
    if (!found.prefix.empty()) {
        found.text = trim(Span{trimmed.b + found.prefix.size(), trimmed.e});
    } else if (startsWith(trimmed, "/*")) {
        found.mode = Mode::Block;
        found.text = trim(Span{trimmed.b + 2, trimmed.e});
    } else if (startsWith(trimmed, "*")) {
        found.mode = Mode::Block;
        found.text = trim(Span{trimmed.b + 1, trimmed.e});
    } else {
        return std::nullopt;
    }
    if (!startsWithTodoTag(found.text))
        return std::nullopt;
    return found;
}

// Gathers and cleans the TODO whose comment text (starting with the tag) is `text`.
void readTodo(Mode mode,
              std::string_view prefix,
              Span text,
              LineCursor after,
              qint64 lineNumber,
              const QString& filePath,
              QList<ParsedTodo>& out)
{
    std::vector<std::string> gathered;
    Span title = trim(Span{text.b + 5, text.e});
    const bool annotated = holdsReference(title);
    bool gather = true;
    if (mode == Mode::Block && contains(title, "*/")) {
        gathered.push_back(removeAll(title, "*/"));
        const Span t = trim(spanOf(gathered.back()));
        gathered.back() = std::string(t.b, t.e);
        gather = false;
    } else {
        gathered.emplace_back(title.b, title.e);
    }

    Span line;
    if (gather && mode == Mode::Block) {
        while (after.next(line)) {
            // The next TODO of the comment starts a body of its own; reading on would give every
            // TODO of a long list all the lines after it.
            if (todoLine(line))
                break;
            Span t = trim(line);
            if (contains(t, "*/")) {
                const std::string rest = removeAll(t, "*/");
                const Span r = trim(spanOf(rest));
                if (!r.empty())
                    gathered.emplace_back(r.b, r.e);
                break;
            }
            if (!t.empty() && *t.b == '*')
                t = trim(Span{t.b + 1, t.e});
            if (!t.empty())
                gathered.emplace_back(t.b, t.e);
        }
    } else if (gather) {
        while (after.next(line)) {
            const Span t = trim(line);
            if (!startsWith(t, prefix))
                break;
            const Span lineText = trim(Span{t.b + prefix.size(), t.e});
            if (containsTodoTag(lineText))
                break;
            if (!lineText.empty()) {
                gathered.emplace_back(lineText.b, lineText.e);
                continue;
            }
            if (after.done) {
                gathered.emplace_back();
                break;
            }
            LineCursor peek = after;
            Span next;
            peek.next(next);
            const Span nt = trim(next);
            if (!startsWith(nt, prefix) || equals(nt, prefix))
                break;
            gathered.emplace_back();
        }
    }

    for (std::string& g : gathered)
        g = clean(spanOf(g));
    if (gathered.front().empty())
        return;

    std::string full;
    for (size_t i = 0; i < gathered.size(); ++i) {
        if (i)
            full += '\n';
        full += gathered[i];
    }
    ParsedTodo todo;
    todo.title = textOf(gathered.front().data(), static_cast<qsizetype>(gathered.front().size()));
    todo.body = joinLines(gathered, 1);
    todo.fullContent = textOf(full.data(), static_cast<qsizetype>(full.size()));
    todo.filePath = filePath;
    todo.lineNumber = lineNumber;
    todo.contentHash = hashOfUtf8(spanOf(full));
    todo.isAnnotated = annotated;
    out.push_back(std::move(todo));
}

int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

std::optional<ContentDigest> digestOf(const QString& hex)
{
    if (hex.size() != 64)
        return std::nullopt;
    ContentDigest d{};
    for (int i = 0; i < 32; ++i) {
        const int hi = hexValue(hex[2 * i]), lo = hexValue(hex[2 * i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        d[static_cast<size_t>(i)] = static_cast<unsigned char>(hi << 4 | lo);
    }
    return d;
}

// The parse of a text that holds no byte-order mark of a file.
QList<ParsedTodo> parseText(QByteArrayView content, const QString& filePath)
{
    QList<ParsedTodo> out;
    const char* const begin = content.data();
    const char* const end = begin + content.size();
    const char* counted = begin; // newlines before `counted` are in `newlinesBefore`
    qint64 newlinesBefore = 0;
    const char* p = begin;
    // Only a line holding "todo:" can be a TODO line, so look for colons and judge their lines.
    while (p < end) {
        const char* colon = static_cast<const char*>(std::memchr(p, ':', static_cast<size_t>(end - p)));
        if (!colon)
            break;
        p = colon + 1;
        if (colon - begin < 4 || !isTodoTag(colon - 4))
            continue;

        const char* lineStart = colon - 4;
        while (lineStart > begin && !nlLenBefore(begin, lineStart))
            --lineStart;
        int nlLen = 0;
        const char* lineEnd = findNewline(colon + 1, end, nlLen);
        p = lineEnd; // one verdict per line

        const std::optional<TodoLine> found = todoLine(Span{lineStart, lineEnd});
        if (!found)
            continue;

        newlinesBefore += countNewlines(counted, lineStart);
        counted = lineStart;
        LineCursor after{lineEnd, end, lineEnd == end};
        if (!after.done)
            after.pos = lineEnd + nlLen;
        readTodo(found->mode, found->prefix, found->text, after, newlinesBefore + 1, filePath, out);
    }
    return out;
}

} // namespace

QString ParsedTodo::issueBody() const
{
    return body + QStringLiteral("\n\n---\n`") + filePath + QLatin1Char(':') + QString::number(lineNumber)
           + QLatin1Char('`');
}

namespace TodoParser {

QList<ParsedTodo> parseUtf8(QByteArrayView content, const QString& filePath)
{
    // The byte-order mark that starts a file is no part of its text; a decoded text has none.
    if (content.startsWith("\xEF\xBB\xBF"))
        content = content.sliced(3);
    return parseText(content, filePath);
}

bool hasTodoTag(QByteArrayView utf8)
{
    return containsTodoTag(Span{utf8.data(), utf8.data() + utf8.size()});
}

QList<ParsedTodo> parse(const QString& content, const QString& filePath)
{
    const QByteArray utf8 = content.toUtf8();
    return parseText(utf8, filePath);
}

QList<ParsedTodo> newTodos(const QList<ParsedTodo>& current, const DigestSet* previous, const QSet<QString>& seenHashes)
{
    if (!previous)
        return {};
    QList<ParsedTodo> result;
    for (const ParsedTodo& todo : current) {
        if (!todo.isAnnotated && !containsDigest(*previous, todo.contentHash) && !seenHashes.contains(todo.contentHash))
            result.push_back(todo);
    }
    return result;
}

QList<ParsedTodo> newTodos(const QString& content,
                           const std::optional<QString>& previous,
                           const QString& filePath,
                           const QSet<QString>& seenHashes)
{
    const QList<ParsedTodo> current = parse(content, filePath);
    if (!previous)
        return {};
    const DigestSet before = digests(parse(*previous, filePath));
    return newTodos(current, &before, seenHashes);
}

QList<ParsedTodo>
newTodos(const QString& content, const DigestSet* previous, const QString& filePath, const QSet<QString>& seenHashes)
{
    return newTodos(parse(content, filePath), previous, seenHashes);
}

QString contentHash(const QString& of)
{
    const QByteArray utf8 = of.toUtf8();
    return hashOfUtf8(Span{utf8.constData(), utf8.constData() + utf8.size()});
}

std::optional<QString> commentPrefix(const QString& of)
{
    const QByteArray utf8 = of.toUtf8();
    const Span t = trim(Span{utf8.constData(), utf8.constData() + utf8.size()});
    for (size_t i = 0; i < kPrefixes.size(); ++i) {
        if (startsWith(t, kPrefixes[i]))
            return commentPrefixes[static_cast<qsizetype>(i)];
    }
    return std::nullopt;
}

DigestSet digests(const QList<ParsedTodo>& todos)
{
    DigestSet set;
    set.reserve(static_cast<size_t>(todos.size()));
    for (const ParsedTodo& todo : todos) {
        if (const auto d = digestOf(todo.contentHash))
            set.push_back(*d);
    }
    std::sort(set.begin(), set.end());
    set.erase(std::unique(set.begin(), set.end()), set.end());
    set.shrink_to_fit();
    return set;
}

bool containsDigest(const DigestSet& set, const QString& contentHash)
{
    const auto d = digestOf(contentHash);
    return d && std::binary_search(set.begin(), set.end(), *d);
}

} // namespace TodoParser

bool isValidUtf8(QByteArrayView bytes)
{
    const auto* p = reinterpret_cast<const Byte*>(bytes.data());
    const Byte* const e = p + bytes.size();
    while (p < e) {
        // Source text is mostly ASCII: test 16 bytes at a time.
        while (e - p >= 16) {
            quint64 a, b;
            std::memcpy(&a, p, 8);
            std::memcpy(&b, p + 8, 8);
            if ((a | b) & 0x8080808080808080ull)
                break;
            p += 16;
        }
        if (p >= e)
            break;
        const Byte c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int need;
        Byte lo = 0x80, hi = 0xBF; // allowed range of the first continuation byte
        if (c < 0xC2) {
            return false; // stray continuation byte or overlong two-byte form
        } else if (c < 0xE0) {
            need = 1;
        } else if (c < 0xF0) {
            need = 2;
            if (c == 0xE0)
                lo = 0xA0; // overlong
            else if (c == 0xED)
                hi = 0x9F; // surrogates
        } else if (c < 0xF5) {
            need = 3;
            if (c == 0xF0)
                lo = 0x90; // overlong
            else if (c == 0xF4)
                hi = 0x8F; // past U+10FFFF
        } else {
            return false;
        }
        if (e - p <= need)
            return false;
        if (p[1] < lo || p[1] > hi)
            return false;
        for (int i = 2; i <= need; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
        }
        p += need + 1;
    }
    return true;
}

} // namespace jw
