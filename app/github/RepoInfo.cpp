#include "app/github/RepoInfo.h"

#include "platform/Log.h"

#include <QFile>
#include <QHash>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QUrl>

#include <atomic>
#include <fstream>
#include <functional>
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

constexpr int kSshTimeoutMs = 5000;

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

// Variables that point git at a repository, or at config, other than what `-C` names: git's own
// list of repository-local variables, and every GIT_CONFIG* (a global file or entries exported
// by a hook or a shell would answer for every work tree).
QProcessEnvironment gitEnvironment()
{
    static const char* const kRepositoryVariables[] = {
        "GIT_ALTERNATE_OBJECT_DIRECTORIES",
        "GIT_COMMON_DIR",
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
        if (name.startsWith(QLatin1String("GIT_CONFIG")))
            env.remove(name);
    }
    return env;
}

bool isGitHubHost(const QString& host)
{
    return host.compare(RepoInfo::kWebHost, Qt::CaseInsensitive) == 0
           || host.endsWith(QLatin1Char('.') + RepoInfo::kWebHost, Qt::CaseInsensitive);
}

// A name ssh can take as a host and never as an option.
bool isPlainHostName(const QString& host)
{
    static const QRegularExpression kHostName(QStringLiteral("^[A-Za-z0-9_.][A-Za-z0-9_.-]*$"));
    return kHostName.match(host).hasMatch();
}

std::optional<RepoInfo> makeInfo(const QString& owner, QString repo, const QString& rootPath)
{
    if (repo.endsWith(QLatin1String(".git")))
        repo.chop(4);
    if (owner.isEmpty() || repo.isEmpty())
        return std::nullopt;
    return RepoInfo{owner, repo, rootPath};
}

// Whether a remote's host is GitHub's; `overSsh` tells that ssh would reach it, so an alias of
// the user's ssh config may stand for it.
using HostTest = std::function<bool(const QString& host, bool overSsh)>;

std::optional<RepoInfo> parseWith(const QString& remoteURL, const QString& rootPath, const HostTest& isGitHub)
{
    const QString text = remoteURL.trimmed();

    // Scp-style "git@host:path": the host ends at the first colon, before any slash.
    const QLatin1String scpUser("git@");
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (text.startsWith(scpUser) && colon > scpUser.size() && !text.left(colon).contains(QLatin1Char('/'))) {
        if (!isGitHub(text.mid(scpUser.size(), colon - scpUser.size()), true))
            return std::nullopt;
        const QStringList pieces = text.mid(colon + 1).split(QLatin1Char('/'), Qt::SkipEmptyParts);
        if (pieces.size() != 2)
            return std::nullopt;
        return makeInfo(pieces[0], pieces[1], rootPath);
    }

    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    const QString scheme = url.scheme().toLower();
    const bool overSsh =
        scheme == QLatin1String("ssh") || scheme == QLatin1String("git+ssh") || scheme == QLatin1String("ssh+git");
    if (!isGitHub(url.host(QUrl::FullyEncoded), overSsh))
        return std::nullopt;
    const QStringList components = url.path(QUrl::FullyDecoded).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (components.size() < 2)
        return std::nullopt;
    return makeInfo(components[0], components[1], rootPath);
}

// The host name an ssh alias stands for, as `ssh -G` prints it; nothing when ssh cannot tell.
std::optional<QString> sshHostName(const QString& alias)
{
    if (!isPlainHostName(alias))
        return std::nullopt;
    const QString ssh = QStandardPaths::findExecutable(QStringLiteral("ssh"));
    if (ssh.isEmpty()) {
        log(QStringLiteral("Could not look up SSH host %1: ssh not found").arg(alias));
        return std::nullopt;
    }
    QProcess child;
    child.setProgram(ssh);
    child.setArguments({QStringLiteral("-G"), QStringLiteral("--"), alias});
    child.setStandardInputFile(QProcess::nullDevice());
    child.setStandardErrorFile(QProcess::nullDevice());
    child.start();
    if (!child.waitForStarted())
        return std::nullopt;
    if (!child.waitForFinished(kSshTimeoutMs)) {
        child.kill();
        child.waitForFinished(-1);
        log(QStringLiteral("Could not look up SSH host %1: ssh did not answer within %2 s")
                .arg(alias)
                .arg(kSshTimeoutMs / 1000));
        return std::nullopt;
    }
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        return std::nullopt;
    for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
        if (line.startsWith("hostname "))
            return QString::fromUtf8(line.mid(9).trimmed());
    }
    return std::nullopt;
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
    const auto info = parseWith(*remote, QFile::decodeName(*root), [](const QString& host, bool overSsh) {
        if (isGitHubHost(host))
            return true;
        if (!overSsh)
            return false;
        const auto name = sshHostName(host);
        return name && isGitHubHost(*name);
    });
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
    return parseWith(remoteURL, rootPath, [](const QString& host, bool) { return isGitHubHost(host); });
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
