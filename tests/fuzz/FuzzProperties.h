#pragma once

#include <QByteArrayView>

#include <optional>
#include <string>

// Properties that must hold for any input from outside: each check returns the first one the
// input breaks. The fuzz targets abort on a broken property; the corpus replay test runs the
// same checks over the stored inputs in the ordinary suite.
namespace jw::fuzz {

using Check = std::optional<std::string> (*)(QByteArrayView input);

// Any file's bytes through the TODO parser.
std::optional<std::string> checkTodoParser(QByteArrayView input);
// Any answer body through the decoders of the REST and GraphQL clients.
std::optional<std::string> checkGitHubJson(QByteArrayView input);
// Any output of `git remote get-url origin` through the remote parser.
std::optional<std::string> checkRemoteUrl(QByteArrayView input);

struct Target
{
    const char* name; // the corpus folder and the fuzz program's suffix
    Check check;
};

inline constexpr Target kTargets[] = {
    {"todo-parser", checkTodoParser},
    {"github-json", checkGitHubJson},
    {"remote-url", checkRemoteUrl},
};

} // namespace jw::fuzz
