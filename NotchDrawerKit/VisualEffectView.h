#pragma once

#include <QWidget>

class QPainterPath;

namespace jw {

// A translucent material painted by the view itself (Linux compositors offer no behind-window
// blur to ask for). Material and blending mode are fixed at creation; a view wanting other
// values is a new view.
class VisualEffectView : public QWidget
{
    Q_OBJECT
public:
    // Raw values follow the platform's material numbering.
    enum class Material
    {
        titlebar = 3,
        selection = 4,
        menu = 5,
        popover = 6,
        sidebar = 7,
        headerView = 10,
        sheet = 11,
        windowBackground = 12,
        hudWindow = 13,
        fullScreenUI = 15,
        toolTip = 17,
        contentBackground = 18,
        underWindowBackground = 21,
        underPageBackground = 22,
    };
    enum class BlendingMode
    {
        behindWindow = 0,
        withinWindow = 1
    };
    enum class State
    {
        followsWindowActiveState = 0,
        active = 1,
        inactive = 2
    };

    VisualEffectView(Material material, BlendingMode blendingMode, QWidget* parent = nullptr);

    Material material() const { return m_material; }
    BlendingMode blendingMode() const { return m_blendingMode; }
    // Always rendered as active, whether or not the window has focus.
    State state() const { return State::active; }
    bool isEmphasized() const { return true; }

    // The fill of a material over a shape, shared with views that clip it themselves.
    static void paintMaterial(QPainter& painter, const QPainterPath& shape, Material material, const QPalette& palette);
    static QColor materialColor(Material material, const QPalette& palette);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const Material m_material;
    const BlendingMode m_blendingMode;
};

} // namespace jw
