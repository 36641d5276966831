#include "NotchDrawerKit/VisualEffectView.h"

#include <QPainter>
#include <QPainterPath>

namespace jw {

VisualEffectView::VisualEffectView(Material material, BlendingMode blendingMode, QWidget* parent)
    : QWidget(parent)
    , m_material(material)
    , m_blendingMode(blendingMode)
{
    setAttribute(Qt::WA_TranslucentBackground);
}

QColor VisualEffectView::materialColor(Material material, const QPalette& palette)
{
    const bool dark = palette.color(QPalette::Window).lightnessF() < 0.5;
    // Popover-like materials: a light or dark frosted fill that lets a little of the
    // desktop through.
    int alpha = 235;
    switch (material) {
    case Material::hudWindow:
    case Material::fullScreenUI:
        return dark ? QColor(30, 30, 30, 215) : QColor(40, 40, 40, 215);
    case Material::menu:
    case Material::toolTip:
        alpha = 245;
        break;
    default:
        break;
    }
    return dark ? QColor(44, 44, 46, alpha) : QColor(246, 246, 246, alpha);
}

void VisualEffectView::paintMaterial(QPainter& painter,
                                     const QPainterPath& shape,
                                     Material material,
                                     const QPalette& palette)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(shape, materialColor(material, palette));
    painter.restore();
}

void VisualEffectView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QPainterPath shape;
    shape.addRect(rect());
    paintMaterial(painter, shape, m_material, palette());
}

} // namespace jw
