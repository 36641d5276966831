#include "tests/support/ProgramRun.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>

namespace jw::test {

QString programPath()
{
    return QStringLiteral(JW_BINARY_DIR "/jotwarden");
}

ProgramRun::ProgramRun()
    : m_env(QProcessEnvironment::systemEnvironment())
{
    QDir().mkpath(dataHome());
    m_env.insert(QStringLiteral("HOME"), home());
    m_env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome());
    m_env.insert(QStringLiteral("XDG_CONFIG_HOME"), home() + QStringLiteral("/config"));
    m_env.insert(QStringLiteral("XDG_CACHE_HOME"), home() + QStringLiteral("/cache"));
    m_env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    m_env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                 QStringLiteral("unix:path=") + home() + QStringLiteral("/no-bus"));
    m_env.remove(QStringLiteral("WAYLAND_DISPLAY"));
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
    QStringList lines;
    for (const QByteArray& line : m_stdout.split('\n'))
        if (line.startsWith("[Jotwarden] "))
            lines << QString::fromUtf8(line.mid(12));
    return lines;
}

} // namespace jw::test
