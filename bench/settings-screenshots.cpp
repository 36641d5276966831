// Renders the settings panel offscreen in its main states and writes PNG files next to this
// program (build/bench/screenshots/settings/): empty; a saved token with three directories, one
// with a board, and seven recent issues; a picker menu open with two owners; a failed fetch;
// GitHub's longest owner and repository names; pickers showing short board names; the keyring's
// messages; a panel built under a light palette and then switched to a dark one.
#include "app/AppState.h"
#include "app/models/ProjectCache.h"
#include "app/models/Schema.h"
#include "app/models/WatchedDirectory.h"
#include "app/views/ProjectDropdownButton.h"
#include "app/views/SettingsView.h"
#include "bench/ScreenshotSupport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>
#include <memory>

using namespace jw;
using namespace jw::bench;

namespace {

struct Scene
{
    QTemporaryDir dir;
    std::unique_ptr<store::ModelContainer> container;
    AppState state;
    std::unique_ptr<SettingsView> view;

    explicit Scene(const QUrl& apiBaseUrl = GitHubClient::kDefaultBaseUrl)
    {
        store::ModelConfiguration config = jotwardenConfiguration();
        config.filePath = dir.filePath(QStringLiteral("Jotwarden.store"));
        container = std::move(store::ModelContainer::open(jotwardenSchema(), config).value());
        apiBase = apiBaseUrl;
    }
    store::ModelContext* context() const { return container->mainContext(); }
    void open()
    {
        view = std::make_unique<SettingsView>(&state, context(), apiBase);
        view->setFixedSize(480, 440);
        view->show();
        spin([] { return false; }, 300);
    }
    QUrl apiBase;
};

std::shared_ptr<WatchedDirectory> addDirectory(store::ModelContext* context, const QString& path, int minutesAgo)
{
    auto d = std::make_shared<WatchedDirectory>(path, true);
    d->setValues({path, true, QDateTime::currentDateTimeUtc().addSecs(-60 * minutesAgo), QVariant()});
    context->insert(d);
    return d;
}

void addBoard(store::ModelContext* context, const QString& id, const QString& name, const QString& owner, bool isV2)
{
    context->insert(std::make_shared<ProjectCache>(id,
                                                   name,
                                                   owner,
                                                   isV2,
                                                   QStringLiteral("https://github.com/orgs/x/projects/1"),
                                                   QDateTime::currentDateTimeUtc()));
}

void save(const QImage& image, const QString& dir, const QString& name)
{
    const QString path = dir + QLatin1Char('/') + name + QStringLiteral(".png");
    image.save(path);
    std::printf("%s\n", qPrintable(path));
}

QImage withMenu(QWidget* view, QMenu* menu)
{
    QImage panel = view->grab().toImage();
    const QPoint at = menu->pos() - view->mapToGlobal(QPoint());
    const QRect bounds = QRect(QPoint(), panel.size()).united(QRect(at, menu->size()));
    QImage out(bounds.size(), QImage::Format_ARGB32_Premultiplied);
    out.fill(QColor(60, 60, 70));
    QPainter p(&out);
    p.drawImage(-bounds.topLeft(), panel);
    p.drawPixmap(at - bounds.topLeft(), menu->grab());
    return out;
}

bool gitTree(const QString& path)
{
    QDir().mkpath(path);
    for (const QStringList& args : {QStringList{QStringLiteral("init"), QStringLiteral("-q")},
                                    QStringList{QStringLiteral("remote"),
                                                QStringLiteral("add"),
                                                QStringLiteral("origin"),
                                                QStringLiteral("https://github.com/octo/demo.git")}}) {
        QProcess git;
        git.start(QStringLiteral("/usr/bin/git"), QStringList{QStringLiteral("-C"), path} + args);
        if (!git.waitForFinished(30000) || git.exitCode() != 0)
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString out = outputDirectory(QStringLiteral("settings"));
    const QString home = QDir::homePath();

    {
        Scene s;
        s.open();
        save(s.view->grab().toImage(), out, QStringLiteral("1-empty"));
    }

    {
        Scene s;
        s.state.setGithubToken(QStringLiteral("ghp_not_a_real_token"));
        addBoard(s.context(), QStringLiteral("PVT_1"), QStringLiteral("Roadmap"), QStringLiteral("octo"), true);
        addBoard(s.context(), QStringLiteral("PVT_2"), QStringLiteral("Bugs"), QStringLiteral("octo"), true);
        addBoard(s.context(),
                 QStringLiteral("PVT_3"),
                 QStringLiteral("Classic board"),
                 QStringLiteral("Octo-Org"),
                 false);
        addDirectory(s.context(), home + QStringLiteral("/code/jotwarden/"), 30);
        auto chosen = addDirectory(s.context(), home + QStringLiteral("/code/website/"), 20);
        chosen->setSelectedProjectNodeId(QStringLiteral("PVT_1"));
        addDirectory(s.context(),
                     QStringLiteral("/srv/projects/a-rather-long-organisation-name/with-a-deeply-nested/service-api/"),
                     10);
        (void)s.context()->save();
        const QDateTime now = QDateTime::currentDateTime();
        const int minutesAgo[] = {60 * 24 * 9, 60 * 24 * 3, 60 * 30, 60 * 5, 45, 12, 2};
        for (int i = 0; i < 7; ++i)
            s.state.addRecentIssue(
                CreatedIssue(QStringLiteral("todo %1").arg(i),
                             40 + i,
                             i % 2 ? QStringLiteral("octo/website") : QStringLiteral("octo/jotwarden"),
                             QStringLiteral("https://github.com/octo/x/issues/%1").arg(40 + i),
                             now.addSecs(-60 * minutesAgo[i])));
        s.open();
        save(s.view->grab().toImage(), out, QStringLiteral("2-token-directories-recent"));

        ProjectDropdownButton* picker = s.view->projectPickers().value(1);
        if (picker) {
            QMenu* menu = picker->menu();
            menu->popup(picker->mapToGlobal(QPoint(0, picker->height() + 2)));
            spin([&] { return menu->isVisible(); });
            spin([] { return false; }, 200);
            save(withMenu(s.view.get(), menu), out, QStringLiteral("3-picker-menu"));
            menu->hide();
        }
    }

    {
        // Nothing listens on port 1: the fetch fails at once with the network layer's text.
        Scene s(QUrl(QStringLiteral("http://127.0.0.1:1")));
        s.state.setGithubToken(QStringLiteral("ghp_not_a_real_token"));
        const QString repo = s.dir.filePath(QStringLiteral("repo"));
        if (!gitTree(repo))
            std::printf("git failed\n");
        addDirectory(s.context(), repo + QLatin1Char('/'), 1);
        (void)s.context()->save();
        s.open();
        ProjectDropdownButton* picker = s.view->projectPickers().value(0);
        if (picker) {
            spin([&] { return picker->fetchError().has_value(); }, 10000);
            QMenu* menu = picker->menu();
            menu->popup(picker->mapToGlobal(QPoint(0, picker->height() + 2)));
            spin([&] { return menu->isVisible(); });
            spin([] { return false; }, 200);
            save(withMenu(s.view.get(), menu), out, QStringLiteral("4-fetch-error"));
        }
    }
    {
        // A 39-character owner and a 100-character repository, and a board with a long title.
        Scene s;
        s.state.setGithubToken(QStringLiteral("ghp_not_a_real_token"));
        const QString owner = QStringLiteral("an-organisation-with-the-longest-login");
        const QString repo =
            owner + QStringLiteral("/a-repository-whose-name-goes-on-and-on-") + QString(62, QLatin1Char('x'));
        addBoard(s.context(),
                 QStringLiteral("PVT_1"),
                 QStringLiteral("Platform engineering roadmap for the second half of the year"),
                 owner,
                 true);
        addDirectory(s.context(), home + QStringLiteral("/code/long/"), 10)
            ->setSelectedProjectNodeId(QStringLiteral("PVT_1"));
        addDirectory(s.context(), home + QStringLiteral("/code/other/"), 5);
        (void)s.context()->save();
        const QDateTime now = QDateTime::currentDateTime();
        for (int i = 0; i < 3; ++i)
            s.state.addRecentIssue(
                CreatedIssue(QStringLiteral("todo %1").arg(i),
                             1200 + i,
                             repo,
                             QStringLiteral("https://github.com/%1/issues/%2").arg(repo).arg(1200 + i),
                             now.addSecs(-60 * (30 - 10 * i))));
        std::printf("repository name: %lld characters\n", static_cast<long long>(repo.size()));
        s.open();
        save(s.view->grab().toImage(), out, QStringLiteral("5-long-repository-name"));
    }

    {
        // Short board names, each shown whole on its picker.
        Scene s;
        s.state.setGithubToken(QStringLiteral("ghp_not_a_real_token"));
        const QStringList boards = {QStringLiteral("Bugs"),
                                    QStringLiteral("Triage"),
                                    QStringLiteral("Docs"),
                                    QStringLiteral("Ideas"),
                                    QStringLiteral("Ops")};
        for (int i = 0; i < boards.size(); ++i) {
            const QString id = QStringLiteral("PVT_%1").arg(i);
            addBoard(s.context(), id, boards[i], QStringLiteral("octo"), i % 2 == 0);
            addDirectory(s.context(), home + QStringLiteral("/code/") + boards[i].toLower() + QLatin1Char('/'), 10 - i)
                ->setSelectedProjectNodeId(id);
        }
        (void)s.context()->save();
        s.open();
        save(s.view->grab().toImage(), out, QStringLiteral("6-short-board-names"));
    }

    // The keyring's messages under the token field: none running (the typed token stays for a
    // retry), and locked with its unlock prompt up.
    for (const auto& [state, name] : {std::pair{KeyringState::notRunning, QStringLiteral("7-no-keyring")},
                                      std::pair{KeyringState::waitingForUnlock, QStringLiteral("8-keyring-locked")}}) {
        Scene s;
        s.state.setKeyringState(state);
        s.open();
        if (auto* field = s.view->findChild<QLineEdit*>(QStringLiteral("tokenField"));
            field && state == KeyringState::notRunning)
            field->setText(QStringLiteral("ghp_typed_but_not_saved"));
        spin([] { return false; }, 100);
        save(s.view->grab().toImage(), out, name);
    }

    {
        // Built light, then the desktop turns dark: the texts must read as on a panel built dark.
        const QPalette before = QApplication::palette();
        QApplication::setPalette(QPalette(QColor(0xef, 0xef, 0xef)));
        Scene s;
        s.state.setGithubToken(QStringLiteral("ghp_not_a_real_token"));
        addBoard(s.context(), QStringLiteral("PVT_1"), QStringLiteral("Roadmap"), QStringLiteral("octo"), true);
        addDirectory(s.context(), home + QStringLiteral("/code/jotwarden/"), 30);
        addDirectory(s.context(), home + QStringLiteral("/code/website/"), 20)
            ->setSelectedProjectNodeId(QStringLiteral("PVT_1"));
        (void)s.context()->save();
        const QDateTime now = QDateTime::currentDateTime();
        for (int i = 0; i < 3; ++i)
            s.state.addRecentIssue(
                CreatedIssue(QStringLiteral("todo %1").arg(i),
                             10 + i,
                             QStringLiteral("octo/jotwarden"),
                             QStringLiteral("https://github.com/octo/jotwarden/issues/%1").arg(10 + i),
                             now.addSecs(-60 * (30 - 10 * i))));
        s.open();
        QApplication::setPalette(QPalette(QColor(0x2d, 0x2d, 0x2d)));
        spin([] { return false; }, 200);
        save(s.view->grab().toImage(), out, QStringLiteral("9-light-then-dark"));
        s.view.reset();
        QApplication::setPalette(before);
    }
    return 0;
}
