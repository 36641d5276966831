#pragma once

#include <QDateTime>
#include <QString>

#include <optional>
#include <utility>
#include <variant>

namespace jw {

// A failure that travels through asynchronous calls. `description` is the user-facing text
// (what an island error shows); `textualForm` is how the error value prints (what log lines
// show): for our own error enumerations the case name with its payload, such as
// repoNotFound("octo/demo"); for failures of the HTTP layer its description, followed by the
// request's path when the request itself failed.
struct Error
{
    QString domain;   // "GitHubClientError", "GitHubProjectsError", "KeychainError", "HttpError", ...
    QString caseName; // "repoNotFound", "timedOut", ...
    QString description;
    QString textualForm;
    std::optional<int> responseCode; // the HTTP status, when there was a response

    // Whether the same request may be sent again later without acting twice.
    enum class Retry
    {
        never,
        whenReachable,  // nothing of the request left: the host was not reached
        afterRateLimit, // GitHub refused it for a rate limit and did nothing
    };
    Retry retry = Retry::never;
    // For a rate limit: when GitHub said it takes requests again, when it said.
    std::optional<QDateTime> retryAt = std::nullopt;

    bool is(const QString& d, const QString& c) const { return domain == d && caseName == c; }
};

// A value or an Error; what our asynchronous calls return instead of throwing.
template <typename T>
class Expected
{
public:
    Expected(T value)
        : m_v(std::in_place_index<0>, std::move(value))
    {
    }
    Expected(Error error)
        : m_v(std::in_place_index<1>, std::move(error))
    {
    }
    bool ok() const { return m_v.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() { return std::get<0>(m_v); }
    const T& value() const { return std::get<0>(m_v); }
    const Error& error() const { return std::get<1>(m_v); }

private:
    std::variant<T, Error> m_v;
};

struct Unit
{};

} // namespace jw
