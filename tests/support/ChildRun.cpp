#include "tests/support/ChildRun.h"

#include <QCoreApplication>
#include <QProcess>

namespace jw::test {

namespace {
const char* const kChildMarker = "JW_TEST_CHILD";
} // namespace

bool inChild()
{
    return !qEnvironmentVariableIsEmpty(kChildMarker);
}

::testing::AssertionResult passesInChild(QProcessEnvironment env, const QStringList& wrapper)
{
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const QString filter =
        QString::fromUtf8(test->test_suite_name()) + QLatin1Char('.') + QString::fromUtf8(test->name());
    env.insert(QString::fromLatin1(kChildMarker), QStringLiteral("1"));
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    QStringList command = wrapper;
    command << QCoreApplication::applicationFilePath() << QStringLiteral("--gtest_filter=") + filter;
    child.start(command.first(), command.mid(1));
    if (!child.waitForFinished(240000)) {
        child.kill();
        child.waitForFinished();
        return ::testing::AssertionFailure() << "the child did not finish:\n" << child.readAll().toStdString();
    }
    const QByteArray output = child.readAll();
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0 || !output.contains("[  PASSED  ] 1 test"))
        return ::testing::AssertionFailure() << "the child's run failed:\n" << output.toStdString();
    return ::testing::AssertionSuccess();
}

} // namespace jw::test
