#pragma once

#include <QPointer>
#include <QRegion>
#include <QScreen>
#include <QWidget>

class QScreen;

namespace jw {

struct ScreenGeometry;

// The borderless window of a notch: frameless, above other windows on every workspace, never
// taking focus by appearing, with a transparent background. Its input region is only what its
// views paint, so clicks anywhere else in its large frame reach the windows beneath. A click into
// a content that accepts focus (a caller's text field) gives it the keyboard.
//
// On X11 it is an override-redirect window: no window manager places it, so it is on every
// workspace and above docks and full-screen windows alike, where _NET_WM_STATE hints leave the
// order to each manager's layering. Without a compositor the window's shape is the bare notch,
// since nothing would blend the soft shadow and it would be drawn black.
class NotchDrawerPanel : public QWidget
{
    Q_OBJECT
public:
    explicit NotchDrawerPanel(QScreen* screen);

    QScreen* targetScreen() const { return m_screen; }
    // Covers `frame` (in `screen`'s y-up points) on whole pixels, grown outward where its edges
    // fall between two, so its centre stays the frame's.
    void setFrame(const ScreenGeometry& screen, const QRectF& frame);
    // Makes `view` fill the panel.
    void setContentView(QWidget* view);
    QWidget* contentView() const { return m_content; }

    // The painted region in panel coordinates; compared first, so steady frames cost nothing.
    void setInputRegion(const QRegion& region);
    QRegion inputRegion() const { return m_inputRegion; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QScreen> m_screen;
    QPointer<QWidget> m_content;
    QRegion m_inputRegion;
    bool m_maskSet = false;
    // Whether translucent pixels blend with the windows beneath; asked once, as each appearance
    // of a notch makes a new panel.
    const bool m_composited;
};

} // namespace jw
