#include "app/SourceLines.h"

#include "platform/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

namespace jw {
namespace {

QList<QByteArray> pieces(const QByteArray& bytes)
{
    QList<QByteArray> out;
    for (const auto& span : SourceLines::split(bytes))
        out << bytes.mid(span.start, span.end - span.start);
    return out;
}

TEST(SourceLines, SplitsAtEveryNewlineCharacterOnItsOwn)
{
    EXPECT_EQ(pieces("a\r\nb"), (QList<QByteArray>{"a", "", "b"}));
    EXPECT_EQ(pieces("a\nb\n"), (QList<QByteArray>{"a", "b", ""}));
    EXPECT_EQ(pieces("x\xc2\x85y\xe2\x80\xa8z\xe2\x80\xa9w\vv\fu"), (QList<QByteArray>{"x", "y", "z", "w", "v", "u"}));
    // Other multi-byte characters are not breaks.
    EXPECT_EQ(pieces("\xc3\xa4\xe2\x80\xa6"), (QList<QByteArray>{"\xc3\xa4\xe2\x80\xa6"}));
    EXPECT_EQ(pieces(""), (QList<QByteArray>{""}));
}

TEST(SourceLines, AnnotationNeedsTheWholeNumber)
{
    EXPECT_TRUE(SourceLines::isAnnotated(QStringLiteral("// TODO: x (#42 https://g/42)"), 42));
    EXPECT_FALSE(SourceLines::isAnnotated(QStringLiteral("// TODO: x (#420 https://g/420)"), 42));
    EXPECT_TRUE(SourceLines::isAnnotated(QStringLiteral("// (#420 a) (#42 b)"), 42));
    EXPECT_TRUE(SourceLines::isAnnotated(QStringLiteral("// TODO: x (#42"), 42));
    EXPECT_FALSE(SourceLines::isAnnotated(QStringLiteral("// TODO: x (#420"), 42));
    EXPECT_FALSE(SourceLines::isAnnotated(QStringLiteral("// TODO: x"), 42));
    EXPECT_EQ(SourceLines::annotation(42, QStringLiteral("https://github.com/o/r/issues/42")),
              QStringLiteral(" (#42 https://github.com/o/r/issues/42)"));
}

class AtomicFileTest : public ::testing::Test
{
protected:
    QString write(const QString& name, const QByteArray& bytes, QFile::Permissions perms = {})
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        if (perms)
            f.setPermissions(perms);
        return path;
    }
    static QByteArray read(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
    }
    QStringList leftovers(const QString& folder) const
    {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral("jotwarden-"));
    }
    QTemporaryDir dir;
};

TEST_F(AtomicFileTest, KeepsPermissionsAndWritesThroughLinks)
{
    const auto exec = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup;
    const QString script = write(QStringLiteral("run.sh"), "#!/bin/sh\n", exec);
    ASSERT_TRUE(writeFileAtomically(QFile::encodeName(script), "#!/bin/sh\necho\n").ok());
    EXPECT_EQ(read(script), QByteArray("#!/bin/sh\necho\n"));
    const auto perms = QFile(script).permissions();
    EXPECT_TRUE(perms.testFlag(QFile::ExeOwner) && perms.testFlag(QFile::ExeGroup));
    EXPECT_FALSE(perms.testFlag(QFile::WriteGroup) || perms.testFlag(QFile::ReadOther));

    const QString target = write(QStringLiteral("real.c"), "old");
    const QString link = dir.filePath(QStringLiteral("link.c"));
    ASSERT_TRUE(QFile::link(target, link));
    ASSERT_TRUE(writeFileAtomically(QFile::encodeName(link), "new").ok());
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(read(target), QByteArray("new"));
    EXPECT_TRUE(leftovers(dir.path()).isEmpty());
}

TEST_F(AtomicFileTest, ReadOnlyDirectoryLeavesTheFileUntouched)
{
    const QString folder = dir.filePath(QStringLiteral("ro"));
    QDir().mkpath(folder);
    const QByteArray mountPoint = QFile::encodeName(folder);
    // Root writes into any directory, so make the whole file system read-only instead.
    const bool mounted = ::geteuid() == 0 && ::mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=1m") == 0;
    if (::geteuid() == 0 && !mounted)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    const QString path = folder + QStringLiteral("/a.c");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("original");
    }
    if (mounted)
        ASSERT_EQ(::mount("tmpfs", mountPoint.constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=1m"), 0);
    else
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
    const auto status = writeFileAtomically(QFile::encodeName(path), "changed");
    const QByteArray after = read(path);
    const QStringList left = leftovers(folder);
    if (mounted)
        ::umount(mountPoint.constData());
    else
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_FALSE(status.ok());
    EXPECT_EQ(after, QByteArray("original"));
    EXPECT_TRUE(left.isEmpty());
}

TEST_F(AtomicFileTest, FullFileSystemLeavesTheFileUntouched)
{
    const QString mountPoint = dir.filePath(QStringLiteral("small"));
    QDir().mkpath(mountPoint);
    if (::mount("tmpfs", QFile::encodeName(mountPoint).constData(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    const QByteArray original(40 * 1024, 'o');
    const QString path = mountPoint + QStringLiteral("/big.c");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(original);
    }
    const auto status = writeFileAtomically(QFile::encodeName(path), QByteArray(40 * 1024 + 10, 'n'));
    const QByteArray after = read(path);
    const QStringList left = leftovers(mountPoint);
    ::umount(QFile::encodeName(mountPoint).constData());
    EXPECT_FALSE(status.ok());
    EXPECT_EQ(after, original);
    EXPECT_TRUE(left.isEmpty());
}

} // namespace
} // namespace jw
