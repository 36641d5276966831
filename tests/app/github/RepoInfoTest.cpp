#include "app/github/RepoInfo.h"

#include "tests/support/LogCapture.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace jw {
namespace {

struct ParseCase
{
    const char* name;
    const char* remote;
    std::optional<std::pair<QString, QString>> expected; // owner, repo
};

void PrintTo(const ParseCase& c, std::ostream* os)
{
    *os << c.name;
}

class RepoInfoParseTest : public ::testing::TestWithParam<ParseCase>
{};

TEST_P(RepoInfoParseTest, Parses)
{
    const auto info = RepoInfo::parse(QString::fromUtf8(GetParam().remote), QStringLiteral("/work/root"));
    if (!GetParam().expected) {
        EXPECT_FALSE(info.has_value()) << info->owner.toStdString() << "/" << info->repo.toStdString();
        return;
    }
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(*info, (RepoInfo{GetParam().expected->first, GetParam().expected->second, QStringLiteral("/work/root")}));
}

std::pair<QString, QString> ownerRepo(const char* owner, const char* repo)
{
    return {QString::fromUtf8(owner), QString::fromUtf8(repo)};
}

INSTANTIATE_TEST_SUITE_P(
    Remotes,
    RepoInfoParseTest,
    ::testing::Values(
        ParseCase{"ScpWithSuffix", "git@github.com:owner/repo.git", ownerRepo("owner", "repo")},
        ParseCase{"ScpWithoutSuffix", "git@github.com:owner/repo", ownerRepo("owner", "repo")},
        ParseCase{"ScpEmptyPiecesOmitted", "git@github.com:owner//repo", ownerRepo("owner", "repo")},
        ParseCase{"ScpExtraPiece", "git@github.com:owner/repo/extra", std::nullopt},
        ParseCase{"ScpOnePiece", "git@github.com:repo.git", std::nullopt},
        ParseCase{"ScpOtherHost", "git@gitlab.com:owner/repo.git", std::nullopt},
        ParseCase{"ScpSubdomain", "git@ssh.github.com:owner/repo.git", ownerRepo("owner", "repo")},
        ParseCase{"ScpHostInOtherCase", "git@GitHub.com:owner/repo.git", ownerRepo("owner", "repo")},
        ParseCase{"ScpHostEndingInTheText", "git@notgithub.com:owner/repo.git", std::nullopt},
        // Parsing alone never asks ssh what an alias stands for.
        ParseCase{"ScpHostAlias", "git@github-work:owner/repo.git", std::nullopt},
        ParseCase{"HttpsTrailingLineFeed", "https://github.com/owner/repo.git\n", ownerRepo("owner", "repo")},
        ParseCase{"HttpsExtraComponents", "https://github.com/owner/repo/tree/main", ownerRepo("owner", "repo")},
        ParseCase{"HttpsTrailingSlash", "https://github.com/owner/repo.git/", ownerRepo("owner", "repo")},
        ParseCase{"HttpsCaseKept", "https://github.com/OctoCat/Hello-World", ownerRepo("OctoCat", "Hello-World")},
        ParseCase{"HttpsOnlyOwner", "https://github.com/owner", std::nullopt},
        ParseCase{"HttpsEmptyName", "https://github.com/owner/.git", std::nullopt},
        ParseCase{"SshUrl", "ssh://git@github.com/owner/repo.git", ownerRepo("owner", "repo")},
        ParseCase{"SshSubdomainWithPort", "ssh://git@ssh.github.com:443/owner/repo.git", ownerRepo("owner", "repo")},
        ParseCase{"WwwSubdomain", "https://www.github.com/owner/repo", ownerRepo("owner", "repo")},
        // Only a trailing ".git" is dropped.
        ParseCase{"DotGitInsideName", "git@github.com:owner/my.gitops.git", ownerRepo("owner", "my.gitops")},
        ParseCase{"DotGitInsideOwner", "https://github.com/team.github/repo", ownerRepo("team.github", "repo")},
        // The host must be github.com or below it, not merely contain the text.
        ParseCase{"OtherHost", "https://gitlab.com/owner/repo.git", std::nullopt},
        ParseCase{"HostEndingInTheText", "https://notgithub.com/owner/repo.git", std::nullopt},
        ParseCase{"HostStartingWithTheText", "https://github.com.example.org/owner/repo.git", std::nullopt},
        ParseCase{"FileUrl", "file:///srv/git/repo.git", std::nullopt},
        ParseCase{"Empty", "", std::nullopt}),
    [](const auto& p) { return std::string(p.param.name); });

// Runs git for the test's own setup; its messages are not the code under test.
void git(const QStringList& args, const QString& dir)
{
    QProcess p;
    p.setWorkingDirectory(dir);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("/usr/bin/git"), args);
    ASSERT_TRUE(p.waitForFinished(30000));
    ASSERT_EQ(p.exitCode(), 0) << args.join(QLatin1Char(' ')).toStdString() << ": " << p.readAll().toStdString();
}

class RepoInfoWorkTreeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RepoInfo::clearCacheForTesting();
        ASSERT_TRUE(tmp.isValid());
        root = tmp.path() + QStringLiteral("/project");
        ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("/src/deep")));
        git({QStringLiteral("init"), QStringLiteral("-q")}, root);
    }

    void TearDown() override
    {
        for (auto it = savedEnv.rbegin(); it != savedEnv.rend(); ++it)
            it->second ? qputenv(it->first.constData(), *it->second) : qunsetenv(it->first.constData());
    }

    void setOrigin(const QString& url, const QString& dir = {})
    {
        git({QStringLiteral("remote"), QStringLiteral("add"), QStringLiteral("origin"), url},
            dir.isEmpty() ? root : dir);
    }

    void setUrl(const QString& url)
    {
        git({QStringLiteral("remote"), QStringLiteral("set-url"), QStringLiteral("origin"), url}, root);
    }

    // For the test's life; the old value comes back at tear-down.
    void setEnv(const QByteArray& name, const QByteArray& value)
    {
        savedEnv.emplace_back(name,
                              qEnvironmentVariableIsSet(name.constData()) ? std::optional(qgetenv(name.constData()))
                                                                          : std::nullopt);
        qputenv(name.constData(), value);
    }

    // ssh reads the user's config from the password database's home, so an `ssh` first on PATH
    // hands the real one a config of the test's own.
    void useSshConfig(const char* config)
    {
        const QByteArray dir = QFile::encodeName(tmp.path());
        std::ofstream(dir + "/ssh_config") << config;
        std::ofstream(dir + "/ssh") << "#!/bin/sh\nexec /usr/bin/ssh -F '" << dir.constData()
                                    << "/ssh_config' \"$@\"\n";
        ASSERT_EQ(::chmod(dir + "/ssh", 0700), 0);
        setEnv("PATH", dir + ':' + qgetenv("PATH"));
    }

    QString file(const QString& relative) const { return root + QLatin1Char('/') + relative; }

    QTemporaryDir tmp;
    QString root;
    std::vector<std::pair<QByteArray, std::optional<QByteArray>>> savedEnv;
};

class RepoInfoRemoteTest : public RepoInfoWorkTreeTest, public ::testing::WithParamInterface<const char*>
{};

TEST_P(RepoInfoRemoteTest, ResolvesAFileDeepInTheTreeToTheRoot)
{
    useSshConfig("Host github-work\n  HostName github.com\n");
    setOrigin(QString::fromUtf8(GetParam()));
    const auto info = RepoInfo::resolve(file(QStringLiteral("src/deep/parser.cpp")));
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(*info, (RepoInfo{QStringLiteral("octo"), QStringLiteral("demo"), root}));
}

INSTANTIATE_TEST_SUITE_P(Remotes,
                         RepoInfoRemoteTest,
                         ::testing::Values("git@github.com:octo/demo.git",
                                           "https://github.com/octo/demo.git",
                                           "ssh://git@github.com/octo/demo.git",
                                           "https://github.com/octo/demo/tree/main",
                                           "git@github-work:octo/demo.git",
                                           "ssh://git@github-work/octo/demo.git",
                                           "git@ssh.github.com:octo/demo.git",
                                           "git@GitHub.com:octo/demo.git"),
                         [](const auto& p) { return std::to_string(p.index); });

TEST_F(RepoInfoWorkTreeTest, AFileDirectlyInTheRootResolvesToTheRoot)
{
    setOrigin(QStringLiteral("https://github.com/octo/demo"));
    const auto info = RepoInfo::resolve(file(QStringLiteral("main.cpp")));
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->rootPath, root);
    // The given path itself is never tested as a root.
    EXPECT_FALSE(RepoInfo::findGitRoot(QFile::encodeName(root)).has_value());
}

TEST_F(RepoInfoWorkTreeTest, ALinkedWorkTreeWithAGitFileResolves)
{
    setOrigin(QStringLiteral("git@github.com:octo/demo.git"));
    git({QStringLiteral("-c"),
         QStringLiteral("user.name=t"),
         QStringLiteral("-c"),
         QStringLiteral("user.email=t@e"),
         QStringLiteral("commit"),
         QStringLiteral("-q"),
         QStringLiteral("--allow-empty"),
         QStringLiteral("-m"),
         QStringLiteral("init")},
        root);
    const QString linked = tmp.path() + QStringLiteral("/linked");
    git({QStringLiteral("worktree"), QStringLiteral("add"), QStringLiteral("-q"), linked}, root);
    ASSERT_TRUE(QFileInfo(linked + QStringLiteral("/.git")).isFile());

    const auto info = RepoInfo::resolve(linked + QStringLiteral("/a.cpp"));
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(*info, (RepoInfo{QStringLiteral("octo"), QStringLiteral("demo"), linked}));

    // The linked tree's remote lives in the main repository's config.
    setUrl(QStringLiteral("git@github.com:octo/moved.git"));
    EXPECT_EQ(RepoInfo::resolve(linked + QStringLiteral("/a.cpp"))->repo, QStringLiteral("moved"));
}

TEST_F(RepoInfoWorkTreeTest, NoOriginGivesNothingAndGitsComplaintStaysOffOurStderr)
{
    git({QStringLiteral("remote"),
         QStringLiteral("add"),
         QStringLiteral("upstream"),
         QStringLiteral("https://github.com/octo/demo")},
        root);

    QTemporaryFile capture;
    ASSERT_TRUE(capture.open());
    fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    dup2(capture.handle(), STDERR_FILENO);
    const auto info = RepoInfo::resolve(file(QStringLiteral("a.cpp")));
    fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);

    EXPECT_FALSE(info.has_value());
    EXPECT_EQ(QFile(capture.fileName()).size(), 0);
}

TEST_F(RepoInfoWorkTreeTest, ARemoteOnAnotherHostGivesNothing)
{
    useSshConfig(""); // ssh is asked what the host stands for; never with the developer's config
    setOrigin(QStringLiteral("git@gitlab.com:octo/demo.git"));
    EXPECT_FALSE(RepoInfo::resolve(file(QStringLiteral("a.cpp"))).has_value());
}

TEST_F(RepoInfoWorkTreeTest, AnSshAliasOfAnotherHostOrWithoutSshGivesNothing)
{
    useSshConfig("Host github-work\n  HostName gitlab.com\n");
    setOrigin(QStringLiteral("git@github-work:octo/demo.git"));
    EXPECT_FALSE(RepoInfo::resolve(file(QStringLiteral("a.cpp"))).has_value());

    setEnv("PATH", "/nonexistent");
    test::LogCapture log;
    EXPECT_FALSE(RepoInfo::resolve(file(QStringLiteral("a.cpp"))).has_value());
    EXPECT_TRUE(log.contains(QStringLiteral("Could not look up SSH host github-work: ssh not found")))
        << log.lines().join(QLatin1Char('\n')).toStdString();
}

// Variables a git hook or a shell may export, each naming another repository or rewriting its URL.
struct EnvCase
{
    const char* name;
    std::vector<std::pair<const char*, const char*>> vars; // "%1" stands for the other work tree
};

class RepoInfoEnvTest : public RepoInfoWorkTreeTest, public ::testing::WithParamInterface<EnvCase>
{};

TEST_P(RepoInfoEnvTest, InheritedGitVariablesDoNotChooseTheRepository)
{
    setOrigin(QStringLiteral("https://github.com/octo/demo"));
    const QString other = tmp.path() + QStringLiteral("/other");
    git({QStringLiteral("init"), QStringLiteral("-q"), other}, tmp.path());
    setOrigin(QStringLiteral("https://github.com/octo/other"), other);
    for (const auto& [name, value] : GetParam().vars)
        setEnv(name, QString::fromUtf8(value).arg(other).toUtf8());

    const auto info = RepoInfo::resolve(file(QStringLiteral("a.cpp")));
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->repo, QStringLiteral("demo"));
}

INSTANTIATE_TEST_SUITE_P(
    Variables,
    RepoInfoEnvTest,
    ::testing::Values(EnvCase{"GitDir", {{"GIT_DIR", "%1/.git"}, {"GIT_WORK_TREE", "%1"}}},
                      EnvCase{"CommonDir", {{"GIT_COMMON_DIR", "%1/.git"}}},
                      EnvCase{"ConfigParameters",
                              {{"GIT_CONFIG_PARAMETERS",
                                "'url.https://github.com/octo/other.insteadOf'='https://github.com/octo/demo'"}}},
                      EnvCase{"ConfigGlobal", {{"GIT_CONFIG_GLOBAL", "%1/.git/config"}}},
                      EnvCase{"ConfigCount",
                              {{"GIT_CONFIG_COUNT", "1"},
                               {"GIT_CONFIG_KEY_0", "url.https://github.com/octo/other.insteadOf"},
                               {"GIT_CONFIG_VALUE_0", "https://github.com/octo/demo"}}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(RepoInfoWorkTreeTest, PathsOutsideAnyWorkTreeGiveNothing)
{
    QTemporaryDir bare;
    EXPECT_FALSE(RepoInfo::resolve(bare.path() + QStringLiteral("/a.cpp")).has_value());
    EXPECT_FALSE(RepoInfo::resolve(QStringLiteral("/")).has_value());
    EXPECT_FALSE(RepoInfo::resolve(QString()).has_value());
    EXPECT_FALSE(RepoInfo::resolve(QStringLiteral("relative/path/a.cpp")).has_value());
}

TEST_F(RepoInfoWorkTreeTest, ASecondResolutionRunsNoGitUntilTheRemoteChanges)
{
    setOrigin(QStringLiteral("https://github.com/octo/demo"));
    const int before = RepoInfo::gitRunCount();
    const auto first = RepoInfo::resolve(file(QStringLiteral("a.cpp")));
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(RepoInfo::resolve(file(QStringLiteral("src/deep/b.cpp"))), first);
    EXPECT_EQ(RepoInfo::gitRunCount(), before + 1);

    setUrl(QStringLiteral("https://github.com/octo/renamed"));
    EXPECT_EQ(RepoInfo::resolve(file(QStringLiteral("src/deep/b.cpp"))),
              (RepoInfo{QStringLiteral("octo"), QStringLiteral("renamed"), root}));
    EXPECT_EQ(RepoInfo::resolve(file(QStringLiteral("a.cpp")))->repo, QStringLiteral("renamed"));
    EXPECT_EQ(RepoInfo::gitRunCount(), before + 2);

    // Another repository cloned where the tree was.
    ASSERT_TRUE(QDir(root).removeRecursively());
    ASSERT_TRUE(QDir().mkpath(root));
    git({QStringLiteral("init"), QStringLiteral("-q")}, root);
    setOrigin(QStringLiteral("https://github.com/octo/public"));
    EXPECT_EQ(RepoInfo::resolve(file(QStringLiteral("a.cpp")))->repo, QStringLiteral("public"));
}

TEST_F(RepoInfoWorkTreeTest, WorkTreesNamedByBytesThatAreNotUtf8ResolveEachToItsOwn)
{
    setOrigin(QStringLiteral("https://github.com/octo/outer"));
    const QByteArray base = QFile::encodeName(root);
    // The temporary directory removes its tree by text, which cannot name these.
    const auto removeTrees = qScopeGuard([&] {
        std::filesystem::remove_all((base + "/caf\xe9").toStdString());
        std::filesystem::remove_all((base + "/caf\xe8").toStdString());
    });
    // Two Latin-1 names inside the outer work tree (given as octal escapes); as text both read
    // "caf\uFFFD".
    for (const auto& [octal, name] : {std::pair{"351", "one"}, std::pair{"350", "two"}}) {
        QProcess sh;
        sh.setWorkingDirectory(root);
        sh.start(QStringLiteral("/bin/sh"),
                 {QStringLiteral("-c"),
                  QStringLiteral("d=$(printf 'caf\\%1') && mkdir \"$d\" && cd \"$d\" && git init -q"
                                 " && git remote add origin https://github.com/octo/%2")
                      .arg(QLatin1String(octal), QLatin1String(name))});
        ASSERT_TRUE(sh.waitForFinished(30000));
        ASSERT_EQ(sh.exitCode(), 0) << sh.readAllStandardError().toStdString();
    }

    const int before = RepoInfo::gitRunCount();
    const auto one = RepoInfo::resolve(QByteArray(base + "/caf\xe9/a.c"));
    const auto two = RepoInfo::resolve(QByteArray(base + "/caf\xe8/a.c"));
    ASSERT_TRUE(one.has_value());
    ASSERT_TRUE(two.has_value());
    EXPECT_EQ(one->repo, QStringLiteral("one"));
    EXPECT_EQ(two->repo, QStringLiteral("two"));
    EXPECT_EQ(one->rootPath, QFile::decodeName(base + "/caf\xe9"));
    EXPECT_EQ(RepoInfo::resolve(QByteArray(base + "/caf\xe9/b.c")), one);
    EXPECT_EQ(RepoInfo::gitRunCount(), before + 2);
}

TEST_F(RepoInfoWorkTreeTest, AFailedResolutionRunsGitAgainNextTime)
{
    const int before = RepoInfo::gitRunCount();
    EXPECT_FALSE(RepoInfo::resolve(file(QStringLiteral("a.cpp"))).has_value());
    EXPECT_FALSE(RepoInfo::resolve(file(QStringLiteral("a.cpp"))).has_value());
    EXPECT_EQ(RepoInfo::gitRunCount(), before + 2);

    setOrigin(QStringLiteral("https://github.com/octo/demo"));
    EXPECT_TRUE(RepoInfo::resolve(file(QStringLiteral("a.cpp"))).has_value());
    EXPECT_EQ(RepoInfo::gitRunCount(), before + 3);
}

} // namespace
} // namespace jw
