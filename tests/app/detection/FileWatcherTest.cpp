#include "app/detection/FileWatcher.h"

#include "tests/support/LogCapture.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>
#include <linux/capability.h>
#include <semaphore>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace jw {
namespace {

constexpr int kWaitMs = 10000;

int countEntries(const char* dir)
{
    return int(QDir(QString::fromLatin1(dir)).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size());
}

int inotifyInstances()
{
    int n = 0;
    for (const QString& fd : QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::System)) {
        char target[64] = {};
        const QByteArray link = "/proc/self/fd/" + fd.toLatin1();
        if (::readlink(link.constData(), target, sizeof target - 1) > 0 && qstrcmp(target, "anon_inode:inotify") == 0)
            ++n;
    }
    return n;
}

ino_t inodeOf(const QString& file)
{
    struct stat st;
    return ::stat(QFile::encodeName(file).constData(), &st) == 0 ? st.st_ino : 0;
}

// Root passes every permission check; without these two capabilities it is held to the mode bits
// like anyone else. Threads started afterwards (the watcher's queue, the scan's workers) inherit
// the set of the thread that starts them.
class PermissionChecksApply
{
public:
    PermissionChecksApply()
    {
        m_header.version = _LINUX_CAPABILITY_VERSION_3;
        if (::syscall(SYS_capget, &m_header, m_saved) != 0)
            return;
        __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        m_changed = ::syscall(SYS_capset, &m_header, reduced) == 0;
    }
    ~PermissionChecksApply()
    {
        if (m_changed)
            ::syscall(SYS_capset, &m_header, m_saved);
    }
    PermissionChecksApply(const PermissionChecksApply&) = delete;
    PermissionChecksApply& operator=(const PermissionChecksApply&) = delete;

private:
    __user_cap_header_struct m_header{};
    __user_cap_data_struct m_saved[2]{};
    bool m_changed = false;
};

// A file still being written: opened with its first TODO, finished and closed later.
struct HeldWriter
{
    explicit HeldWriter(const QString& file)
        : fd(::open(QFile::encodeName(file).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644))
        , begun(fd >= 0 && ::write(fd, "// TODO: begun\n", 15) == 15)
    {
    }
    ~HeldWriter()
    {
        if (fd >= 0)
            ::close(fd);
    }
    bool finish()
    {
        const bool written = ::write(fd, "// TODO: finished\n", 18) == 18;
        ::close(fd);
        fd = -1;
        return written;
    }

    // Another writer opens and closes the file (now at file) meanwhile, changing nothing.
    static bool touch(const QString& file)
    {
        const int other = ::open(QFile::encodeName(file).constData(), O_WRONLY | O_CLOEXEC);
        return other >= 0 && ::close(other) == 0;
    }

    int fd;
    bool begun;
};

class FileWatcherTest : public ::testing::Test
{
public:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        root = tmp.path();
        makeWatcher();
    }

    void makeWatcher()
    {
        watcher = std::make_unique<FileWatcher>();
        watcher->onTodoDetected = [this](const ParsedTodo& todo) {
            QMutexLocker lock(&mutex);
            detected << todo;
        };
    }

    // Relative to the temporary root; absolute paths are taken as they are.
    QString path(const QString& rel) const { return rel.startsWith('/') ? rel : root + '/' + rel; }

    void write(const QString& rel, const QByteArray& bytes) const
    {
        QDir().mkpath(QFileInfo(path(rel)).absolutePath());
        QFile f(path(rel));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }

    void append(const QString& rel, const QByteArray& bytes) const
    {
        QFile f(path(rel));
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write(bytes);
    }

    void writeAtomically(const QString& rel, const QByteArray& bytes) const
    {
        const QString temp = path(rel) + QStringLiteral(".tmp");
        {
            QFile f(temp);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(bytes);
        }
        ASSERT_EQ(::rename(QFile::encodeName(temp).constData(), QFile::encodeName(path(rel)).constData()), 0);
    }

    // The file's text with its line "NOTE: <note>" turned into a TODO; empty when it has none.
    QByteArray withTodo(const QString& rel, const QByteArray& note) const
    {
        QFile f(path(rel));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QByteArray text = f.readAll();
        const qsizetype at = text.indexOf("NOTE: " + note + '\n');
        return at < 0 ? QByteArray() : text.replace(at, 4, "TODO");
    }

    static void move(const QString& from, const QString& to)
    {
        ASSERT_EQ(::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()), 0)
            << from.toStdString();
    }

    bool waitForLine(const QString& line, int count = 1)
    {
        return QTest::qWaitFor([&] { return logs.count(line) >= count; }, kWaitMs);
    }

    // Once the watcher logs the event of a fresh marker file in dir, it has handled every event
    // before it.
    bool settle(const QString& dir = QString())
    {
        const QString marker = path(dir.isEmpty() ? root : dir) + QStringLiteral("/marker%1.txt").arg(++markers);
        write(marker, "m\n");
        return waitForLine("File event: " + marker);
    }

    QList<ParsedTodo> detectedTodos()
    {
        QMutexLocker lock(&mutex);
        return detected;
    }

    QStringList detectedTitles()
    {
        QStringList titles;
        for (const ParsedTodo& todo : detectedTodos())
            titles << todo.title;
        return titles;
    }

    bool waitForTitles(const QStringList& titles)
    {
        return QTest::qWaitFor([&] { return detectedTitles().size() >= titles.size(); }, kWaitMs)
               && detectedTitles() == titles;
    }

    QTemporaryDir tmp;
    QString root;
    test::LogCapture logs;
    std::unique_ptr<FileWatcher> watcher;
    QMutex mutex;
    QList<ParsedTodo> detected;
    int markers = 0;
};

TEST_F(FileWatcherTest, TodoAddedAfterScanIsReportedOnce)
{
    write("src/a.c", "int a;\n// TODO: old one\n");
    write("src/b.h", "/* TODO: elsewhere */\n");
    watcher->start({root}, true);
    EXPECT_TRUE(watcher->isRunning());
    EXPECT_TRUE(logs.contains("Initial scan complete. Cached 2 files, 2 existing TODOs"));
    EXPECT_TRUE(logs.contains("FSEvents streams started for 1 directory(ies)"));

    append("src/a.c", "// TODO: new one\n");
    const QString p = path("src/a.c");
    ASSERT_TRUE(waitForLine("Found 1 new TODO(s) in " + p));
    const QString hash = TodoParser::contentHash("new one");
    const QStringList lines = logs.lines();
    const QStringList expected = {
        "File event: " + p,
        "Code file changed: " + p,
        "File has 2 TODO(s), cached: true, seenHashes: 2",
        "Found 1 new TODO(s) in " + p,
        "  -> \"new one\" (hash: " + hash.left(12) + "...)",
    };
    const qsizetype at = lines.indexOf(expected.first());
    ASSERT_GE(at, 0);
    EXPECT_EQ(lines.mid(at, expected.size()), expected);
    ASSERT_TRUE(QTest::qWaitFor([&] { return detectedTodos().size() == 1; }, kWaitMs));
    EXPECT_EQ(detectedTodos()[0].title, "new one");
    EXPECT_EQ(detectedTodos()[0].lineNumber, 3);
    EXPECT_TRUE(watcher->hasSeenHash(hash));

    // The same text saved again: nothing new.
    write("src/a.c", "int a;\n// TODO: old one\n// TODO: new one\n");
    ASSERT_TRUE(waitForLine("No new TODOs (all 2 already seen or in previous cache)"));
    EXPECT_EQ(detectedTodos().size(), 1);
}

TEST_F(FileWatcherTest, FileFirstSeenAfterStartReportsOnlyLaterTodos)
{
    watcher->start({root}, true);
    write("new.py", "# TODO: present at creation\n");
    ASSERT_TRUE(waitForLine("File has 1 TODO(s), cached: false, seenHashes: 0"));
    ASSERT_TRUE(waitForLine("No new TODOs (all 1 already seen or in previous cache)"));
    append("new.py", "# TODO: added later\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return detectedTodos().size() == 1; }, kWaitMs));
    EXPECT_EQ(detectedTodos()[0].title, "added later");
}

struct SaveStyle
{
    const char* name;
    // Turns the file's line "NOTE: <note>" into a TODO, saving it the way the editor does.
    std::function<void(FileWatcherTest&, const QString& rel, const QByteArray& note)> save;
};
void PrintTo(const SaveStyle& s, std::ostream* os)
{
    *os << s.name;
}

class EditorSaves : public FileWatcherTest, public ::testing::WithParamInterface<SaveStyle>
{};

TEST_P(EditorSaves, NewTodoIsDetected)
{
    write("lib/x.rs", "fn main() {}\n// NOTE: keep\n");
    watcher->start({root}, true);
    GetParam().save(*this, "lib/x.rs", "keep");
    ASSERT_TRUE(QTest::qWaitFor([&] { return detectedTodos().size() == 1; }, kWaitMs));
    EXPECT_EQ(detectedTodos()[0].title, "keep");
    EXPECT_EQ(detectedTodos()[0].filePath, path("lib/x.rs"));
}

// Source files of a few megabytes, full of old TODOs: one there at the scan, one copied in while
// the watcher runs. Each is saved several times in a row, each save turning one note into a TODO.
TEST_P(EditorSaves, LargeFilesSavedAgainAndAgainReportOnlyEachAddedTodoOnce)
{
    const auto source = [](const QByteArray& tag) {
        QByteArray text;
        for (int i = 0; i < 55000; ++i) {
            text +=
                "    value_" + QByteArray::number(i) + " = compute(value_" + QByteArray::number(i) + ", table, 42);\n";
            if (i % 55 == 0)
                text += "    // TODO: old " + tag + ' ' + QByteArray::number(i) + "\n";
            if (i % 18000 == 9000)
                text += "    // NOTE: added " + tag + ' ' + QByteArray::number(i / 18000) + "\n";
        }
        return text;
    };
    write("big.c", source("big"));
    watcher->start({root}, true);
    write(path("copied.c") + ".src", source("copied"));
    ASSERT_EQ(QProcess::execute("cp", {path("copied.c") + ".src", path("copied.c")}), 0);
    ASSERT_TRUE(waitForLine("File has 1000 TODO(s), cached: false, seenHashes: 1000"));

    QStringList expected;
    for (const QByteArray note : {"0", "1", "2"}) {
        for (const QByteArray file : {"big", "copied"}) {
            // Saves a person makes are apart: the first event of each is delivered at once.
            QTest::qWait(300);
            GetParam().save(*this, file + ".c", "added " + file + ' ' + note);
            expected << QString::fromLatin1("added " + file + ' ' + note);
            ASSERT_TRUE(QTest::qWaitFor([&] { return detectedTodos().size() >= expected.size(); }, kWaitMs));
        }
    }
    ASSERT_TRUE(settle());
    QStringList titles = detectedTitles();
    titles.sort();
    expected.sort();
    EXPECT_EQ(titles.filter("old ").size(), 0) << "old TODOs reported";
    EXPECT_EQ(titles.join(", ").toStdString(), expected.join(", ").toStdString());
}

INSTANTIATE_TEST_SUITE_P(
    FileWatcher,
    EditorSaves,
    ::testing::Values(SaveStyle{"rewrite",
                                [](FileWatcherTest& fixture, const QString& rel, const QByteArray& note) {
                                    fixture.write(rel, fixture.withTodo(rel, note));
                                }},
                      SaveStyle{"atomicRename",
                                [](FileWatcherTest& fixture, const QString& rel, const QByteArray& note) {
                                    fixture.writeAtomically(rel, fixture.withTodo(rel, note));
                                }},
                      SaveStyle{"sedInPlace",
                                [](FileWatcherTest& fixture, const QString& rel, const QByteArray& note) {
                                    const QString expression = "s/NOTE: " + note + "$/TODO: " + note + "/";
                                    ASSERT_EQ(QProcess::execute("sed", {"-i", expression, fixture.path(rel)}), 0);
                                }},
                      SaveStyle{"append",
                                [](FileWatcherTest& fixture, const QString& rel, const QByteArray& note) {
                                    fixture.append(rel, "// TODO: " + note + "\n");
                                }},
                      // Vim's defaults (writebackup, backupcopy=auto) for a file outside the
                      // temporary directories, which backupskip leaves out: the file is renamed to
                      // its backup name, written anew in pieces, and the backup deleted.
                      SaveStyle{"vim",
                                [](FileWatcherTest& fixture, const QString& rel, const QByteArray& note) {
                                    const ino_t before = inodeOf(fixture.path(rel));
                                    QTemporaryDir home;
                                    QProcess vim;
                                    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
                                    env.insert("HOME", home.path());
                                    vim.setProcessEnvironment(env);
                                    vim.setStandardInputFile(QProcess::nullDevice());
                                    const QString edit = "%s/NOTE: " + note + "$/TODO: " + note + "/";
                                    vim.start("vim",
                                              QStringLiteral("-u NONE -i NONE -N -es -c").split(' ')
                                                  << "set writebackup backupcopy=auto backupskip="
                                                  << "-c" << edit << "-c"
                                                  << "wq" << fixture.path(rel));
                                    ASSERT_TRUE(vim.waitForFinished(kWaitMs));
                                    ASSERT_EQ(vim.exitCode(), 0) << vim.readAllStandardError().toStdString();
                                    ASSERT_NE(inodeOf(fixture.path(rel)), before) << "not renamed away";
                                    ASSERT_TRUE(fixture.withTodo(rel, note).isEmpty()) << "vim did not save";
                                }},
                      // Emacs's first save of a session: renamed to "~", written anew in 16 KB
                      // pieces, the backup kept.
                      SaveStyle{"emacs",
                                [](FileWatcherTest& fixture, const QString& rel, const QByteArray& note) {
                                    const QByteArray text = fixture.withTodo(rel, note);
                                    FileWatcherTest::move(fixture.path(rel), fixture.path(rel) + '~');
                                    QFile f(fixture.path(rel));
                                    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
                                    for (qsizetype at = 0; at < text.size(); at += 16384) {
                                        ASSERT_GT(f.write(text.mid(at, 16384)), 0);
                                        ::usleep(2000);
                                    }
                                }}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(FileWatcherTest, DirectoryCreatedAfterStartIsWatched)
{
    watcher->start({root}, true);
    // Created and written at once: the file may exist before its directory is watched.
    write("fresh/deep/c.go", "// TODO: first\n");
    ASSERT_TRUE(waitForLine("File has 1 TODO(s), cached: false, seenHashes: 0"));
    append("fresh/deep/c.go", "// TODO: second\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return detectedTodos().size() == 1; }, kWaitMs));
    EXPECT_EQ(detectedTodos()[0].title, "second");
}

TEST_F(FileWatcherTest, IgnoredAndHiddenDirectories)
{
    write("node_modules/pkg/x.js", "// TODO: dependency\n");
    write("a/build/y.c", "// TODO: generated\n");
    write(".github/workflows/ci.yml", "# TODO: hidden\n");
    write("Build/z.c", "// TODO: case matters\n");
    write("MAIN.PY", "# TODO: upper-case extension\n");
    write("notes.md", "TODO: not code\n");
    watcher->start({root}, true);
    EXPECT_TRUE(logs.contains("Initial scan complete. Cached 2 files, 2 existing TODOs"));

    // No watch inside an ignored directory: its files raise no event at all.
    append("node_modules/pkg/x.js", "// TODO: more\n");
    append("notes.md", "more\n");
    append(".github/workflows/ci.yml", "# TODO: second\n");
    ASSERT_TRUE(waitForLine("File has 2 TODO(s), cached: false, seenHashes: 2"));
    EXPECT_TRUE(logs.contains("File event: " + path("notes.md")));
    EXPECT_FALSE(logs.contains("Code file changed: " + path("notes.md")));
    append(".github/workflows/ci.yml", "# TODO: third\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return detectedTodos().size() == 1; }, kWaitMs));
    EXPECT_EQ(detectedTodos()[0].title, "third");
    EXPECT_FALSE(logs.contains("File event: " + path("node_modules/pkg/x.js")));
}

TEST_F(FileWatcherTest, NestedDirectoriesHandleAChangeTwiceAndReportItOnce)
{
    write("sub/n.lua", "-- start\n");
    watcher->start({root, path("sub")}, true);
    EXPECT_TRUE(logs.contains("FSEvents streams started for 2 directory(ies)"));
    // Two identical new TODOs in one change are both reported.
    append("sub/n.lua", "-- TODO: twice\nx = 1\n-- TODO: twice\n");
    ASSERT_TRUE(waitForLine("File event: " + path("sub/n.lua"), 2));
    ASSERT_TRUE(waitForLine("No new TODOs (all 2 already seen or in previous cache)"));
    EXPECT_EQ(detectedTodos().size(), 2);
}

// The kernel grants a user 128 instances by default, shared with every program they run.
TEST_F(FileWatcherTest, ThreeHundredDirectoriesAreWatchedThroughOneInstance)
{
    QStringList directories;
    for (int i = 0; i < 300; ++i) {
        write(QStringLiteral("p%1/a.c").arg(i), "int a;\n");
        directories << path(QStringLiteral("p%1").arg(i));
    }
    const int before = inotifyInstances();
    watcher->start(directories, true);
    EXPECT_EQ(inotifyInstances(), before + 1);
    EXPECT_TRUE(logs.contains("FSEvents streams started for 300 directory(ies)"));
    EXPECT_TRUE(logs.lines().filter("Could not start watching").isEmpty());
    EXPECT_TRUE(watcher->directoriesMissingWatches().isEmpty());
    append("p0/a.c", "// TODO: first\n");
    append("p299/a.c", "// TODO: last\n");
    ASSERT_TRUE(waitForTitles({"first", "last"}));
    watcher->stop();
    EXPECT_EQ(inotifyInstances(), before);
}

TEST_F(FileWatcherTest, WatchedDirectoryBelowAnIgnoredNameHandlesNothing)
{
    write("out/proj/a.c", "// TODO: a\n");
    watcher->start({path("out/proj")}, true);
    EXPECT_TRUE(logs.contains("Initial scan complete. Cached 0 files, 0 existing TODOs"));
}

TEST_F(FileWatcherTest, ScanReadsLargeFilesInChunks)
{
    // Large files are streamed in 1 MiB chunks; a tag or a character cut by a chunk's end must
    // be seen like anywhere else.
    constexpr int kChunk = 1024 * 1024;
    const QByteArray tail = "\n" + QByteArray(2 * kChunk, 'y') + "\n";
    write("big/plain.c", QByteArray(3 * kChunk, 'x'));
    write("big/tag.c", QByteArray(kChunk - 6, 'x') + "\n// TODO: straddles the chunk\n" + tail);
    write("big/char.c", QByteArray(kChunk - 1, 'x') + "\xc3\xa9" + tail);
    write("big/cut.c", QByteArray(3 * kChunk, 'x') + "\xe2\x82");
    write("big/bad.c", QByteArray(kChunk - 1, 'x') + "\xc0\xaf" + tail);
    watcher->start({root}, true);
    EXPECT_TRUE(logs.contains("Initial scan complete. Cached 3 files, 1 existing TODOs"));
    EXPECT_TRUE(watcher->hasSeenHash(TodoParser::contentHash("straddles the chunk")));
}

qint64 peakResidentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    const QByteArray text = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
    return text.mid(text.indexOf("VmHWM:") + 6).trimmed().split(' ').first().toLongLong();
}

// A database dump of tens of GiB (sparse here) and a video capture named like code: neither is
// held in memory, on an event or at a scan, and each is named once in the log.
TEST_F(FileWatcherTest, FilesTooLargeForSourceAreSkippedInBoundedMemory)
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (!clearRefs.open(QIODevice::WriteOnly) || clearRefs.write("5") != 1)
        GTEST_SKIP() << "the peak resident size cannot be reset";
    clearRefs.close();
    watcher->start({root}, true);
    const qint64 before = peakResidentKb();
    const auto sparse = [&](const QString& rel, qint64 size, const QByteArray& tail) {
        const int fd = ::open(QFile::encodeName(path(rel)).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, size), 0);
        ASSERT_EQ(::pwrite(fd, tail.constData(), size_t(tail.size()), size - tail.size()), tail.size());
        ::close(fd);
    };
    sparse("dump.sql", qint64(40) << 30, "-- TODO: at the end of the dump\n");
    sparse("capture.ts", qint64(400) << 20, "\x47\xff\x10\x00 // TODO: in a capture\n");
    for (const char* rel : {"dump.sql", "capture.ts"})
        ASSERT_TRUE(waitForLine("Skipping file larger than 32 MiB: " + path(rel))) << rel;
    watcher->start({root}, true);
    EXPECT_EQ(logs.count("Skipping file larger than 32 MiB: " + path("dump.sql")), 2);
    EXPECT_LT(peakResidentKb() - before, 64 * 1024) << "peak resident size grew, in KiB";

    // Below the bound, a large file is read whole.
    write("capture.ts", QByteArray(4 << 20, ' ') + "// TODO: kept\n");
    EXPECT_TRUE(waitForLine("File has 1 TODO(s), cached: false, seenHashes: 0"));
}

TEST_F(FileWatcherTest, InvalidUtf8IsAReadFailureAndTheWatcherGoesOn)
{
    write("u.c", "// TODO: valid\n");
    watcher->start({root}, true);
    const QList<QByteArray> invalid = {
        "// TODO: overlong \xc0\xaf\n",
        "// TODO: surrogate \xed\xa0\x80\n",
        "// TODO: stray \x80\n",
        "// TODO: cut \xe2\x82",
    };
    for (int i = 0; i < invalid.size(); ++i) {
        write("u.c", invalid[i]);
        ASSERT_TRUE(waitForLine("Could not read file: " + path("u.c"), i + 1)) << i;
    }
    // The cache still holds the last good text: only the added TODO is new.
    write("u.c", "// TODO: valid\n// TODO: after\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return detectedTodos().size() == 1; }, kWaitMs));
    EXPECT_EQ(detectedTodos()[0].title, "after");
    EXPECT_TRUE(logs.contains("File has 2 TODO(s), cached: true, seenHashes: 1"));
}

TEST_F(FileWatcherTest, AnnotatedLineHandedToTheCacheIsNotNew)
{
    write("p.ts", "let a = 1;\n");
    watcher->start({root}, true);
    append("p.ts", "// TODO: file me\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return detectedTodos().size() == 1; }, kWaitMs));
    const QByteArray annotated = "let a = 1;\n// TODO: file me (#7 https://github.com/o/r/issues/7)\n";
    write("p.ts", annotated);
    watcher->updateCache(QFile::encodeName(path("p.ts")), QString::fromUtf8(annotated));
    ASSERT_TRUE(waitForLine("No new TODOs (all 1 already seen or in previous cache)"));
    EXPECT_EQ(detectedTodos().size(), 1);
}

TEST_F(FileWatcherTest, HandWrittenIssueReferenceIsNotFiledAndIsLoggedOnce)
{
    write("r.py", "x = 1\n# TODO: known (#5 https://github.com/o/r/issues/5)\n");
    watcher->start({root}, true);
    // First seen: nothing in it is new.
    write("n.py", "# TODO: first seen (#6 https://github.com/o/r/issues/6)\n");
    append("r.py", "# TODO: by hand (#9 https://github.com/o/r/issues/9)\n");
    const QString line = "Not filing a TODO that already holds an issue reference: " + path("r.py") + ":3";
    ASSERT_TRUE(waitForLine(line));
    // Seen now, here and elsewhere.
    append("r.py", "y = 2\n");
    append("n.py", "# TODO: by hand (#9 https://github.com/o/r/issues/9)\n");
    ASSERT_TRUE(settle());
    EXPECT_EQ(logs.lines().filter("issue reference").size(), 1);
    EXPECT_TRUE(detectedTodos().isEmpty());
}

TEST_F(FileWatcherTest, StopAndRestartWithOtherLists)
{
    write("one/a.c", "// TODO: a\n");
    write("two/b.c", "// TODO: b\n");
    watcher->start({path("one")}, true);
    EXPECT_TRUE(logs.contains("Initial scan complete. Cached 1 files, 1 existing TODOs"));
    watcher->stop();
    EXPECT_FALSE(watcher->isRunning());

    // Restart on another list: the cache and seen set keep what they had.
    watcher->start({path("two"), path("missing")}, true);
    EXPECT_TRUE(logs.contains("Initial scan complete. Cached 2 files, 2 existing TODOs"));
    EXPECT_TRUE(logs.contains("Directory does not exist, skipping: " + path("missing")));
    EXPECT_TRUE(logs.contains("FSEvents streams started for 1 directory(ies)"));
    append("one/a.c", "// TODO: unwatched\n");
    append("two/b.c", "// TODO: watched\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return detectedTodos().size() == 1; }, kWaitMs));
    EXPECT_EQ(detectedTodos()[0].title, "watched");
    EXPECT_FALSE(logs.contains("File event: " + path("one/a.c")));

    logs.clear();
    watcher->start({}, true);
    EXPECT_TRUE(watcher->isRunning());
    EXPECT_EQ(logs.lines(),
              QStringList({"Initial scan complete. Cached 2 files, 3 existing TODOs",
                           "FSEvents streams started for 0 directory(ies)"}));
}

TEST_F(FileWatcherTest, NoDescriptorOrThreadLeaksAcrossRestarts)
{
    // Enough files for the scan to use its worker threads.
    for (int i = 0; i < 100; ++i)
        write(QStringLiteral("d%1/f%2.c").arg(i % 10).arg(i), "// TODO: t" + QByteArray::number(i) + "\n");
    watcher->start({root}, true);
    watcher->stop();
    const int fds = countEntries("/proc/self/fd");
    const int threads = countEntries("/proc/self/task");
    for (int i = 0; i < 100; ++i)
        watcher->start({root}, true);
    EXPECT_EQ(watcher->watchedDirectoryCount(), 11);
    watcher->stop();
    EXPECT_EQ(countEntries("/proc/self/fd"), fds);
    // A joined thread can linger in /proc for a moment after it ended.
    EXPECT_TRUE(QTest::qWaitFor([&] { return countEntries("/proc/self/task") == threads; }, kWaitMs));

    // A running watcher that is destroyed closes its streams and ends its queue.
    watcher->start({root}, true);
    watcher.reset();
    EXPECT_LE(countEntries("/proc/self/fd"), fds);
    EXPECT_TRUE(QTest::qWaitFor([&] { return countEntries("/proc/self/task") == threads - 1; }, kWaitMs));
}

TEST_F(FileWatcherTest, ChangesLostInAQueueOverflowAreFoundByARescan)
{
    QFile limitFile(QStringLiteral("/proc/sys/fs/inotify/max_queued_events"));
    const int limit = limitFile.open(QIODevice::ReadOnly) ? limitFile.readAll().trimmed().toInt() : 0;
    if (limit <= 0 || limit > 1000000)
        GTEST_SKIP() << "inotify queue limit " << limit;
    write("a.c", "int a;\n");
    write("old/o.c", "int o;\n");
    write("gone/g.c", "int g;\n");
    const QByteArray churn[2] = {QFile::encodeName(path("churn1.txt")), QFile::encodeName(path("churn2.txt"))};
    watcher->start({root}, true);

    // Holding the watcher's queue holds the stream's reader while more events arrive than the
    // kernel keeps. Two files take turns: an event equal to the last one queued is merged into it.
    std::binary_semaphore held(0);
    watcher->queue().async([&] { held.acquire(); });
    for (int i = 0; i < limit + 100; ++i) {
        const int fd = ::open(churn[i % 2].constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    // Their events are lost.
    append("a.c", "// TODO: appended meanwhile\n");
    write("fresh/deep/f.c", "// TODO: in a new directory\n");
    HeldWriter writer(path("fresh/deep/w.c"));
    ASSERT_TRUE(writer.begun);
    move(path("old"), path("renamed"));
    ASSERT_TRUE(QDir(path("gone")).removeRecursively());
    held.release();

    ASSERT_TRUE(waitForLine("Rescanning " + root + " after missed file events"));
    ASSERT_TRUE(waitForLine("Rescan of " + root + " done: 3 code files read, 1 new TODO(s)"));
    EXPECT_EQ(detectedTitles(), QStringList{"appended meanwhile"});
    ASSERT_TRUE(settle());
    // The root, renamed, fresh and fresh/deep.
    EXPECT_EQ(watcher->watchedDirectoryCount(), 4);

    // Finished after the rescan: first seen at its writer's close, whatever else touched it.
    ASSERT_TRUE(writer.touch(path("fresh/deep/w.c")));
    ASSERT_TRUE(settle());
    ASSERT_TRUE(writer.finish());
    ASSERT_TRUE(waitForLine("File has 2 TODO(s), cached: false, seenHashes: 1"));
    append("fresh/deep/f.c", "// TODO: later in it\n");
    append("renamed/o.c", "// TODO: after the rename\n");
    ASSERT_TRUE(waitForTitles({"appended meanwhile", "later in it", "after the rename"}));
}

struct RootLoss
{
    const char* name;
    // Takes the watched directory code/app away; returns where its tree went, if it still exists.
    std::function<QString(FileWatcherTest&)> lose;
};
void PrintTo(const RootLoss& l, std::ostream* os)
{
    *os << l.name;
}

class WatchedRootComesBack : public FileWatcherTest, public ::testing::WithParamInterface<RootLoss>
{};

TEST_P(WatchedRootComesBack, ItIsScannedAndWatchedAgain)
{
    const QString app = path("code/app");
    write("code/app/a.c", "// TODO: before\n");
    write("code/app/sub/s.c", "// TODO: old sub\n");
    watcher->start({app + '/'}, true);

    const QString oldTree = GetParam().lose(*this);
    ASSERT_TRUE(waitForLine("Watched directory is gone, waiting for it to come back: " + app));
    if (!oldTree.isEmpty())
        append(oldTree + "/sub/s.c", "// TODO: in the old copy\n");

    // It comes back whole, as a move puts it in place, with one file still being written.
    write("fresh/app/a.c", "// TODO: before\n// TODO: came with it\n");
    write("fresh/app/lib/l.c", "int l;\n");
    HeldWriter writer(path("fresh/app/lib/w.c"));
    ASSERT_TRUE(writer.begun);
    QDir().mkpath(path("code"));
    move(path("fresh/app"), app);
    ASSERT_TRUE(waitForLine("Watched directory is back, watching it again: " + app));
    ASSERT_TRUE(settle(app));

    // Finished after the scan: first seen at its writer's close, so nothing in it is new.
    ASSERT_TRUE(writer.touch(app + "/lib/w.c"));
    ASSERT_TRUE(settle(app));
    ASSERT_TRUE(writer.finish());
    ASSERT_TRUE(waitForLine("File has 2 TODO(s), cached: false, seenHashes: 3"));

    // Its files were cached by a scan, so a TODO added to one is new.
    append("code/app/lib/l.c", "// TODO: after return\n");
    ASSERT_TRUE(waitForTitles({"after return"}));
    EXPECT_EQ(detectedTodos()[0].filePath, path("code/app/lib/l.c"));
    // The old copy's edit came first: it would have been handled by now.
    EXPECT_FALSE(logs.contains("File event: " + path("code/app/sub/s.c")));

    // A file at a path the old tree had is first seen when it is created, not compared with the
    // old file.
    write("code/app/sub/s.c", "// TODO: recreated\n");
    ASSERT_TRUE(waitForLine("File has 1 TODO(s), cached: false, seenHashes: 4"));
    append("code/app/sub/s.c", "// TODO: later\n");
    ASSERT_TRUE(waitForTitles({"after return", "later"}));
}

INSTANTIATE_TEST_SUITE_P(FileWatcher,
                         WatchedRootComesBack,
                         ::testing::Values(RootLoss{"deleted",
                                                    [](FileWatcherTest& f) {
                                                        EXPECT_TRUE(QDir(f.path("code/app")).removeRecursively());
                                                        return QString();
                                                    }},
                                           RootLoss{"movedAway",
                                                    [](FileWatcherTest& f) {
                                                        f.move(f.path("code/app"), f.path("code/app.old"));
                                                        return f.path("code/app.old");
                                                    }},
                                           RootLoss{"parentRenamed",
                                                    [](FileWatcherTest& f) {
                                                        f.move(f.path("code"), f.path("code.old"));
                                                        return f.path("code.old/app");
                                                    }}),
                         [](const auto& p) { return std::string(p.param.name); });

// As a root that went away and came back: the new target's TODOs count as seen, the old target's
// edits are no longer read under the link's name.
TEST_F(FileWatcherTest, RetargetedLinkRootIsScannedAndWatchedAgain)
{
    write("one/a.c", "int a;\n");
    write("two/a.c", "// TODO: already in two\n");
    write("two/lib/l.c", "int l;\n");
    HeldWriter writer(path("two/lib/w.c"));
    ASSERT_TRUE(writer.begun);
    const QString app = path("app");
    ASSERT_TRUE(QFile::link(path("one"), app));
    watcher->start({app + '/'}, true);

    ASSERT_EQ(QProcess::execute("ln", {"-sfn", path("two"), app}), 0);
    ASSERT_TRUE(waitForLine("Watched directory is back, watching it again: " + app));
    EXPECT_TRUE(logs.contains("Watched directory is gone, waiting for it to come back: " + app));
    append("one/a.c", "// TODO: in the old target\n");

    // Still being written at the switch: first seen at its writer's close, once.
    ASSERT_TRUE(writer.finish());
    ASSERT_TRUE(waitForLine("File has 2 TODO(s), cached: false, seenHashes: 1"));
    append("app/lib/l.c", "// TODO: after the switch\n");
    ASSERT_TRUE(waitForTitles({"after the switch"}));
    EXPECT_EQ(logs.count("File event: " + app + "/lib/w.c"), 1);
    EXPECT_FALSE(logs.contains("File event: " + app + "/a.c"));
}

TEST_F(FileWatcherTest, SubdirectoryMovedOutStopsAndOneRenamedInsideFollows)
{
    QTemporaryDir outside;
    write("gone/g.c", "int g;\n");
    write("kept/k.c", "int k;\n");
    watcher->start({root}, true);

    move(path("gone"), outside.path() + "/gone");
    ASSERT_TRUE(waitForLine("Directory moved out of the watched tree, no longer watching it: " + path("gone")));
    append(outside.path() + "/gone/g.c", "// TODO: outside now\n");

    move(path("kept"), path("renamed"));
    ASSERT_TRUE(waitForLine("File event: " + path("renamed/k.c")));
    ASSERT_TRUE(settle());
    append("renamed/k.c", "// TODO: follows the rename\n");
    ASSERT_TRUE(waitForTitles({"follows the rename"}));
    for (const QString& line : logs.lines()) {
        EXPECT_FALSE(line.contains("g.c")) << line.toStdString();
        EXPECT_FALSE(line.contains("moved out") && line.contains("kept")) << line.toStdString();
    }
}

TEST_F(FileWatcherTest, EveryFileOfADirectoryMovedInIsCachedEmptyOrNot)
{
    QTemporaryDir outside;
    watcher->start({root}, true);
    write(outside.path() + "/tpl/empty.py", "");
    write(outside.path() + "/tpl/full.py", "# TODO: template\n");
    move(outside.path() + "/tpl", path("new"));
    ASSERT_TRUE(waitForLine("File event: " + path("new/empty.py")));
    ASSERT_TRUE(settle());

    append("new/empty.py", "# TODO: first real one\n");
    append("new/full.py", "# TODO: second real one\n");
    ASSERT_TRUE(waitForTitles({"first real one", "second real one"}));
}

class UnreadableDirectory : public FileWatcherTest, public ::testing::WithParamInterface<bool>
{};

TEST_P(UnreadableDirectory, IsScannedAndWatchedOnceItCanBeRead)
{
    const PermissionChecksApply asAnyone;
    makeWatcher();
    write("locked/a.c", "// TODO: inside\n");
    write("locked/deeper/b.c", "int b;\n");
    ASSERT_TRUE(QFile::setPermissions(path("locked"), {}));
    if (!QDir(path("locked")).entryList().isEmpty())
        GTEST_SKIP() << "permission checks do not apply to this process";

    const bool watchedItself = GetParam();
    watcher->start({watchedItself ? path("locked") : root}, true);
    EXPECT_TRUE(logs.contains("Could not watch directory " + path("locked") + ": Permission denied"));
    EXPECT_TRUE(logs.contains("Initial scan complete. Cached 0 files, 0 existing TODOs"));

    ASSERT_TRUE(QFile::setPermissions(path("locked"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    ASSERT_TRUE(waitForLine("Directory can be read now, watching it: " + path("locked")));
    ASSERT_TRUE(settle("locked"));
    append("locked/deeper/b.c", "// TODO: after\n");
    ASSERT_TRUE(waitForTitles({"after"}));
    EXPECT_TRUE(watcher->hasSeenHash(TodoParser::contentHash("inside")));
}

INSTANTIATE_TEST_SUITE_P(FileWatcher, UnreadableDirectory, ::testing::Bool(), [](const auto& p) {
    return p.param ? "watchedItself" : "subdirectory";
});

TEST_F(FileWatcherTest, NamesThatAreNotUtf8AreReadByTheirBytes)
{
    const QByteArray dir = QFile::encodeName(root);
    const auto writeRaw = [&](const QByteArray& rel, const QByteArray& bytes, int flags) {
        const int fd = ::open((dir + '/' + rel).constData(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0644);
        ASSERT_GE(fd, 0) << rel.toHex().toStdString();
        ASSERT_EQ(::write(fd, bytes.constData(), size_t(bytes.size())), bytes.size());
        ::close(fd);
    };
    const QByteArray first = "bad\xff"
                             "name.c";
    const QByteArray second = "bad\xfe"
                              "name.c";
    const QByteArray inDir = "sub\xff/in.c";
    ASSERT_EQ(::mkdir((dir + "/sub\xff").constData(), 0755), 0);
    // Removing by name as text would miss these.
    const auto cleanUp = qScopeGuard([&] {
        for (const QByteArray& rel : {first, second, inDir})
            ::unlink((dir + '/' + rel).constData());
        ::rmdir((dir + "/sub\xff").constData());
    });
    writeRaw(first, "// TODO: one\n", O_TRUNC);
    writeRaw(second, "// TODO: two\n", O_TRUNC);
    writeRaw(inDir, "int i;\n", O_TRUNC);
    watcher->start({root}, true);
    EXPECT_TRUE(logs.contains("Initial scan complete. Cached 3 files, 2 existing TODOs"));

    writeRaw(first, "// TODO: three\n", O_APPEND);
    writeRaw(second, "// TODO: four\n", O_APPEND);
    writeRaw(inDir, "// TODO: five\n", O_APPEND);
    ASSERT_TRUE(waitForTitles({"three", "four", "five"}));
    for (const QString& line : logs.lines())
        EXPECT_FALSE(line.startsWith("Could not read file")) << line.toStdString();

    // Each TODO carries the bytes that name its file, and text handed back under them replaces
    // that file's entry.
    QSet<QByteArray> named;
    for (const ParsedTodo& todo : detectedTodos())
        named.insert(todo.localPath);
    EXPECT_EQ(named, (QSet<QByteArray>{dir + '/' + first, dir + '/' + second, dir + '/' + inDir}));
    watcher->updateCache(dir + '/' + first, QStringLiteral("// TODO: one\n// TODO: three (#7 https://x/7)\n"));
    EXPECT_EQ(watcher->cachedFileCount(), 3);
}

TEST_F(FileWatcherTest, IgnoredDirectoriesTakeNoWatchAndRenamesAreFollowed)
{
    write("src/lib/a.c", "int a;\n");
    write("node_modules/p/q/m.js", "// x\n");
    write(".git/objects/ab/cd", "x");
    write("build/out/o.c", "int o;\n");
    write(".github/workflows/ci.yml", "x: 1\n");
    watcher->start({root}, true);
    // The root, src, src/lib, .github and .github/workflows.
    EXPECT_EQ(watcher->watchedDirectoryCount(), 5);

    // Renamed out of an ignored name: watched, its files seen for the first time.
    move(path("node_modules"), path("modules"));
    ASSERT_TRUE(waitForLine("File event: " + path("modules/p/q/m.js")));
    // Renamed into one: no longer watched.
    move(path("src"), path("dist"));
    ASSERT_TRUE(settle());
    EXPECT_EQ(watcher->watchedDirectoryCount(), 6);

    append("dist/lib/a.c", "// TODO: ignored now\n");
    append("modules/p/q/m.js", "// TODO: watched now\n");
    ASSERT_TRUE(waitForTitles({"watched now"}));
    EXPECT_FALSE(logs.contains("File event: " + path("dist/lib/a.c")));
}

} // namespace
} // namespace jw
