#include "app/github/RepoInfo.h"

#include <QFile>
#include <QHash>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringDecoder>
#include <QUrl>

#include <atomic>
#include <fstream>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace jw {
namespace {

// What a cached answer was read from: the ".git" entry and the config that holds the remote, each
// by device, inode, size, modification and change time. A changed remote replaces the config
// file; another repository at the same path is another ".git".
using FileStamp = std::tuple<dev_t, ino_t, off_t, time_t, long, time_t, long>;
using GitStamp = std::pair<FileStamp, FileStamp>;

struct CacheEntry
{
    RepoInfo info;
    GitStamp stamp;
};

std::mutex gCacheMutex;
// Keyed by the root's bytes: roots whose names differ only in bytes that are not UTF-8 read alike
// as text.
std::map<QByteArray, CacheEntry> gCache;
std::atomic<int> gGitRuns{0};

// The parent directory by the usual path-string rule: trailing slashes are ignored, "/a" gives
// "/", and a relative single component gives "".
QByteArray deletingLastPathComponent(QByteArray path)
{
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArray();
    if (slash == 0)
        return QByteArrayLiteral("/");
    return path.left(slash);
}

QByteArray collapseSlashes(QByteArray path)
{
    while (path.contains("//"))
        path.replace("//", "/");
    return path;
}

FileStamp stampOf(const QByteArray& path)
{
    struct stat st;
    if (::stat(path.constData(), &st) != 0)
        return {};
    return {st.st_dev,
            st.st_ino,
            st.st_size,
            st.st_mtim.tv_sec,
            st.st_mtim.tv_nsec,
            st.st_ctim.tv_sec,
            st.st_ctim.tv_nsec};
}

// The first line of a small file, without its line end; the path in the file system's bytes.
QByteArray firstLine(const QByteArray& path)
{
    std::ifstream in(path.constData(), std::ios::binary);
    std::string line;
    std::getline(in, line);
    return QByteArray::fromStdString(line).trimmed();
}

QByteArray against(const QByteArray& base, const QByteArray& path)
{
    return path.startsWith('/') ? path : base + '/' + path;
}

// A linked work tree's ".git" file names its git directory, whose "commondir" names the
// repository that holds the config.
QByteArray configPathOf(const QByteArray& root)
{
    const QByteArray dotGit = root + "/.git";
    struct stat st;
    if (::stat(dotGit.constData(), &st) != 0 || S_ISDIR(st.st_mode))
        return dotGit + "/config";
    const QByteArray line = firstLine(dotGit);
    if (!line.startsWith("gitdir:"))
        return dotGit + "/config";
    const QByteArray gitDir = against(root, line.mid(7).trimmed());
    const QByteArray common = firstLine(gitDir + "/commondir");
    return (common.isEmpty() ? gitDir : against(gitDir, common)) + "/config";
}

GitStamp stampOfRoot(const QByteArray& root)
{
    return {stampOf(root + "/.git"), stampOf(configPathOf(root))};
}

// Variables that point git at a repository, or rewrite its config, other than the one `-C` names:
// git's own list of repository-local variables, with the numbered config entries. The user's own
// config files (GIT_CONFIG_GLOBAL, GIT_CONFIG_SYSTEM, GIT_CONFIG_NOSYSTEM) stay.
QProcessEnvironment gitEnvironment()
{
    static const char* const kRepositoryVariables[] = {
        "GIT_ALTERNATE_OBJECT_DIRECTORIES",
        "GIT_COMMON_DIR",
        "GIT_CONFIG",
        "GIT_CONFIG_COUNT",
        "GIT_CONFIG_PARAMETERS",
        "GIT_DIR",
        "GIT_GRAFT_FILE",
        "GIT_IMPLICIT_WORK_TREE",
        "GIT_INDEX_FILE",
        "GIT_INTERNAL_SUPER_PREFIX",
        "GIT_NO_REPLACE_OBJECTS",
        "GIT_OBJECT_DIRECTORY",
        "GIT_PREFIX",
        "GIT_REPLACE_REF_BASE",
        "GIT_SHALLOW_FILE",
        "GIT_WORK_TREE",
    };
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : kRepositoryVariables)
        env.remove(QLatin1String(name));
    for (const QString& name : env.keys()) {
        if (name.startsWith(QLatin1String("GIT_CONFIG_KEY_")) || name.startsWith(QLatin1String("GIT_CONFIG_VALUE_")))
            env.remove(name);
    }
    return env;
}

bool isGitHubHost(const QString& host)
{
    return host.compare(RepoInfo::kWebHost, Qt::CaseInsensitive) == 0
           || host.endsWith(QLatin1Char('.') + RepoInfo::kWebHost, Qt::CaseInsensitive);
}

std::optional<RepoInfo> makeInfo(const QString& owner, QString repo, const QString& rootPath)
{
    if (repo.endsWith(QLatin1String(".git")))
        repo.chop(4);
    if (owner.isEmpty() || repo.isEmpty())
        return std::nullopt;
    return RepoInfo{owner, repo, rootPath};
}

} // namespace

std::optional<RepoInfo> RepoInfo::resolve(const QString& forPath)
{
    return resolve(QFile::encodeName(forPath));
}

std::optional<RepoInfo> RepoInfo::resolve(const QByteArray& forLocalPath)
{
    const auto root = findGitRoot(forLocalPath);
    if (!root)
        return std::nullopt;
    // Taken before git reads the config, so a change while it runs is seen the next time.
    const GitStamp stamp = stampOfRoot(*root);
    {
        std::lock_guard lock(gCacheMutex);
        if (auto it = gCache.find(*root); it != gCache.end()) {
            if (it->second.stamp == stamp)
                return it->second.info;
            gCache.erase(it);
        }
    }
    const auto remote = runGitRemote(*root);
    if (!remote)
        return std::nullopt;
    auto info = parse(*remote, QFile::decodeName(*root));
    if (!info)
        return std::nullopt;
    std::lock_guard lock(gCacheMutex);
    gCache.insert_or_assign(*root, CacheEntry{*info, stamp});
    return info;
}

std::optional<QByteArray> RepoInfo::findGitRoot(const QByteArray& forLocalPath)
{
    QByteArray candidate = deletingLastPathComponent(collapseSlashes(forLocalPath));
    // An empty candidate (a relative path ran out of components) would never reach "/".
    while (!candidate.isEmpty() && candidate != "/") {
        struct stat st;
        if (::stat(QByteArray(candidate + "/.git").constData(), &st) == 0)
            return candidate;
        candidate = deletingLastPathComponent(candidate);
    }
    return std::nullopt;
}

std::optional<QString> RepoInfo::runGitRemote(const QByteArray& localRootPath)
{
    ++gGitRuns;
    QProcess git;
    git.setProgram(kGitExecutable);
    const QString rootText = QFile::decodeName(localRootPath);
    if (QFile::encodeName(rootText) == localRootPath) {
        git.setArguments({QStringLiteral("-C"),
                          rootText,
                          QStringLiteral("remote"),
                          QStringLiteral("get-url"),
                          QStringLiteral("origin")});
    } else {
        git.setArguments({QStringLiteral("remote"), QStringLiteral("get-url"), QStringLiteral("origin")});
        // Runs in the child between fork and exec. A git left in our own directory could answer
        // for another work tree, so a failed change of directory ends the child instead.
        git.setChildProcessModifier([localRootPath] {
            if (::chdir(localRootPath.constData()) != 0)
                ::_exit(127);
        });
    }
    git.setProcessEnvironment(gitEnvironment());
    git.setStandardInputFile(QProcess::nullDevice());
    git.setStandardErrorFile(QProcess::nullDevice());
    git.start();
    if (!git.waitForStarted())
        return std::nullopt;
    git.waitForFinished(-1);
    if (git.exitStatus() != QProcess::NormalExit || git.exitCode() != 0)
        return std::nullopt;
    const QByteArray output = git.readAllStandardOutput();
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(output);
    if (decoder.hasError())
        return std::nullopt;
    return text.trimmed();
}

std::optional<RepoInfo> RepoInfo::parse(const QString& remoteURL, const QString& rootPath)
{
    const QString text = remoteURL.trimmed();

    const QString scpPrefix = QStringLiteral("git@") + kWebHost + QLatin1Char(':');
    if (text.startsWith(scpPrefix)) {
        const QStringList pieces = text.mid(scpPrefix.size()).split(QLatin1Char('/'), Qt::SkipEmptyParts);
        if (pieces.size() != 2)
            return std::nullopt;
        return makeInfo(pieces[0], pieces[1], rootPath);
    }

    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || !isGitHubHost(url.host(QUrl::FullyEncoded)))
        return std::nullopt;
    const QStringList components = url.path(QUrl::FullyDecoded).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (components.size() < 2)
        return std::nullopt;
    return makeInfo(components[0], components[1], rootPath);
}

int RepoInfo::gitRunCount()
{
    return gGitRuns.load();
}

void RepoInfo::clearCacheForTesting()
{
    std::lock_guard lock(gCacheMutex);
    gCache.clear();
}

} // namespace jw
