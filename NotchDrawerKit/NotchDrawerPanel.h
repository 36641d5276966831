#pragma once

#include <QPointer>
#include <QRegion>
#include <QScreen>
#include <QWidget>

class QScreen;

namespace jw {

// The borderless window of a notch: frameless, above other windows, never taking focus, with a
// transparent background. Its input region is only what its views paint, so clicks anywhere
// else in its large frame reach the windows beneath.
class NotchDrawerPanel : public QWidget
{
    Q_OBJECT
public:
    explicit NotchDrawerPanel(QScreen* screen);

    QScreen* targetScreen() const { return m_screen; }
    // Makes `view` fill the panel.
    void setContentView(QWidget* view);
    QWidget* contentView() const { return m_content; }

    // The painted region in panel coordinates; compared first, so steady frames cost nothing.
    void setInputRegion(const QRegion& region);
    QRegion inputRegion() const { return m_inputRegion; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QPointer<QScreen> m_screen;
    QPointer<QWidget> m_content;
    QRegion m_inputRegion;
    bool m_maskSet = false;
};

} // namespace jw
