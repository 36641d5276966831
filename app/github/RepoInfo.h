#pragma once

#include <QByteArray>
#include <QHashFunctions>
#include <QString>

#include <optional>

namespace jw {

// A GitHub repository resolved from a git work tree: the owner and name from the URL of the
// "origin" remote, and the work tree's root directory.
struct RepoInfo
{
    QString owner;
    QString repo;
    QString rootPath; // as text; the walk itself goes by the file system's bytes

    bool operator==(const RepoInfo&) const = default;

    // The repository of the work tree holding `forPath` (an absolute path). Successful
    // resolutions are cached per root, so git runs once per work tree until the root's ".git" or
    // the config holding its remote changes. An ssh remote on a host alias of the user's ssh
    // config resolves through the host name ssh gives for it.
    static std::optional<RepoInfo> resolve(const QString& forPath);
    // The same for a path in the bytes the file system names it by, which need not be UTF-8.
    static std::optional<RepoInfo> resolve(const QByteArray& forLocalPath);
    // The nearest ancestor directory of `forPath` (never the path itself, never "/") that holds a
    // ".git" entry, directory or file.
    static std::optional<QByteArray> findGitRoot(const QByteArray& forLocalPath);
    // The trimmed output of `git -C rootPath remote get-url origin`, with git's variables that
    // name a repository or add config cleared; nothing when git fails. A root
    // that is not UTF-8 cannot be an argument (they reach the child as UTF-8): git then runs in it,
    // as `git remote get-url origin`.
    static std::optional<QString> runGitRemote(const QByteArray& localRootPath);
    // Owner and name from an scp-style ("git@github.com:owner/repo.git") or URL-style remote on
    // github.com or one of its subdomains, in any case; a trailing ".git" of the name is dropped.
    static std::optional<RepoInfo> parse(const QString& remoteURL, const QString& rootPath);

    static inline const QString kWebHost = QStringLiteral("github.com");
    static inline const QString kGitExecutable = QStringLiteral("/usr/bin/git");

    // Test seams.
    static int gitRunCount();
    static void clearCacheForTesting();
};

} // namespace jw

template <>
struct std::hash<jw::RepoInfo>
{
    size_t operator()(const jw::RepoInfo& r) const noexcept { return qHashMulti(0, r.owner, r.repo, r.rootPath); }
};
