#pragma once

#include <QObject>

class QScreen;

namespace jw {

// Announces a change of screen parameters (a screen added or removed, the primary screen,
// a geometry or available geometry changed). Bursts of Qt signals from one change are
// folded into one announcement after the current event.
class ScreenChangeObserver : public QObject
{
    Q_OBJECT
public:
    explicit ScreenChangeObserver(QObject* parent = nullptr);
    ~ScreenChangeObserver() override;

    // Instances alive in the process, for leak checks.
    static int liveCount();

Q_SIGNALS:
    void screenParametersChanged();

private:
    void watch(QScreen* screen);
    void schedule();

    bool m_pending = false;
};

} // namespace jw
