#pragma once

#include <QString>

#include <optional>
#include <utility>

namespace jw {

// A value or an error with a message.
template <typename T>
class Result
{
public:
    Result(T value)
        : m_value(std::move(value))
    {
    }
    static Result failure(QString error)
    {
        Result r;
        r.m_error = std::move(error);
        return r;
    }

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }
    T& value() { return *m_value; }
    const T& value() const { return *m_value; }
    T* operator->() { return &*m_value; }
    const QString& error() const { return m_error; }

private:
    Result() = default;
    std::optional<T> m_value;
    QString m_error;
};

// Success or an error with a message.
class Status
{
public:
    Status() = default;
    static Status failure(QString error)
    {
        Status s;
        s.m_error = std::move(error);
        s.m_failed = true;
        return s;
    }
    bool ok() const { return !m_failed; }
    explicit operator bool() const { return ok(); }
    const QString& error() const { return m_error; }

private:
    QString m_error;
    bool m_failed = false;
};

} // namespace jw
