#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>

namespace jw::test {

// The program built for the tests, which takes the fake server's address from the environment.
QString programPath();

// Runs the real program (its tests' build) with a private home, data and runtime folder,
// offscreen, and collects its output. By default the child cannot reach a keyring, so it starts without a token.
// Runs share nothing, so each may hold the program's one-copy lock.
class ProgramRun
{
public:
    ProgramRun();

    QString home() const { return m_home.path(); }
    QString runtimeDir() const { return m_home.path() + QStringLiteral("/run"); }
    QString dataHome() const { return m_home.path() + QStringLiteral("/data"); }
    QString storePath() const { return dataHome() + QStringLiteral("/jotwarden/Jotwarden.store"); }
    QProcessEnvironment& environment() { return m_env; }
    // Makes the store with `directory` (a path ending in "/") as its one watched directory.
    bool watch(const QString& directory);

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

// A copy of the program left running beside the runs of a ProgramRun, with its environment.
class RunningCopy
{
public:
    explicit RunningCopy(const QProcessEnvironment& environment, const QString& program = programPath());
    ~RunningCopy();

    // Waits until the copy has logged `line` (without the prefix); false when it did not, or ended.
    bool waitForLine(const QString& line, std::chrono::seconds timeout = std::chrono::seconds(60));
    QStringList logLines();
    bool isRunning() const { return m_process.state() == QProcess::Running; }
    // Waits until the copy ends by itself; its exit code, or -1 when it still runs.
    int waitForExit(std::chrono::seconds timeout = std::chrono::seconds(60));
    // Ends the copy at once, as a crash or kill -9 would: nothing of it runs to clean up.
    void killHard();

private:
    QProcess m_process;
    QByteArray m_stdout;
};

// Logged lines (without the "[Jotwarden] " prefix) of the program's standard output.
QStringList logLinesOf(const QByteArray& output);

// The program as users run it, which `make run` starts.
QString shippedProgramPath();

} // namespace jw::test
