#include "app/detection/TodoParser.h"

#include <QCryptographicHash>

#include <gtest/gtest.h>

#include <ostream>

namespace jw {
namespace {

struct Expected
{
    QString title;
    QString body;
    qint64 line;
};

struct ParseCase
{
    const char* name;
    QString content;
    std::vector<Expected> todos;
};

void PrintTo(const ParseCase& c, std::ostream* os)
{
    *os << c.name;
}

class ParseTable : public ::testing::TestWithParam<ParseCase>
{};

TEST_P(ParseTable, FindsTitlesBodiesAndLines)
{
    const ParseCase& c = GetParam();
    const QList<ParsedTodo> todos = TodoParser::parse(c.content, QStringLiteral("/p/f.c"));
    ASSERT_EQ(todos.size(), qsizetype(c.todos.size()));
    for (size_t i = 0; i < c.todos.size(); ++i) {
        const ParsedTodo& t = todos[qsizetype(i)];
        EXPECT_EQ(t.title, c.todos[i].title) << i;
        EXPECT_EQ(t.body, c.todos[i].body) << i;
        EXPECT_EQ(t.lineNumber, c.todos[i].line) << i;
        EXPECT_EQ(t.fullContent, t.body.isEmpty() && c.todos[i].body.isEmpty() ? t.title : t.title + '\n' + t.body);
        EXPECT_EQ(t.contentHash, TodoParser::contentHash(t.fullContent));
        EXPECT_EQ(t.filePath, QStringLiteral("/p/f.c"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    TodoParser,
    ParseTable,
    ::testing::Values(
        ParseCase{"lineComment", "int a;\n  // TODO: fix the cache\n", {{"fix the cache", "", 2}}},
        ParseCase{"everyPrefix",
                  "# todo: a\n-- Todo: b\n; TODO: c\n% TODO: d",
                  {{"a", "", 1}, {"b", "", 2}, {"c", "", 3}, {"d", "", 4}}},
        ParseCase{"blockOneLine", "/* TODO: tidy up */\n * more\n */", {{"tidy up", "", 1}}},
        ParseCase{"blockLines",
                  "/*\n * TODO: split this\n * into two parts\n */\nint x;",
                  {{"split this", "into two parts", 2}}},
        ParseCase{"blockCloseWithText", "/* TODO: a\n\n  b\n *\n c */ d\ne", {{"a", "b\nc  d", 1}}},
        ParseCase{"blockToEndOfFile", "/* TODO: a\n * b", {{"a", "b", 1}}},
        ParseCase{"docCommentOpener", "/** TODO: x", {}},
        // A TODO's body ends where the next TODO of its comment begins, so each line belongs to one.
        ParseCase{"blockNestedTodo", "/*\n * TODO: a\n * TODO: b\n */", {{"a", "", 2}, {"b", "", 3}}},
        ParseCase{"blockTodosWithBodies",
                  "/*\n * TODO: a\n * more a\n *\n * TODO: b\n * more b\n */",
                  {{"a", "more a", 2}, {"b", "more b", 5}}},
        ParseCase{"blockNextTodoOfAnyStyle",
                  "/* TODO: a\n   // TODO: b\n   c\n   TODO: not a comment\n */",
                  {{"a", "", 1}, {"b", "", 2}}},
        ParseCase{"blockMentionedTodoStaysInBody", "/*\n * TODO: a\n * see TODO: b\n */", {{"a", "see TODO: b", 2}}},
        ParseCase{"bareLineKept", "// TODO: a\n// more\n//\n// still more\nint x;", {{"a", "more\n\nstill more", 1}}},
        ParseCase{"twoBareLinesStop", "// TODO: a\n//\n//\n// x", {{"a", "", 1}}},
        ParseCase{"bareLineAtEnd", "// TODO: a\n// b\n//", {{"a", "b\n", 1}}},
        ParseCase{"bareLineBeforeFinalNewline", "// TODO: a\n// b\n//\n", {{"a", "b", 1}}},
        ParseCase{"otherPrefixStops", "// TODO: a\n# b", {{"a", "", 1}}},
        ParseCase{"nextTodoStops", "// TODO: a\n// TODO: b", {{"a", "", 1}, {"b", "", 2}}},
        ParseCase{"nestedTodoTagStops", "// TODO: a\n// see todo:later", {{"a", "", 1}}},
        ParseCase{"emptyTitle", "// TODO:\n// body", {}},
        ParseCase{"referenceOnlyTitle", "// TODO: (#4 https://github.com/o/r/issues/4)", {}},
        ParseCase{"trailingComment", "x = 1  # TODO: later", {}},
        ParseCase{"notATag", "// TODO : a\n// TODO(x): b\n// TODOs: c\n// see TODO: d", {}},
        ParseCase{"crlf", "int a;\r\n// TODO: x\r\n// more\r\n", {{"x", "", 3}}},
        ParseCase{"unicodeNewlines", QStringLiteral(u"a\u2028b\u0085c\u2029\v\f// TODO: x"), {{"x", "", 6}}},
        ParseCase{"unicodeSpaces", QStringLiteral(u"\u3000\t//\u00a0TODO:\u2003title\u202f"), {{"title", "", 1}}},
        ParseCase{"annotationStripped",
                  "// TODO: fix (#12 https://github.com/o/r/issues/12)\n// and (#3 http://x/y) this",
                  {{"fix", "and this", 1}}},
        ParseCase{"annotationNeedsExactShape",
                  "// TODO: a (#12  https://x) (# https://y) (#1 ftp://z)",
                  {{"a (#12  https://x) (# https://y) (#1 ftp://z)", "", 1}}},
        // The address ends at its first ')', so code after a reference placed before "*/" stays.
        ParseCase{"annotationUrlEndsAtItsParen", "// TODO: a (#1 https://x)y) z", {{"ay) z", "", 1}}},
        ParseCase{"annotationUnicodeDigits", QStringLiteral(u"// TODO: a (#\u0661\u0662 https://x)"), {{"a", "", 1}}},
        // U+FEFF is text like any other, except as the byte-order mark that starts a file.
        ParseCase{"zeroWidthNoBreakTitle", QStringLiteral(u"// TODO:\uFEFF"), {{QStringLiteral(u"\uFEFF"), "", 1}}},
        ParseCase{"zeroWidthNoBreakLeadsText",
                  QStringLiteral(u"// TODO: \uFEFFfix\n// \uFEFFmore"),
                  {{QStringLiteral(u"\uFEFFfix"), QStringLiteral(u"\uFEFFmore"), 1}}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(TodoParser, HashIgnoresCaseStyleIndentAndAnnotation)
{
    const QString a = TodoParser::parse(QStringLiteral("# todo: Check ENV"), {}).at(0).contentHash;
    const QString b = TodoParser::parse(QStringLiteral("    // TODO: check env"), {}).at(0).contentHash;
    const QString c =
        TodoParser::parse(QStringLiteral("/* TODO: check env (#12 https://github.com/o/r/issues/12) */"), {})
            .at(0)
            .contentHash;
    EXPECT_EQ(a, b);
    EXPECT_EQ(a, c);
    EXPECT_EQ(TodoParser::contentHash(QStringLiteral("check env")),
              QString::fromLatin1(QCryptographicHash::hash("check env", QCryptographicHash::Sha256).toHex()));
    EXPECT_EQ(TodoParser::contentHash(QStringLiteral(" \n\u2029Check Env\r\n\t")),
              TodoParser::contentHash(QStringLiteral("check env")));
    // U+FEFF is no white space: a different text, a different hash.
    EXPECT_NE(TodoParser::contentHash(QStringLiteral(u"\uFEFFfix")), TodoParser::contentHash(QStringLiteral("fix")));
}

TEST(TodoParser, HashLowercasesFullyWithoutLocale)
{
    // U+0130 lowercases to "i" + U+0307 (one more code point); German sharp s and the capital
    // letters around it keep their usual mappings.
    const QString turkish = TodoParser::parse(QStringLiteral(u"// TODO: İSTANBUL'u düzelt"), {}).at(0).contentHash;
    EXPECT_EQ(turkish,
              QString::fromLatin1(QCryptographicHash::hash(QStringLiteral(u"i\u0307stanbul'u düzelt").toUtf8(),
                                                           QCryptographicHash::Sha256)
                                      .toHex()));
    EXPECT_EQ(TodoParser::contentHash(QStringLiteral(u"GRÖẞE ÄNDERN")),
              TodoParser::contentHash(QStringLiteral(u"größe ändern")));
    EXPECT_NE(TodoParser::contentHash(QStringLiteral(u"größe")), TodoParser::contentHash(QStringLiteral(u"grösse")));
    EXPECT_EQ(TodoParser::contentHash(QStringLiteral(u"ΣΑΣ")), TodoParser::contentHash(QStringLiteral(u"σασ")));
}

TEST(TodoParser, OnlyTheByteOrderMarkThatStartsAFileIsDropped)
{
    const QList<ParsedTodo> todos = TodoParser::parseUtf8("\xEF\xBB\xBF// TODO: x\n\xEF\xBB\xBF// TODO: y", {});
    ASSERT_EQ(todos.size(), 1);
    EXPECT_EQ(todos[0].title, QStringLiteral("x"));
    // Decoded text has no byte-order mark: a U+FEFF there is text.
    EXPECT_TRUE(TodoParser::parse(QStringLiteral(u"\uFEFF// TODO: x"), {}).isEmpty());
}

TEST(TodoParser, IssueBodyEndsWithLocation)
{
    ParsedTodo t;
    t.body = QStringLiteral("check the retry count");
    t.filePath = QStringLiteral("/work/app/src/net.c");
    t.lineNumber = 42;
    EXPECT_EQ(t.issueBody(), QStringLiteral("check the retry count\n\n---\n`/work/app/src/net.c:42`"));
    t.body.clear();
    EXPECT_TRUE(t.issueBody().startsWith(QStringLiteral("\n\n---\n")));
}

TEST(TodoParser, CommentPrefixInOrder)
{
    EXPECT_EQ(TodoParser::commentPrefix(QStringLiteral("  //# x")), QStringLiteral("//"));
    EXPECT_EQ(TodoParser::commentPrefix(QStringLiteral("--;")), QStringLiteral("--"));
    EXPECT_EQ(TodoParser::commentPrefix(QStringLiteral("/* x")), std::nullopt);
}

TEST(TodoParser, NewTodosAgainstPreviousText)
{
    const QString before = QStringLiteral("// TODO: a\nint x;\n");
    const QString path = QStringLiteral("/p/f.c");
    EXPECT_TRUE(TodoParser::newTodos(before, std::nullopt, path, {}).isEmpty());
    EXPECT_TRUE(TodoParser::newTodos(before, before, path, {}).isEmpty());
    // Moved and re-indented: same hash.
    EXPECT_TRUE(TodoParser::newTodos(QStringLiteral("int x;\n\n      // TODO: a\n"), before, path, {}).isEmpty());
    // Edited text, and a continuation line added under a TODO: new hashes.
    EXPECT_EQ(TodoParser::newTodos(QStringLiteral("// TODO: a!\n"), before, path, {}).size(), 1);
    EXPECT_EQ(TodoParser::newTodos(QStringLiteral("// TODO: a\n// more\n"), before, path, {}).size(), 1);
    // Seen elsewhere: not new. Two identical new ones: both.
    const QString two = QStringLiteral("// TODO: a\n// TODO: b\nx\n// TODO: b\n");
    const QList<ParsedTodo> both = TodoParser::newTodos(two, before, path, {});
    ASSERT_EQ(both.size(), 2);
    EXPECT_EQ(both[0].lineNumber, 2);
    EXPECT_EQ(both[1].lineNumber, 4);
    EXPECT_TRUE(TodoParser::newTodos(two, before, path, {both[0].contentHash}).isEmpty());
    // One that arrives with an issue reference on its line was filed already.
    EXPECT_TRUE(TodoParser::newTodos(QStringLiteral("// TODO: b (#4 https://github.com/o/r/issues/4)\n// more"),
                                     before,
                                     path,
                                     {})
                    .isEmpty());

    // The digest overload agrees with the text overload.
    const DigestSet prev = TodoParser::digests(TodoParser::parse(before, path));
    EXPECT_EQ(TodoParser::newTodos(TodoParser::parse(two, path), &prev, {}), both);
    EXPECT_TRUE(TodoParser::newTodos(TodoParser::parse(two, path), nullptr, {}).isEmpty());
}

struct Utf8Case
{
    const char* name;
    QByteArray bytes;
    bool valid;
};
void PrintTo(const Utf8Case& c, std::ostream* os)
{
    *os << c.name;
}
class Utf8Table : public ::testing::TestWithParam<Utf8Case>
{};

TEST_P(Utf8Table, StrictValidation)
{
    EXPECT_EQ(isValidUtf8(GetParam().bytes), GetParam().valid);
    // Also when the bad byte sits after a long ASCII run (the 16-byte fast path).
    EXPECT_EQ(isValidUtf8(QByteArray(37, 'a') + GetParam().bytes + "b"), GetParam().valid);
}

INSTANTIATE_TEST_SUITE_P(TodoParser,
                         Utf8Table,
                         ::testing::Values(Utf8Case{"ascii", "// TODO: x", true},
                                           Utf8Case{"twoThreeFour", "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", true},
                                           Utf8Case{"maxCodePoint", "\xf4\x8f\xbf\xbf", true},
                                           Utf8Case{"overlongSlash", "\xc0\xaf", false},
                                           Utf8Case{"overlongThree", "\xe0\x80\xaf", false},
                                           Utf8Case{"overlongFour", "\xf0\x80\x80\xaf", false},
                                           Utf8Case{"surrogate", "\xed\xa0\x80", false},
                                           Utf8Case{"pastMax", "\xf4\x90\x80\x80", false},
                                           Utf8Case{"strayContinuation", "\x80", false},
                                           Utf8Case{"badLead", "\xff", false},
                                           Utf8Case{"truncatedTwo", "\xc3", false},
                                           Utf8Case{"truncatedFour", "\xf0\x9f\x98", false},
                                           Utf8Case{"missingContinuation", "\xe2\x82x", false}),
                         [](const auto& p) { return std::string(p.param.name); });

} // namespace
} // namespace jw
