// Renders a notch object offscreen in each state and style with sample contents and writes
// PNG files next to this program (build/bench/screenshots/notch/), for people to look at.
#include "NotchDrawerKit/FrameAnimator.h"
#include "NotchDrawerKit/NotchContentView.h"
#include "NotchDrawerKit/NotchDrawer.h"
#include "NotchDrawerKit/NotchDrawerPanel.h"
#include "bench/ScreenshotSupport.h"
#include "platform/screen/ScreenGeometry.h"

#include <QApplication>
#include <QCoroTask>
#include <QDir>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>
#include <functional>

using namespace jw;
using namespace jw::bench;

namespace {

QWidget* expandedRow()
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    auto* icon = new QLabel(QStringLiteral("●"));
    icon->setStyleSheet(QStringLiteral("color: rgb(52, 199, 89); font-size: 26px;"));
    layout->addWidget(icon);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto* title = new QLabel(QStringLiteral("Pushed #42"));
    title->setStyleSheet(QStringLiteral("font-weight: bold; font-size: 14px;"));
    auto* subtitle = new QLabel(QStringLiteral("tallowmere/jot-warden"));
    subtitle->setStyleSheet(QStringLiteral("font-size: 12px;"));
    texts->addWidget(title);
    texts->addWidget(subtitle);
    layout->addLayout(texts);
    layout->addStretch();
    row->setFixedSize(300, 40);
    return row;
}

QWidget* side(const QString& text, const QString& colour)
{
    auto* l = new QLabel(text);
    l->setStyleSheet(QStringLiteral("font-size: 13px; font-weight: bold; color: %1;").arg(colour));
    return l;
}

void settle(NotchDrawer& d)
{
    spin([&] { return panelAtRest(d); });
}

void save(NotchDrawer& d, const QString& dir, const QString& name)
{
    if (!d.panel()) {
        std::printf("%s: no panel\n", qPrintable(name));
        return;
    }
    const QPixmap panel = d.panel()->grab();
    panel.save(dir + QStringLiteral("/") + name + QStringLiteral("-raw.png"));
    overDesktop(panel, d.menubarHeight()).save(dir + QStringLiteral("/") + name + QStringLiteral(".png"));
    std::printf("%s/%s.png\n", qPrintable(dir), qPrintable(name));
}

std::unique_ptr<NotchDrawer> make(NotchDrawerStyle style,
                                  NotchDrawerHoverBehavior behavior = NotchDrawerHoverBehavior::hapticOnHover)
{
    return std::make_unique<NotchDrawer>(
        behavior,
        style,
        [] { return expandedRow(); },
        [] { return side(QStringLiteral("● REC"), "rgb(255,69,58)"); },
        [] { return side(QStringLiteral("3:42"), "white"); });
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    const QString dir = outputDirectory(QStringLiteral("notch"));
    QScreen* screen = QGuiApplication::primaryScreen();

    ScreenGeometry::setOverride([](const QScreen*) { return std::optional(notchedScreen()); });
    {
        auto d = make(NotchDrawerStyle::standardNotch());
        d->createPanel(screen);
        settle(*d);
        save(*d, dir, QStringLiteral("notch-hidden"));
        QCoro::waitFor(d->expand(screen));
        settle(*d);
        save(*d, dir, QStringLiteral("notch-expanded"));
        QCoro::waitFor(d->compact(screen));
        settle(*d);
        save(*d, dir, QStringLiteral("notch-compact"));
        d->setDisableCompactTrailing(true);
        settle(*d);
        save(*d, dir, QStringLiteral("notch-compact-leading-only"));
    }
    {
        auto d = make(NotchDrawerStyle::standardNotch(), NotchDrawerHoverBehavior::allEffects);
        QCoro::waitFor(d->expand(screen));
        settle(*d);
        d->setHovering(true);
        settle(*d);
        save(*d, dir, QStringLiteral("notch-expanded-hovered"));
    }
    {
        // Frames in the middle of the opening spring: snapshot painting with scale and blur.
        auto d = make(NotchDrawerStyle::standardNotch());
        auto task = d->expand(screen);
        spin([&] { return d->state() == NotchDrawerState::expanded; });
        QElapsedTimer t;
        t.start();
        spin([] { return false; }, 90);
        save(*d, dir, QStringLiteral("notch-expanding-90ms"));
        QCoro::waitFor(std::move(task));
    }
    {
        auto d = std::make_unique<NotchDrawer>(NotchDrawerHoverBehavior::hapticOnHover,
                                               NotchDrawerStyle::notch(6, 14),
                                               [] { return expandedRow(); });
        QCoro::waitFor(d->expand(screen));
        settle(*d);
        save(*d, dir, QStringLiteral("notch-expanded-small-radii"));
    }

    ScreenGeometry::setOverride([](const QScreen*) { return std::optional(plainScreen()); });
    {
        auto d = make(NotchDrawerStyle::automatic());
        QCoro::waitFor(d->expand(screen));
        settle(*d);
        save(*d, dir, QStringLiteral("floating-expanded"));
        auto hide = d->hide();
        spin([] { return false; }, 120);
        save(*d, dir, QStringLiteral("floating-hiding"));
        QCoro::waitFor(std::move(hide));
    }
    {
        auto d = make(NotchDrawerStyle::floating(12));
        QCoro::waitFor(d->expand(screen));
        settle(*d);
        save(*d, dir, QStringLiteral("floating-expanded-radius-12"));
    }
    return 0;
}
