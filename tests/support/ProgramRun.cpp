#include "tests/support/ProgramRun.h"

#include "app/models/Schema.h"
#include "app/models/WatchedDirectory.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

namespace jw::test {

QString programPath()
{
    return QStringLiteral(JW_BINARY_DIR "/tests/jotwarden-test");
}

QString shippedProgramPath()
{
    return QStringLiteral(JW_BINARY_DIR "/jotwarden");
}

ProgramRun::ProgramRun()
    : m_env(QProcessEnvironment::systemEnvironment())
{
    QDir().mkpath(dataHome());
    QDir().mkpath(runtimeDir());
    QFile::setPermissions(runtimeDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_env.insert(QStringLiteral("HOME"), home());
    m_env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome());
    m_env.insert(QStringLiteral("XDG_CONFIG_HOME"), home() + QStringLiteral("/config"));
    m_env.insert(QStringLiteral("XDG_CACHE_HOME"), home() + QStringLiteral("/cache"));
    m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir());
    m_env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    m_env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                 QStringLiteral("unix:path=") + home() + QStringLiteral("/no-bus"));
    m_env.remove(QStringLiteral("WAYLAND_DISPLAY"));
}

bool ProgramRun::watch(const QString& directory)
{
    store::ModelConfiguration config = jotwardenConfiguration();
    config.filePath = storePath();
    if (!QDir().mkpath(dataHome() + QStringLiteral("/jotwarden")))
        return false;
    auto container = store::ModelContainer::open(jotwardenSchema(), config);
    if (!container)
        return false;
    container.value()->mainContext()->insert(std::make_shared<WatchedDirectory>(directory, true));
    return container.value()->mainContext()->save().ok();
}

int ProgramRun::run(const QString& untilLine, std::chrono::seconds timeout)
{
    m_stdout.clear();
    m_stderr.clear();
    QProcess process;
    process.setProcessEnvironment(m_env);
    process.start(programPath(), {});
    if (!process.waitForStarted())
        return -2;
    QElapsedTimer clock;
    clock.start();
    const QByteArray wanted = "[Jotwarden] " + untilLine.toUtf8();
    while (clock.elapsed() < std::chrono::milliseconds(timeout).count()) {
        process.waitForReadyRead(100);
        m_stdout += process.readAllStandardOutput();
        m_stderr += process.readAllStandardError();
        if (process.state() == QProcess::NotRunning) {
            m_stdout += process.readAllStandardOutput();
            m_stderr += process.readAllStandardError();
            return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -3;
        }
        if (!untilLine.isEmpty() && m_stdout.contains(wanted))
            break;
    }
    process.terminate();
    if (!process.waitForFinished(10000))
        process.kill();
    process.waitForFinished();
    m_stdout += process.readAllStandardOutput();
    m_stderr += process.readAllStandardError();
    return -1;
}

QStringList ProgramRun::logLines() const
{
    return logLinesOf(m_stdout);
}

QStringList logLinesOf(const QByteArray& output)
{
    QStringList lines;
    for (const QByteArray& line : output.split('\n'))
        if (line.startsWith("[Jotwarden] "))
            lines << QString::fromUtf8(line.mid(12));
    return lines;
}

RunningCopy::RunningCopy(const QProcessEnvironment& environment, const QString& program)
{
    m_process.setProcessEnvironment(environment);
    m_process.setStandardErrorFile(QProcess::nullDevice());
    m_process.start(program, {});
    m_process.waitForStarted();
}

RunningCopy::~RunningCopy()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(10000))
        m_process.kill();
    m_process.waitForFinished();
}

bool RunningCopy::waitForLine(const QString& line, std::chrono::seconds timeout)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < std::chrono::milliseconds(timeout).count()) {
        if (logLines().contains(line))
            return true;
        if (m_process.state() == QProcess::NotRunning)
            return false;
        m_process.waitForReadyRead(100);
    }
    return logLines().contains(line);
}

int RunningCopy::waitForExit(std::chrono::seconds timeout)
{
    if (!m_process.waitForFinished(static_cast<int>(std::chrono::milliseconds(timeout).count())))
        return -1;
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

QStringList RunningCopy::logLines()
{
    m_stdout += m_process.readAllStandardOutput();
    return logLinesOf(m_stdout);
}

void RunningCopy::killHard()
{
    m_process.kill();
    m_process.waitForFinished();
}

} // namespace jw::test
