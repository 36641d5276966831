// Shows the island over an ordinary window on a real X display without a compositor (run it
// through scripts/run-headless.sh, whose Xvfb has none), takes a screenshot of the screen as the
// X server draws it, and prints the panel window's properties as xprop and xwininfo report them.
// Writes build/bench/screenshots/x11/.
#include "NotchDrawerKit/NotchDrawer.h"
#include "NotchDrawerKit/NotchDrawerPanel.h"
#include "app/IslandState.h"
#include "app/views/DynamicIslandController.h"
#include "bench/ScreenshotSupport.h"
#include "platform/symbols/Symbols.h"
#include "platform/window/WindowSystem.h"

#include <QApplication>
#include <QPainter>
#include <QPointer>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QWidget>

#include <cstdio>

using namespace jw;
using namespace jw::bench;

namespace {

// A stand-in editor window filling the screen: light page, lines of "code".
class EditorWindow : public QWidget
{
protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), QColor(250, 250, 247));
        p.fillRect(QRect(0, 0, width(), 28), QColor(225, 228, 235));
        QFont mono(QStringLiteral("DejaVu Sans Mono"));
        mono.setPixelSize(14);
        p.setFont(mono);
        const QStringList lines = {
            QStringLiteral("func loadConfig(path string) (*Config, error) {"),
            QStringLiteral("    data, err := os.ReadFile(path)"),
            QStringLiteral("    if err != nil {"),
            QStringLiteral("        return nil, err"),
            QStringLiteral("    }"),
            QStringLiteral(
                "    // TODO: Handle the empty config file (#42 https://github.com/tallowmere/jot-warden/issues/42)"),
            QStringLiteral("    return parse(data)"),
            QStringLiteral("}"),
        };
        for (int i = 0; i < 40; ++i) {
            p.setPen(QColor(150, 150, 160));
            p.drawText(QPoint(16, 52 + i * 20), QString::number(i + 1).rightJustified(3));
            p.setPen(i % 8 == 5 ? QColor(110, 120, 60) : QColor(40, 44, 52));
            p.drawText(QPoint(64, 52 + i * 20), lines[i % lines.size()]);
        }
    }
};

void run(const QString& program, const QStringList& args)
{
    if (QStandardPaths::findExecutable(program).isEmpty()) {
        std::printf("(%s is not installed)\n", qPrintable(program));
        return;
    }
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    p.waitForFinished(10000);
    std::printf("$ %s %s\n%s\n", qPrintable(program), qPrintable(args.join(QLatin1Char(' '))), p.readAll().constData());
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    if (!WindowSystem::isX11()) {
        std::printf("needs an X display: scripts/run-headless.sh %s\n", argv[0]);
        return 0;
    }
    Symbols::setThemeLookupEnabled(false);
    const QString dir = outputDirectory(QStringLiteral("x11"));
    QScreen* screen = QGuiApplication::primaryScreen();
    std::printf("compositor: %s\n", WindowSystem::hasCompositor() ? "yes" : "none");

    EditorWindow editor;
    editor.setWindowTitle(QStringLiteral("config.go"));
    editor.setGeometry(screen->geometry());
    editor.show();
    spin([&] { return editor.isVisible(); });
    spin([] { return false; }, 300);

    DynamicIslandController controller;
    controller.show(IslandState::confirmed(QStringLiteral("Handle the empty config file"),
                                           QStringLiteral("tallowmere/jot-warden"),
                                           42,
                                           QStringLiteral("https://github.com/tallowmere/jot-warden/issues/42"),
                                           QStringLiteral("Jot Warden Roadmap"),
                                           QStringLiteral("https://github.com/users/tallowmere/projects/3"),
                                           false,
                                           true));
    QPointer<NotchDrawer> notch = controller.notch();
    spin([&] { return notch && notch->state() == NotchDrawerState::expanded && notch->panel() && panelAtRest(*notch); },
         10000);
    spin([] { return false; }, 500);
    if (!notch || !notch->panel()) {
        std::printf("no panel\n");
        return 1;
    }

    const QImage shot = screen->grabWindow(0).toImage();
    const QString full = dir + QStringLiteral("/island-over-window-no-compositor.png");
    shot.save(full);
    std::printf("%s\n", qPrintable(full));
    const QRect panel = notch->panel()->geometry();
    const QString top = dir + QStringLiteral("/island-over-window-no-compositor-top.png");
    shot.copy(panel.adjusted(0, 0, 0, -panel.height() / 2)).save(top);
    std::printf("%s\n", qPrintable(top));

    const QString id = QStringLiteral("0x") + QString::number(notch->panel()->winId(), 16);
    run(QStringLiteral("xprop"),
        {QStringLiteral("-id"), id, QStringLiteral("_NET_WM_WINDOW_TYPE"), QStringLiteral("_NET_WM_STATE")});
    run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), id, QStringLiteral("-stats"), QStringLiteral("-shape")});
    return 0;
}
