#include "tests/app/pipeline/PipelineFixture.h"

#include "app/github/KeychainHelper.h"
#include "app/models/WatchedDirectory.h"
#include "tests/support/KeyringTools.h"
#include "tests/support/PrivateSession.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

namespace jw::test {

namespace {

// Records every state shown, and hands it on to the real island when there is one.
class RecordingPresenter : public IslandPresenter
{
public:
    RecordingPresenter(QList<IslandState>* shown,
                       QList<SteadyClock::time_point>* at,
                       std::unique_ptr<DynamicIslandController> island)
        : m_shown(shown)
        , m_at(at)
        , m_island(std::move(island))
    {
    }
    void show(const IslandState& state) override
    {
        m_shown->append(state);
        m_at->append(SteadyClock::now());
        if (m_island)
            m_island->show(state);
    }
    bool isVisible() const override { return m_island && m_island->isVisible(); }

private:
    QList<IslandState>* m_shown;
    QList<SteadyClock::time_point>* m_at;
    std::unique_ptr<DynamicIslandController> m_island;
};

void git(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral("/usr/bin/git"), args);
    ASSERT_TRUE(p.waitForFinished(30000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
}

} // namespace

void PipelineFixture::SetUp()
{
    JW_REQUIRE_PRIVATE_SESSION();
    ASSERT_TRUE(m_home.isValid());
    qputenv("HOME", m_home.path().toUtf8());
    qputenv("XDG_DATA_HOME", (m_home.path() + QStringLiteral("/data")).toUtf8());
    if (m_storesToken) {
        KeychainHelper::setAccountForTesting(uniqueAccount(QStringLiteral("pipeline")));
        const auto saved = KeychainHelper::saveToken(kToken);
        ASSERT_TRUE(saved.ok()) << saved.error().description.toStdString();
    }
    ASSERT_TRUE(m_server.start());

    m_repo = m_home.path() + QStringLiteral("/work/demo");
    ASSERT_TRUE(QDir().mkpath(m_repo));
    git({QStringLiteral("init"), QStringLiteral("-q"), m_repo});
    git({QStringLiteral("-C"),
         m_repo,
         QStringLiteral("remote"),
         QStringLiteral("add"),
         QStringLiteral("origin"),
         QStringLiteral("git@github.com:octo/demo.git")});
    writeFile(QStringLiteral("main.c"), "int main(void) { return 0; }\n");
}

void PipelineFixture::TearDown()
{
    m_delegate.reset();
    KeychainHelper::setAccountForTesting(std::nullopt);
}

void PipelineFixture::launch(bool waitForToken)
{
    m_delegate = std::make_unique<AppDelegate>();
    m_delegate->setGitHubApiBaseUrl(m_server.baseUrl());
    m_delegate->setIslandFactory([this] {
        std::unique_ptr<DynamicIslandController> island;
        if (m_useRealIsland) {
            island = std::make_unique<DynamicIslandController>();
            m_island = island.get();
        }
        return std::make_unique<RecordingPresenter>(&m_shown, &m_shownAt, std::move(island));
    });
    auto* context = m_delegate->modelContainer()->mainContext();
    if (context->fetch<WatchedDirectory>().value().empty()) {
        context->insert(std::make_shared<WatchedDirectory>(m_repo + QLatin1Char('/'), true));
        ASSERT_TRUE(context->save().ok());
    }
    m_delegate->applicationDidFinishLaunching();
    if (!m_storesToken || !waitForToken)
        return;
    // The token comes from the keyring off the GUI thread, shortly after start-up.
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_delegate->appState()->githubToken().has_value(); }, 30000));
}

void PipelineFixture::writeFile(const QString& name, const QByteArray& bytes)
{
    QFile f(file(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

void PipelineFixture::appendToFile(const QString& name, const QByteArray& bytes)
{
    QFile f(file(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Append));
    f.write(bytes);
}

void PipelineFixture::replaceAtomically(const QString& name, const QByteArray& bytes)
{
    const QString temp = file(QStringLiteral(".") + name + QStringLiteral(".swp~"));
    {
        QFile f(temp);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    ASSERT_EQ(::rename(QFile::encodeName(temp).constData(), QFile::encodeName(file(name)).constData()), 0);
}

void PipelineFixture::sedInPlace(const QString& name, const QString& expression)
{
    QProcess p;
    p.start(QStringLiteral("sed"), {QStringLiteral("-i"), expression, file(name)});
    ASSERT_TRUE(p.waitForFinished(30000));
    ASSERT_EQ(p.exitCode(), 0);
}

QByteArray PipelineFixture::readFile(const QString& name) const
{
    QFile f(file(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

FakeResponse PipelineFixture::issueAnswer(qint64 number)
{
    return FakeResponse::json(201,
                              QStringLiteral(R"({"id": %1, "node_id": "I_node%1", "number": %1, "html_url": "%2",
                                                   "title": "t", "state": "open"})")
                                  .arg(number)
                                  .arg(issueUrl(number))
                                  .toUtf8());
}

QString PipelineFixture::issueUrl(qint64 number)
{
    return QStringLiteral("https://github.com/octo/demo/issues/%1").arg(number);
}

bool PipelineFixture::waitForStates(IslandState::Kind kind, int count, int timeoutMs)
{
    return QTest::qWaitFor(
        [&] {
            return std::count_if(m_shown.begin(), m_shown.end(), [&](const auto& s) { return s.kind == kind; })
                   >= count;
        },
        timeoutMs);
}

QList<IslandState::Kind> PipelineFixture::kinds() const
{
    QList<IslandState::Kind> out;
    for (const auto& s : m_shown)
        out << s.kind;
    return out;
}

int PipelineFixture::issueRequests() const
{
    int n = 0;
    for (const auto& r : m_server.requests())
        if (r.path.endsWith("/issues"))
            ++n;
    return n;
}

} // namespace jw::test
