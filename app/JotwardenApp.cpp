#include "app/JotwardenApp.h"

#include "app/AppDelegate.h"
#include "app/models/Schema.h"
#include "app/views/DynamicIslandController.h"
#include "app/views/SettingsView.h"
#include "platform/Log.h"
#include "platform/SingleInstance.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QFileInfo>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTimer>

namespace jw {

namespace {

// A panel can only be placed at the top centre of the screen through X11, so a Wayland session
// runs us through XWayland. Returns whether the choice was made here.
bool preferX11OnWayland()
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return false;
    const bool wayland = qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland")
                         || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (!wayland)
        return false;
    qputenv("QT_QPA_PLATFORM", "xcb");
    return true;
}

} // namespace

JotwardenApp::JotwardenApp()
    : m_appDelegate(std::make_unique<AppDelegate>())
{
    m_appDelegate->setIslandFactory([] { return std::make_unique<DynamicIslandController>(); });
}

JotwardenApp::~JotwardenApp()
{
    delete m_trayIcon;
    delete m_panel;
}

QIcon JotwardenApp::menuBarIcon()
{
    // A page with a folded corner and written lines, the last one ticked off; drawn here so the
    // icon never depends on the icon theme.
    const QColor blue(0x2d, 0x7f, 0xf9);
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal s = size / 16.0;
        QPainterPath page;
        page.moveTo(3 * s, 1.5 * s);
        page.lineTo(10 * s, 1.5 * s);
        page.lineTo(13.5 * s, 5 * s);
        page.lineTo(13.5 * s, 14.5 * s);
        page.lineTo(3 * s, 14.5 * s);
        page.closeSubpath();
        p.setPen(QPen(blue, 1.2 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(QColor(255, 255, 255, 235));
        p.drawPath(page);
        QPainterPath fold;
        fold.moveTo(10 * s, 1.5 * s);
        fold.lineTo(10 * s, 5 * s);
        fold.lineTo(13.5 * s, 5 * s);
        p.setBrush(Qt::NoBrush);
        p.drawPath(fold);
        p.setPen(QPen(blue, 1.2 * s, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(5 * s, 7 * s), QPointF(11.5 * s, 7 * s));
        p.drawLine(QPointF(5 * s, 9.5 * s), QPointF(11.5 * s, 9.5 * s));
        QPainterPath tick;
        tick.moveTo(5 * s, 12 * s);
        tick.lineTo(6.3 * s, 13.1 * s);
        tick.lineTo(8.3 * s, 11 * s);
        p.setPen(QPen(blue, 1.3 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPath(tick);
        icon.addPixmap(pixmap);
    }
    return icon;
}

QWidget* JotwardenApp::makeMenuContent()
{
    auto* panel = new SettingsView(m_appDelegate->appState(),
                                   m_appDelegate->modelContainer()->mainContext(),
                                   m_appDelegate->gitHubApiBaseUrl());
    panel->setWindowTitle(QStringLiteral("Jot Warden"));
    panel->setWindowIcon(menuBarIcon());
    panel->setFixedSize(kPanelWidth, kPanelHeight);
    return panel;
}

void JotwardenApp::showScene()
{
    m_panel = makeMenuContent();
    // Qt settles once per process whether a D-Bus tray host exists, so asking before the
    // desktop's host is up would hide the icon for good: wait for the host's name first.
    static const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() || bus.interface()->isServiceRegistered(kWatcher)) {
        createTrayOrWindow();
        return;
    }
    auto* watcher = new QDBusServiceWatcher(kWatcher, bus, QDBusServiceWatcher::WatchForRegistration, this);
    auto* timeout = new QTimer(this);
    timeout->setSingleShot(true);
    auto done = [this, watcher, timeout] {
        timeout->stop();
        watcher->disconnect(this);
        timeout->disconnect(this);
        watcher->deleteLater();
        timeout->deleteLater();
        createTrayOrWindow();
    };
    connect(watcher, &QDBusServiceWatcher::serviceRegistered, this, done, Qt::SingleShotConnection);
    connect(timeout, &QTimer::timeout, this, done, Qt::SingleShotConnection);
    timeout->start(kTrayHostWaitMs);
}

void JotwardenApp::createTrayOrWindow()
{
    if (m_trayIcon || !m_panel)
        return;
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_panel->setWindowFlags(Qt::Popup);
        m_trayIcon = new QSystemTrayIcon(menuBarIcon());
        m_trayIcon->setToolTip(QStringLiteral("Jot Warden"));
        connect(m_trayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                togglePanel();
        });
        m_trayIcon->show();
    } else {
        // With no icon to bring it back, the window is the program: closing it quits.
        m_panel->installEventFilter(this);
        m_panel->show();
    }
    m_sceneSettled = true;
    Q_EMIT sceneShown();
    if (m_showPanelWhenSettled)
        showPanel();
}

bool JotwardenApp::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_panel && event->type() == QEvent::Close && !m_trayIcon)
        if (auto* settings = qobject_cast<SettingsView*>(m_panel.data()))
            settings->quit();
    return QObject::eventFilter(watched, event);
}

void JotwardenApp::togglePanel()
{
    if (!m_panel)
        return;
    if (m_panel->isVisible()) {
        m_panel->hide();
        return;
    }
    showPanel();
}

void JotwardenApp::showPanel()
{
    if (!m_panel)
        return;
    if (!m_sceneSettled) {
        // Turning the panel into the tray's popup would hide it again.
        m_showPanelWhenSettled = true;
        return;
    }
    m_showPanelWhenSettled = false;
    if (!m_trayIcon) {
        m_panel->setWindowState(m_panel->windowState() & ~Qt::WindowMinimized);
        m_panel->show();
        m_panel->raise();
        m_panel->activateWindow();
        return;
    }
    // Next to the icon, kept on the icon's screen.
    const QRect iconRect = m_trayIcon ? m_trayIcon->geometry() : QRect();
    QScreen* screen = iconRect.isValid() ? QGuiApplication::screenAt(iconRect.center()) : nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        const QRect area = screen->availableGeometry();
        QPoint pos = iconRect.isValid() ? QPoint(iconRect.center().x() - kPanelWidth / 2, iconRect.bottom() + 4)
                                        : QPoint(area.right() - kPanelWidth, area.top());
        if (iconRect.isValid() && iconRect.center().y() > area.center().y())
            pos.setY(iconRect.top() - kPanelHeight - 4);
        pos.setX(std::clamp(pos.x(), area.left(), area.right() - kPanelWidth));
        pos.setY(std::clamp(pos.y(), area.top(), area.bottom() - kPanelHeight));
        m_panel->move(pos);
    }
    m_panel->show();
    m_panel->raise();
    m_panel->activateWindow();
}

int JotwardenApp::main(int argc, char** argv, std::optional<QUrl> gitHubApiBaseUrl)
{
    const bool choseX11 = preferX11OnWayland();
    QApplication app(argc, argv);
    // Browsers and editors we open must not inherit the platform choice made for us.
    if (choseX11)
        qunsetenv("QT_QPA_PLATFORM");
    QApplication::setApplicationName(QStringLiteral("Jot Warden"));
    QApplication::setApplicationVersion(QStringLiteral("2.0.0"));
    // With a tray the process lives in it: closing the panel or a chooser must not end it. Without
    // one the scene ends the program itself when its window is closed.
    app.setQuitOnLastWindowClosed(false);

    // One copy per store, whatever runtime folder this launch was given: a second launch hands
    // over to the running copy and ends, before it opens the store or watches anything.
    const QString storeFolder = QFileInfo(jotwardenConfiguration().resolvedFilePath()).absolutePath();
    SingleInstance single(QStringLiteral("jotwarden"), storeFolder);
    const SingleInstance::Role role = single.claim();
    if (role == SingleInstance::Role::secondary) {
        single.askPrimaryToShow([](bool reached) {
            log(reached ? QStringLiteral("Already running: asked the running copy to show its panel")
                        : QStringLiteral("Already running, but the running copy did not answer"));
            QCoreApplication::exit(reached ? 0 : 1);
        });
        return app.exec();
    }

    // Opens the store, or stops with the fatal message before any line is logged.
    JotwardenApp scene;
    if (role == SingleInstance::Role::unguarded)
        log(QStringLiteral("Could not make sure only one copy runs: ") + single.errorText());
    else if (!single.errorText().isEmpty())
        log(QStringLiteral("Later launches cannot reach this copy: ") + single.errorText());
    if (gitHubApiBaseUrl)
        scene.appDelegate()->setGitHubApiBaseUrl(*gitHubApiBaseUrl);
    QObject::connect(&single, &SingleInstance::showRequested, &scene, [&scene] {
        log(QStringLiteral("Showing the panel for another launch"));
        scene.showPanel();
    });
    scene.showScene();
    QTimer::singleShot(0, scene.appDelegate(), [&scene] { scene.appDelegate()->applicationDidFinishLaunching(); });
    return app.exec();
}

} // namespace jw
