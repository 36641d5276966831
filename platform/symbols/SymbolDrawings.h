#pragma once

#include <QByteArray>
#include <QString>

namespace jw {

// Our own drawings of the symbols, SVG on a 24 x 24 view box: black is ink, white is cut out
// of the ink below it. Empty for an unknown name.
QByteArray symbolDrawing(const QString& name);

// What a name without a drawing or theme icon shows, on the same view box.
QByteArray placeholderDrawing();

} // namespace jw
