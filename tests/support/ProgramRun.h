#pragma once

#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>

namespace jw::test {

// Runs the real jotwarden binary with a private home and data folder, offscreen, and collects
// its output. By default the child cannot reach a keyring, so it starts without a token.
class ProgramRun
{
public:
    ProgramRun();

    QString home() const { return m_home.path(); }
    QString dataHome() const { return m_home.path() + QStringLiteral("/data"); }
    QString storePath() const { return dataHome() + QStringLiteral("/jotwarden/Jotwarden.store"); }
    QProcessEnvironment& environment() { return m_env; }

    // Starts the program and waits until it logs `untilLine` (then stops it) or exits by itself.
    // Returns the exit code when it exited by itself, -1 when it was stopped.
    int run(const QString& untilLine, std::chrono::seconds timeout = std::chrono::seconds(60));

    // Logged lines without the "[Jotwarden] " prefix, in order.
    QStringList logLines() const;
    QByteArray standardOutput() const { return m_stdout; }
    QByteArray standardError() const { return m_stderr; }

private:
    QTemporaryDir m_home;
    QProcessEnvironment m_env;
    QByteArray m_stdout;
    QByteArray m_stderr;
};

QString programPath();

} // namespace jw::test
