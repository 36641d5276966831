// Renders the island in each of its states offscreen, inside the notch panel as the kit draws
// it, and writes one PNG per state next to this program (build/bench/screenshots/island/), for
// people to look at.
#include "NotchDrawerKit/FrameAnimator.h"
#include "NotchDrawerKit/NotchContentView.h"
#include "NotchDrawerKit/NotchDrawer.h"
#include "NotchDrawerKit/NotchDrawerPanel.h"
#include "app/IslandState.h"
#include "app/views/AnimatedIcon.h"
#include "app/views/DynamicIslandController.h"
#include "app/views/NotchExpandedView.h"
#include "app/views/NotchViewModel.h"
#include "bench/ScreenshotSupport.h"
#include "platform/http/HttpClient.h"
#include "platform/screen/ScreenGeometry.h"
#include "platform/symbols/Symbols.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QIcon>
#include <QLinearGradient>
#include <QPainter>
#include <QPointer>

#include <cstdio>
#include <functional>

using namespace jw;
using namespace jw::bench;

namespace {

bool settled(NotchDrawer* d)
{
    return d && d->panel() && d->state() == NotchDrawerState::expanded && panelAtRest(*d);
}

void save(NotchDrawer* d, const QString& dir, const QString& name)
{
    if (!d || !d->panel()) {
        std::printf("%s: no panel\n", qPrintable(name));
        return;
    }
    const QPixmap panel = d->panel()->grab();
    const QImage desktop = overDesktop(panel, d->menubarHeight());
    const QString path = dir + QLatin1Char('/') + name + QStringLiteral(".png");
    desktop.save(path);
    std::printf("%s\n", qPrintable(path));
}

void shoot(const QString& dir, const QString& name, const QList<IslandState>& states)
{
    DynamicIslandController controller;
    for (const IslandState& state : states)
        controller.show(state);
    QPointer<NotchDrawer> notch = controller.notch();
    spin([&] { return settled(notch); });
    // Let a turning or pulsing icon move a little, as it would on screen.
    spin([] { return false; }, 250);
    save(notch, dir, name);
}

// The confirmed island the moment its pulsing icon is at its largest.
void shootPulsePeak(const QString& dir, const IslandState& state)
{
    DynamicIslandController controller;
    controller.show(state);
    QPointer<NotchDrawer> notch = controller.notch();
    spin([&] { return settled(notch); });
    auto* row = notch ? qobject_cast<NotchExpandedView*>(notch->expandedContent()) : nullptr;
    if (!row) {
        std::printf("island-confirmed-pulse-peak: no row\n");
        return;
    }
    spin([&] { return row->icon()->inner()->presentedScale() > 1.145; }, 5000);
    save(notch, dir, QStringLiteral("island-confirmed-pulse-peak"));
    // The icon again at four times the size, pixels kept sharp.
    const QRect icon(row->icon()->mapTo(notch->panel(), QPoint()), row->icon()->size());
    const QString zoom = dir + QStringLiteral("/island-confirmed-pulse-peak-icon.png");
    notch->panel()->grab(icon.adjusted(-4, -4, 4, 4)).toImage().scaled(icon.size() * 4 + QSize(32, 32)).save(zoom);
    std::printf("%s\n", qPrintable(zoom));
}

// Every symbol at two sizes: our drawings on the first rows, the icon theme's (where it has
// one) on the last, each tinted white and blue on black. The last column is a name without a
// drawing: the placeholder.
void symbolSheet(const QString& dir)
{
    const QStringList names = Symbols::names() << QStringLiteral("no.such.symbol");
    const int cell = 40;
    QImage sheet(cell * int(names.size()), cell * 4, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(Qt::black);
    QPainter p(&sheet);
    for (int row = 0; row < 4; ++row) {
        Symbols::setThemeLookupEnabled(row >= 2);
        const QColor colour = row % 2 == 0 ? QColor(Qt::white) : QColor(0, 122, 255);
        const int side = row % 2 == 0 ? 30 : 12;
        for (int i = 0; i < names.size(); ++i)
            p.drawPixmap(i * cell + (cell - side) / 2,
                         row * cell + (cell - side) / 2,
                         Symbols::pixmap(names[i], QSize(side, side), colour));
    }
    p.end();
    Symbols::setThemeLookupEnabled(false);
    const QString path = dir + QStringLiteral("/symbols.png");
    sheet.save(path);
    std::printf("%s (theme: %s)\n", qPrintable(path), qPrintable(QIcon::themeName()));
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    const QString dir = outputDirectory(QStringLiteral("island"));
    // The icon theme whose symbols the sheet's last rows show, e.g. JW_ICON_THEME=Adwaita.
    if (!qEnvironmentVariableIsEmpty("JW_ICON_THEME")) {
        // The offscreen platform searches no system icon directories of its own.
        QIcon::setThemeSearchPaths(QIcon::themeSearchPaths() << QStringLiteral("/usr/share/icons"));
        QIcon::setThemeName(qEnvironmentVariable("JW_ICON_THEME"));
    }
    // The same drawings on every machine.
    Symbols::setThemeLookupEnabled(false);
    ScreenGeometry::setOverride([](const QScreen*) { return std::optional(notchedScreen()); });

    const QString title = QStringLiteral("Handle the empty config file");
    const QString issue = QStringLiteral("https://github.com/tallowmere/jot-warden/issues/42");
    const QString repo = QStringLiteral("tallowmere/jot-warden");
    const QString board = QStringLiteral("https://github.com/users/tallowmere/projects/3");

    shoot(dir, QStringLiteral("island-detecting"), {IslandState::detecting(title)});
    shoot(dir, QStringLiteral("island-creating"), {IslandState::creating(title)});
    shoot(dir,
          QStringLiteral("island-detecting-long-identifier"),
          {IslandState::detecting(QStringLiteral("Rename ")
                                  + QStringLiteral("parse_config_value_").repeated(16).left(300))});
    shoot(dir,
          QStringLiteral("island-confirmed"),
          {IslandState::confirmed(title, repo, 42, issue, std::nullopt, std::nullopt, false, false)});
    // The longest full name a repository can have: a 39-character owner, a 100-character name.
    shoot(dir,
          QStringLiteral("island-confirmed-long-repository"),
          {IslandState::confirmed(title,
                                  QStringLiteral("tallowmere").repeated(4).left(39) + QLatin1Char('/')
                                      + QStringLiteral("jot_warden_").repeated(10).left(100),
                                  42,
                                  issue,
                                  QStringLiteral("jot_warden_roadmap_").repeated(4),
                                  board,
                                  false,
                                  true)});
    shootPulsePeak(dir, IslandState::confirmed(title, repo, 42, issue, std::nullopt, std::nullopt, false, false));
    shoot(dir,
          QStringLiteral("island-confirmed-v2-board"),
          {IslandState::confirmed(title, repo, 42, issue, QStringLiteral("Jot Warden Roadmap"), board, false, true)});
    shoot(dir,
          QStringLiteral("island-confirmed-failed-board"),
          {IslandState::confirmed(title, repo, 42, issue, QStringLiteral("Jot Warden Roadmap"), board, true, true)});
    shoot(dir,
          QStringLiteral("island-error-long"),
          {IslandState::error(QStringLiteral("The server could not be reached because the connection was reset "
                                             "by the peer while the request body was still being sent; check "
                                             "the network and try again"))});
    shoot(dir,
          QStringLiteral("island-error-500"),
          {IslandState::error(HttpClient::statusFailureDescription(500, QByteArray()))});
    shoot(dir,
          QStringLiteral("island-error-401"),
          {IslandState::error(HttpClient::statusFailureDescription(401, QByteArray()))});
    symbolSheet(dir);
    return 0;
}
