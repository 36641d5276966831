#include "platform/screen/ScreenChangeObserver.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

#include <atomic>

namespace jw {
namespace {
std::atomic<int> g_live{0};
}

ScreenChangeObserver::ScreenChangeObserver(QObject* parent)
    : QObject(parent)
{
    ++g_live;
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app)
        return;
    connect(app, &QGuiApplication::screenAdded, this, [this](QScreen* screen) {
        watch(screen);
        schedule();
    });
    connect(app, &QGuiApplication::screenRemoved, this, [this] { schedule(); });
    connect(app, &QGuiApplication::primaryScreenChanged, this, [this] { schedule(); });
    for (QScreen* screen : QGuiApplication::screens())
        watch(screen);
}

ScreenChangeObserver::~ScreenChangeObserver()
{
    --g_live;
}

int ScreenChangeObserver::liveCount()
{
    return g_live;
}

void ScreenChangeObserver::watch(QScreen* screen)
{
    connect(screen, &QScreen::geometryChanged, this, [this] { schedule(); });
    connect(screen, &QScreen::availableGeometryChanged, this, [this] { schedule(); });
    connect(screen, &QScreen::logicalDotsPerInchChanged, this, [this] { schedule(); });
}

void ScreenChangeObserver::schedule()
{
    if (m_pending)
        return;
    m_pending = true;
    QTimer::singleShot(0, this, [this] {
        m_pending = false;
        Q_EMIT screenParametersChanged();
    });
}

} // namespace jw
