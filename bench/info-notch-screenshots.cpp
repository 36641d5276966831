// Renders an info notch offscreen, expanded and compact, with a progress label at 60 % and with
// texts longer than its room, and writes PNG files next to this program
// (build/bench/screenshots/info-notch/).
#include "NotchDrawerKit/FrameAnimator.h"
#include "NotchDrawerKit/NotchContentView.h"
#include "NotchDrawerKit/NotchDrawer.h"
#include "NotchDrawerKit/NotchDrawerInfo.h"
#include "NotchDrawerKit/NotchDrawerPanel.h"
#include "bench/ScreenshotSupport.h"
#include "platform/screen/ScreenGeometry.h"

#include <QApplication>
#include <QCoroTask>
#include <QDir>
#include <QElapsedTimer>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>

#include <cstdio>
#include <functional>
#include <memory>

using namespace jw;
using namespace jw::bench;

namespace {

// Panel animations at rest and the ring's delayed sweep (0.1 s + 0.8 s) done.
void settle(NotchDrawer& d)
{
    spin([&] { return panelAtRest(d); });
    spin([] { return false; }, 1000);
}

void save(NotchDrawer& d, const QString& dir, const QString& name)
{
    if (!d.panel()) {
        std::printf("%s: no panel\n", qPrintable(name));
        return;
    }
    const QPixmap panel = d.panel()->grab();
    const QImage desktop = overDesktop(panel, d.menubarHeight());
    desktop.save(dir + QStringLiteral("/") + name + QStringLiteral(".png"));
    // The labels are small: the top strip again at three times the size, pixels kept sharp.
    const QRect strip((desktop.width() - 300) / 2, 0, 300, 110);
    desktop.copy(strip)
        .scaled(strip.size() * 3, Qt::IgnoreAspectRatio, Qt::FastTransformation)
        .save(dir + QStringLiteral("/") + name + QStringLiteral("-zoom.png"));
    std::printf("%s/%s.png\n", qPrintable(dir), qPrintable(name));
}

// 160 characters each, far wider than the row's room on an 800-point screen.
const QString kLongTitle = QStringLiteral(
    "Created issue #4242: move the watcher's cache out of the main thread, keep the parser's hashes stable "
    "across line endings, and stop filing old TODOs twice, ever");
const QString kLongDescription =
    QStringLiteral("tallowmere/jot-warden-with-a-very-long-repository-name-that-goes-on - added to the board Jotwarden "
                   "Roadmap, the column In progress, by the pipeline today at 12h");

std::unique_ptr<NotchDrawerInfo> make(NotchDrawerStyle style,
                                      const NotchDrawerInfo::Label::Binding& progress,
                                      const QString& title = QStringLiteral("Created issue #42"),
                                      const QString& description = QStringLiteral("tallowmere/jot-warden"))
{
    return std::make_unique<NotchDrawerInfo>(
        NotchDrawerInfo::Label(QStringLiteral("checkmark.circle.fill"), QColor(52, 199, 89)),
        title,
        description,
        std::nullopt,
        NotchDrawerInfo::Label(progress, std::nullopt),
        NotchDrawerHoverBehavior::hapticOnHover,
        style);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    const QString dir = outputDirectory(QStringLiteral("info-notch"));
    QScreen* screen = QGuiApplication::primaryScreen();
    const auto progress = NotchDrawerProgressBinding::make(0.6);

    ScreenGeometry::setOverride([](const QScreen*) { return std::optional(notchedScreen()); });
    {
        auto info = make(NotchDrawerStyle::standardNotch(), progress);
        NotchDrawer& d = *info->internalNotchDrawer();
        QCoro::waitFor(info->expand(screen));
        settle(d);
        save(d, dir, QStringLiteral("info-notch-expanded"));
        QCoro::waitFor(info->compact(screen));
        settle(d);
        save(d, dir, QStringLiteral("info-notch-compact"));
        // Midway through the icon's flight back to the expanded row.
        auto back = info->expand(screen);
        spin([] { return false; }, 120);
        save(d, dir, QStringLiteral("info-notch-expanding-120ms"));
        QCoro::waitFor(std::move(back));
        settle(d);
    }
    {
        // Its own leading label: a progress ring, and the texts in a caller's colour.
        auto info = std::make_unique<NotchDrawerInfo>(
            NotchDrawerInfo::Label(QStringLiteral("arrow.up.circle"), std::nullopt),
            QStringLiteral("Uploading"),
            std::nullopt,
            NotchDrawerInfo::Label(progress, QColor(10, 132, 255)),
            NotchDrawerInfo::Label(QStringLiteral("xmark.circle.fill"), QColor(255, 69, 58)),
            NotchDrawerHoverBehavior::hapticOnHover,
            NotchDrawerStyle::standardNotch());
        info->setTextColor(QColor(255, 214, 10));
        NotchDrawer& d = *info->internalNotchDrawer();
        QCoro::waitFor(info->expand(screen));
        settle(d);
        save(d, dir, QStringLiteral("info-notch-expanded-no-description"));
        QCoro::waitFor(info->compact(screen));
        settle(d);
        save(d, dir, QStringLiteral("info-notch-compact-own-leading"));
    }
    {
        auto info = make(NotchDrawerStyle::standardNotch(), progress, kLongTitle, kLongDescription);
        QCoro::waitFor(info->expand(screen));
        settle(*info->internalNotchDrawer());
        save(*info->internalNotchDrawer(), dir, QStringLiteral("info-notch-expanded-long-texts"));
    }

    ScreenGeometry::setOverride([](const QScreen*) { return std::optional(plainScreen()); });
    {
        auto info = make(NotchDrawerStyle::automatic(), progress);
        NotchDrawer& d = *info->internalNotchDrawer();
        QCoro::waitFor(info->expand(screen));
        settle(d);
        save(d, dir, QStringLiteral("info-floating-expanded"));
    }
    {
        auto info = make(NotchDrawerStyle::automatic(), progress, kLongTitle, kLongDescription);
        QCoro::waitFor(info->expand(screen));
        settle(*info->internalNotchDrawer());
        save(*info->internalNotchDrawer(), dir, QStringLiteral("info-floating-expanded-long-texts"));
    }
    return 0;
}
