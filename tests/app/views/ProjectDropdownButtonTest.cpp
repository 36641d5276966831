#include "app/views/ProjectDropdownButton.h"

#include "app/github/RepoInfo.h"
#include "tests/app/views/ViewTestSupport.h"
#include "tests/support/AwaitTask.h"
#include "tests/support/FakeGitHubServer.h"
#include "tests/support/LogCapture.h"

#include <QImage>
#include <QMenu>
#include <QPointer>
#include <QTest>

#include <gtest/gtest.h>

namespace jw {
namespace {

using test::FakeGitHubServer;
using test::FakeResponse;

constexpr int kWaitMs = 15000;
const QString kToken = QStringLiteral("ghp_picker");

std::shared_ptr<ProjectCache> board(const QString& id, const QString& name, const QString& owner, bool isV2 = true)
{
    return std::make_shared<ProjectCache>(id,
                                          name,
                                          owner,
                                          isV2,
                                          QStringLiteral("https://github.com/x/") + id,
                                          QDateTime::currentDateTimeUtc());
}

// Whether the item carries the trailing check mark.
bool isMarked(const QAction* a)
{
    return a->text().endsWith(QStringLiteral("\t\u2713"));
}

QString plainText(const QAction* a)
{
    return isMarked(a) ? a->text().chopped(2) : a->text();
}

QAction* menuItem(QMenu* menu, const QString& text)
{
    for (QAction* a : menu->actions())
        if (plainText(a) == text)
            return a;
    return nullptr;
}

QStringList menuTexts(QMenu* menu)
{
    QStringList out;
    for (QAction* a : menu->actions())
        out << (a->isSeparator() ? QStringLiteral("--") : plainText(a));
    return out;
}

class PickerTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(server.start()); }

    // A directory record for `path` (a slash is added), stored.
    std::shared_ptr<WatchedDirectory> directory(const QString& path)
    {
        auto record = std::make_shared<WatchedDirectory>(path + QLatin1Char('/'), true);
        env.context()->insert(record);
        EXPECT_TRUE(env.context()->save().ok());
        return record;
    }

    std::shared_ptr<WatchedDirectory> githubTree(const QString& name, const QString& owner = QStringLiteral("octo"))
    {
        const QString path = tree.filePath(name);
        EXPECT_TRUE(test::makeGitTree(path, QStringLiteral("https://github.com/%1/demo.git").arg(owner)));
        return directory(path);
    }

    ProjectList stored() { return env.context()->fetch<ProjectCache>().value(); }

    std::unique_ptr<ProjectDropdownButton>
    picker(std::shared_ptr<WatchedDirectory> dir, ProjectList cached, std::optional<QString> token)
    {
        return std::make_unique<ProjectDropdownButton>(std::move(dir),
                                                       std::move(cached),
                                                       std::move(token),
                                                       env.context(),
                                                       server.baseUrl());
    }

    test::StoreAndState env;
    QTemporaryDir tree;
    FakeGitHubServer server;
    test::LogCapture logs;
};

TEST(ProjectGrouping, OwnersAndBoardsFollowCodePointOrder)
{
    const ProjectList projects{
        board("1", "roadmap", "zeta"),
        board("2", "Roadmap", "zeta"),
        board("3", "Bugs", "zeta"),
        board("4", "b", "alpha"),
        board("5", "a", "Zed"),
        board("6", "a", "Alpha"),
        // U+FFFD is below U+1F600 as a scalar, though above its UTF-16 lead surrogate.
        board("7", "a", QString::fromUtf8("\xF0\x9F\x98\x80")),
        board("8", "a", QString(QChar(0xFFFD))),
        // A decomposed "é" groups and sorts as the composed one.
        board("9", "x", QStringLiteral("e\u0301")),
        board("10", "w", QStringLiteral("\u00e9")),
    };
    QStringList owners;
    for (const auto& [owner, boards] : ProjectDropdownButton::groupProjects(projects))
        owners << owner;
    EXPECT_EQ(owners,
              (QStringList{QStringLiteral("Alpha"),
                           QStringLiteral("Zed"),
                           QStringLiteral("alpha"),
                           QStringLiteral("zeta"),
                           QStringLiteral("e\u0301"),
                           QString(QChar(0xFFFD)),
                           QString::fromUtf8("\xF0\x9F\x98\x80")}));
    const auto groups = ProjectDropdownButton::groupProjects(projects);
    QStringList zeta;
    for (const auto& b : groups[3].second)
        zeta << b->displayName();
    EXPECT_EQ(zeta, (QStringList{QStringLiteral("Bugs"), QStringLiteral("Roadmap"), QStringLiteral("roadmap")}));
}

TEST_F(PickerTest, WithoutCacheOrTokenTheMenuHoldsOnlyADisabledRefreshAndNothingIsFetched)
{
    auto p = picker(githubTree(QStringLiteral("repo")), {}, std::nullopt);
    p->show();
    EXPECT_EQ(p->faceText(), QStringLiteral("Project"));
    EXPECT_EQ(p->faceSymbolName(), QStringLiteral("folder.badge.plus"));
    EXPECT_EQ(menuTexts(p->menu()), QStringList{QStringLiteral("Refresh Projects")});
    EXPECT_FALSE(p->menu()->actions()[0]->isEnabled());
    p->refreshButtonAction();
    // Started tasks run on the next turn of the event loop and mark the fetch before sending.
    QCoreApplication::processEvents();
    EXPECT_FALSE(p->isFetching());
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_FALSE(p->fetchError().has_value());
}

TEST_F(PickerTest, ComingIntoViewWithAnEmptyCacheFetchesAndShowsFetchingUntilTheAnswer)
{
    server.enqueue("/graphql",
                   FakeResponse::json(200, R"({"data":{"organization":null,"user":{"projectsV2":{"nodes":[
        {"id":"PVT_b","title":"Bugs","url":"https://github.com/users/octo/projects/2"}]}}}})")
                       .after(std::chrono::milliseconds(800)));
    auto p = picker(githubTree(QStringLiteral("repo")), {}, kToken);
    p->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return p->isFetching(); }, kWaitMs));
    QMenu* menu = p->menu();
    EXPECT_EQ(menu->actions()[0]->text(), QStringLiteral("Fetching\u2026"));
    EXPECT_FALSE(menu->actions()[0]->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !p->isFetching(); }, kWaitMs));
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests()[0].json()[QStringLiteral("variables")].toObject()[QStringLiteral("owner")].toString(),
              QStringLiteral("octo"));
    const auto boards = stored();
    ASSERT_EQ(boards.size(), 1u);
    EXPECT_EQ(boards[0]->projectNodeId(), QStringLiteral("PVT_b"));
    EXPECT_FALSE(env.context()->hasChanges());
    EXPECT_EQ(p->menu()->actions()[0]->text(), QStringLiteral("Refresh Projects"));
    EXPECT_TRUE(p->menu()->actions()[0]->isEnabled());
}

TEST_F(PickerTest, ANonEmptyCacheFetchesNothingOnAppearing)
{
    auto p = picker(githubTree(QStringLiteral("repo")), {board("PVT_1", "Roadmap", "octo")}, kToken);
    p->show();
    QCoreApplication::processEvents();
    EXPECT_FALSE(p->isFetching());
    EXPECT_TRUE(server.requests().isEmpty());
}

class NoRemoteTest : public PickerTest, public ::testing::WithParamInterface<const char*>
{};

TEST_P(NoRemoteTest, SaysTheRemoteCannotBeResolvedAndSendsNothing)
{
    const QString kind = QString::fromLatin1(GetParam());
    std::shared_ptr<WatchedDirectory> dir;
    if (kind == QLatin1String("no-work-tree")) {
        QDir().mkpath(tree.filePath(QStringLiteral("plain")));
        dir = directory(tree.filePath(QStringLiteral("plain")));
    } else {
        const QString path = tree.filePath(QStringLiteral("other"));
        ASSERT_TRUE(test::makeGitTree(
            path,
            kind == QLatin1String("gitlab") ? QStringLiteral("https://gitlab.com/octo/demo.git") : QString()));
        dir = directory(path);
    }
    auto p = picker(dir, {}, kToken);
    p->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return p->fetchError().has_value(); }, kWaitMs));
    EXPECT_EQ(*p->fetchError(), QStringLiteral("Could not resolve git remote"));
    EXPECT_FALSE(p->isFetching());
    EXPECT_EQ(menuTexts(p->menu()),
              (QStringList{QStringLiteral("Refresh Projects"), QStringLiteral("\u26A0 Could not resolve git remote")}));
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_TRUE(logs.lines().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Kinds,
                         NoRemoteTest,
                         ::testing::Values("no-work-tree", "gitlab", "no-origin"),
                         [](const auto& param) {
                             std::string name = param.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

TEST_F(PickerTest, AFailedFetchShowsItsTextAndLogsTheErrorValue)
{
    // The same answer twice: once to learn the client's error, once for the picker.
    const auto answer = FakeResponse::json(502, R"({"message":"bad gateway"})");
    server.enqueue(answer);
    server.enqueue(answer);
    GitHubProjectsClient client(server.baseUrl());
    auto expected = test::awaitTask(client.fetchOwnerProjects(QStringLiteral("octo"), kToken));
    ASSERT_TRUE(expected.has_value());
    ASSERT_FALSE(expected->ok());
    const Error error = expected->error();
    logs.clear();

    auto p = picker(githubTree(QStringLiteral("repo")), {board("PVT_1", "Roadmap", "octo")}, kToken);
    p->show();
    p->refreshButtonAction();
    ASSERT_TRUE(QTest::qWaitFor([&] { return p->fetchError().has_value() && !p->isFetching(); }, kWaitMs));
    EXPECT_EQ(*p->fetchError(), error.description);
    EXPECT_EQ(logs.lines(), QStringList{QStringLiteral("Failed to fetch projects: ") + error.textualForm});
    EXPECT_EQ(menuTexts(p->menu()).value(1), QStringLiteral("\u26A0 ") + error.description);

    // The next refresh clears the error.
    p->refreshButtonAction();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !p->fetchError().has_value() && !p->isFetching(); }, kWaitMs));
}

TEST_F(PickerTest, ARefreshInsertsOnlyNewBoardsAndChangesNoOldOne)
{
    auto old = board("PVT_kwHOAA1", "Old name", "octo");
    env.context()->insert(old);
    ASSERT_TRUE(env.context()->save().ok());
    // The fake server's default answer lists PVT_kwHOAA1 "Roadmap" and PVT_kwHOAA2 "Bugs".
    auto p = picker(githubTree(QStringLiteral("repo")), stored(), kToken);
    p->refreshButtonAction();
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.requests().size() == 1 && !p->isFetching(); }, kWaitMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return stored().size() == 2; }, kWaitMs));
    for (const auto& b : stored()) {
        if (b->projectNodeId() == QLatin1String("PVT_kwHOAA1"))
            EXPECT_EQ(b->displayName(), QStringLiteral("Old name"));
        else
            EXPECT_EQ(b->displayName(), QStringLiteral("Bugs"));
    }
}

TEST_F(PickerTest, AStoredIdThatMatchesNoBoardLooksUnselected)
{
    auto dir = githubTree(QStringLiteral("repo"));
    dir->setSelectedProjectNodeId(QStringLiteral("PVT_gone"));
    auto p = picker(dir, {board("PVT_1", "Roadmap", "octo")}, kToken);
    EXPECT_EQ(p->selectedProject(), nullptr);
    EXPECT_EQ(p->faceText(), QStringLiteral("Project"));
    EXPECT_EQ(p->faceSymbolName(), QStringLiteral("folder.badge.plus"));
    for (QAction* a : p->menu()->actions())
        EXPECT_FALSE(isMarked(a)) << a->text().toStdString();
}

TEST_F(PickerTest, TheMenuListsEveryOwnerAndChoosingAndClearingAreStored)
{
    auto dir = githubTree(QStringLiteral("repo"));
    const ProjectList cached{board("PVT_r", "roadmap", "octo"),
                             board("PVT_c", "Classic", "Octo-Org", false),
                             board("PVT_R", "Roadmap", "octo")};
    auto p = picker(dir, cached, kToken);
    QMenu* menu = p->menu();
    EXPECT_EQ(menuTexts(menu),
              (QStringList{"Refresh Projects",
                           "--",
                           "No project",
                           "--",
                           "Octo-Org",
                           "Classic",
                           "octo",
                           "Roadmap",
                           "roadmap"}));
    EXPECT_TRUE(isMarked(menuItem(menu, QStringLiteral("No project"))));

    menuItem(menu, QStringLiteral("Classic"))->trigger();
    EXPECT_EQ(dir->selectedProjectNodeId(), QStringLiteral("PVT_c"));
    EXPECT_FALSE(env.context()->hasChanges());
    EXPECT_EQ(p->faceText(), QStringLiteral("Classic"));
    EXPECT_EQ(p->faceSymbolName(), QStringLiteral("folder.badge.checkmark"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !isMarked(menuItem(p->menu(), QStringLiteral("No project"))); }, kWaitMs));
    EXPECT_TRUE(isMarked(menuItem(p->menu(), QStringLiteral("Classic"))));
    EXPECT_FALSE(isMarked(menuItem(p->menu(), QStringLiteral("Roadmap"))));

    menuItem(p->menu(), QStringLiteral("Roadmap"))->trigger();
    EXPECT_EQ(p->faceSymbolName(), QStringLiteral("sparkles"));

    menuItem(p->menu(), QStringLiteral("No project"))->trigger();
    EXPECT_FALSE(dir->selectedProjectNodeId().has_value());
    EXPECT_FALSE(env.context()->hasChanges());
    EXPECT_EQ(p->faceText(), QStringLiteral("Project"));
}

TEST_F(PickerTest, NamesWithAmpersandsAreShownVerbatim)
{
    auto p = picker(githubTree(QStringLiteral("repo")), {board("PVT_1", "R&D", "a&b")}, kToken);
    QStringList texts;
    for (QAction* a : p->menu()->actions())
        texts << a->iconText();
    EXPECT_TRUE(texts.contains(QStringLiteral("R&D"))) << texts.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(texts.contains(QStringLiteral("a&b")));
}

} // namespace
} // namespace jw

namespace jw {
namespace {

// How far a pixel leans to blue over red.
int blueness(const QImage& image, QPoint at)
{
    const QColor c = image.pixelColor(at);
    return c.blue() - c.red();
}

// The menu as it is drawn on screen.
QImage drawnMenu(QMenu* menu)
{
    menu->popup(QPoint(0, 0));
    EXPECT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }, kWaitMs));
    const QImage image = menu->grab().toImage().convertToFormat(QImage::Format_RGB32);
    menu->hide();
    return image;
}

TEST_F(PickerTest, TheErrorLineReadsAsAnErrorAndOwnerHeadersAreLegible)
{
    auto p = picker(githubTree(QStringLiteral("repo")), {board("PVT_1", "Roadmap", "octo")}, kToken);
    server.enqueue(FakeResponse::json(502, R"({"message":"bad gateway"})"));
    p->refreshButtonAction();
    ASSERT_TRUE(QTest::qWaitFor([&] { return p->fetchError().has_value() && !p->isFetching(); }, kWaitMs));
    QMenu* menu = p->menu();
    const QImage image = drawnMenu(menu);

    QAction* error = menu->findChild<QAction*>(QStringLiteral("fetchError"));
    ASSERT_NE(error, nullptr);
    const test::DrawnText errorText = test::drawnText(image, menu->actionGeometry(error));
    EXPECT_GE(errorText.contrast(), 4.5);
    EXPECT_GT(errorText.ink.red(), errorText.ink.green() + 60) << "red, as errors are";
    EXPECT_GT(errorText.ink.red(), errorText.ink.blue() + 60);

    QAction* owner = menu->findChild<QAction*>(QStringLiteral("ownerSection"));
    ASSERT_NE(owner, nullptr);
    EXPECT_GE(test::drawnText(image, menu->actionGeometry(owner)).contrast(), 4.5);
    // The texts are there for whoever reads the actions.
    EXPECT_EQ(owner->text(), QStringLiteral("octo"));
    EXPECT_TRUE(error->text().startsWith(QStringLiteral("\u26A0 ")));
}

// An open menu keeps its items while the store changes beneath it, so the item under the pointer
// stays; the refresh item follows the fetch in place, and the next opening shows the new boards.
TEST_F(PickerTest, AnOpenMenuIsNotRebuiltUnderThePointer)
{
    env.context()->insert(board("PVT_1", "Roadmap", "octo"));
    ASSERT_TRUE(env.context()->save().ok());
    auto p = picker(githubTree(QStringLiteral("repo")), stored(), kToken);
    server.enqueue("/graphql",
                   FakeResponse::json(200, R"({"data":{"organization":null,"user":{"projectsV2":{"nodes":[
        {"id":"PVT_2","title":"Bugs","url":"https://github.com/users/octo/projects/2"}]}}}})")
                       .after(std::chrono::milliseconds(500)));
    p->refreshButtonAction();
    ASSERT_TRUE(QTest::qWaitFor([&] { return p->isFetching(); }, kWaitMs));
    QMenu* menu = p->menu();
    menu->popup(QPoint(0, 0));
    ASSERT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }, kWaitMs));
    const QList<QAction*> items = menu->actions();
    QPointer<QAction> underPointer = menuItem(menu, QStringLiteral("Roadmap"));
    ASSERT_TRUE(underPointer);
    EXPECT_EQ(items[0]->text(), QStringLiteral("Fetching\u2026"));

    // The answer lands in the store, which hands the picker its new list.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !p->isFetching() && stored().size() == 2; }, kWaitMs));
    p->setCachedProjects(stored());
    p->setToken(kToken);
    ASSERT_TRUE(underPointer);
    ASSERT_EQ(menu->actions(), items);
    EXPECT_EQ(items[0]->text(), QStringLiteral("Refresh Projects"));
    EXPECT_TRUE(items[0]->isEnabled());

    menu->hide();
    menu->popup(QPoint(0, 0));
    ASSERT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }, kWaitMs));
    EXPECT_NE(menuItem(menu, QStringLiteral("Bugs")), nullptr);
    menu->hide();
}

TEST_F(PickerTest, TheCapsuleIsBluerWhenABoardIsChosen)
{
    auto dir = directory(tree.path());
    auto p = picker(dir, {board("PVT_1", "Roadmap", "octo")}, std::nullopt);
    p->resize(p->sizeHint());
    const QImage plain = p->grab().toImage();
    dir->setSelectedProjectNodeId(QStringLiteral("PVT_1"));
    p->resize(p->sizeHint());
    const QImage chosen = p->grab().toImage();
    // Inside the capsule, right of the text.
    const QPoint plainInside(plain.width() - 4, plain.height() / 2);
    const QPoint chosenInside(chosen.width() - 4, chosen.height() / 2);
    EXPECT_GT(blueness(plain, plainInside), 0);
    EXPECT_GT(blueness(chosen, chosenInside), blueness(plain, plainInside) + 5);
    // The face keeps its ideal size: padding around the symbol and the name.
    EXPECT_GT(p->sizeHint().width(), QFontMetrics(p->font()).horizontalAdvance(QStringLiteral("Road")));
    EXPECT_EQ(p->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
}

} // namespace
} // namespace jw

namespace jw {
namespace {

// Board names people give their boards; each must show whole on the face at its ideal size.
const char* const kCommonBoardNames[] = {
    "Bugs",  "Triage",  "Roadmap", "Backlog", "Sprint", "Kanban", "Features", "Support",  "Release", "Planning",
    "Ideas", "Website", "Docs",    "Design",  "Tasks",  "Todo",   "Issues",   "Q3 Goals", "v2.0",    "Ops",
};

TEST_F(PickerTest, TheFaceShowsCommonBoardNamesWhole)
{
    auto dir = directory(tree.path());
    dir->setSelectedProjectNodeId(QStringLiteral("PVT_1"));
    QStringList cut;
    for (const char* name : kCommonBoardNames) {
        auto p = picker(dir, {board("PVT_1", QString::fromUtf8(name), "octo")}, std::nullopt);
        const QSize ideal = p->sizeHint();
        p->resize(ideal);
        const QImage atIdeal = p->grab().toImage().convertToFormat(QImage::Format_ARGB32);
        // With room to spare nothing can be cut: the face's text must look the same.
        p->resize(ideal + QSize(60, 0));
        const QImage roomy = p->grab().toImage().convertToFormat(QImage::Format_ARGB32);
        // Between the border lines and left of the trailing padding, where the rounded end
        // does not reach: only the text can differ there.
        const int end = ideal.width() - 7;
        bool same = true;
        for (int y = 2; y < ideal.height() - 2 && same; ++y)
            for (int x = 0; x < end && same; ++x)
                same = atIdeal.pixel(x, y) == roomy.pixel(x, y);
        if (!same)
            cut << QString::fromUtf8(name);
    }
    EXPECT_TRUE(cut.isEmpty()) << cut.join(QStringLiteral(", ")).toStdString();
}

} // namespace
} // namespace jw
