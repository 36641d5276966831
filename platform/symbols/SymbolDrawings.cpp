#include "platform/symbols/SymbolDrawings.h"

#include <QHash>

namespace jw {

namespace {

constexpr const char* kHead = R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 24 24" width="24" height="24">)";
constexpr const char* kTail = "</svg>";

// Drawn for legibility at 9 to 30 pixels: bold strokes, round caps, plain shapes.
const QHash<QString, const char*>& drawings()
{
    static const QHash<QString, const char*> table = {
        {QStringLiteral("circle.fill"), R"(<circle cx="12" cy="12" r="10" fill="black"/>)"},
        {QStringLiteral("gear"),
         R"(<path fill="black" d="M19.26,9.75 L22.00,9.97 L22.00,14.03 L19.26,14.25 L18.72,15.55 L20.50,17.64 L17.64,20.50 L15.55,18.72 L14.25,19.26 L14.03,22.00 L9.97,22.00 L9.75,19.26 L8.45,18.72 L6.36,20.50 L3.50,17.64 L5.28,15.55 L4.74,14.25 L2.00,14.03 L2.00,9.97 L4.74,9.75 L5.28,8.45 L3.50,6.36 L6.36,3.50 L8.45,5.28 L9.75,4.74 L9.97,2.00 L14.03,2.00 L14.25,4.74 L15.55,5.28 L17.64,3.50 L20.50,6.36 L18.72,8.45 Z"/>
<circle cx="12" cy="12" r="3.6" fill="white"/>)"},
        {QStringLiteral("arrow.trianglehead.2.counterclockwise"),
         R"(<path d="M19.2,9.4 A7.8,7.8 0 0 0 5.6,7.6" fill="none" stroke="black" stroke-width="2.2" stroke-linecap="round"/>
<path d="M4.8,14.6 A7.8,7.8 0 0 0 18.4,16.4" fill="none" stroke="black" stroke-width="2.2" stroke-linecap="round"/>
<path d="M2.6,4.4 L8.6,4.8 L4.4,10.0 Z" fill="black" stroke="black" stroke-width="1" stroke-linejoin="round"/>
<path d="M21.4,19.6 L15.4,19.2 L19.6,14.0 Z" fill="black" stroke="black" stroke-width="1" stroke-linejoin="round"/>)"},
        {QStringLiteral("checkmark.circle.fill"),
         R"(<circle cx="12" cy="12" r="10.5" fill="black"/>
<path d="M7.2,12.4 L10.6,15.8 L16.9,8.6" fill="none" stroke="white" stroke-width="2.3" stroke-linecap="round" stroke-linejoin="round"/>)"},
        {QStringLiteral("xmark.circle.fill"),
         R"(<circle cx="12" cy="12" r="10.5" fill="black"/>
<path d="M8.3,8.3 L15.7,15.7 M15.7,8.3 L8.3,15.7" fill="none" stroke="white" stroke-width="2.3" stroke-linecap="round"/>)"},
        {QStringLiteral("exclamationmark.triangle.fill"),
         R"(<path d="M12,2.6 L22.2,20.4 L1.8,20.4 Z" fill="black" stroke="black" stroke-width="2.4" stroke-linejoin="round"/>
<path d="M12,8.6 L12,13.8" stroke="white" stroke-width="2.4" stroke-linecap="round"/>
<circle cx="12" cy="17.2" r="1.35" fill="white"/>)"},
        {QStringLiteral("sparkles"),
         R"(<path fill="black" d="M10,3 Q11,10 17,11 Q11,12 10,20 Q9,12 3,11 Q9,10 10,3 Z"/>
<path fill="black" d="M18.5,1.5 Q19,4.5 21.5,5 Q19,5.5 18.5,8.5 Q18,5.5 15.5,5 Q18,4.5 18.5,1.5 Z"/>
<path fill="black" d="M18,15 Q18.5,18 21,18.5 Q18.5,19 18,22 Q17.5,19 15,18.5 Q17.5,18 18,15 Z"/>)"},
        {QStringLiteral("folder.fill"),
         R"(<path fill="black" d="M2,6.5 Q2,4.5 4,4.5 L9,4.5 L11,6.5 L20,6.5 Q22,6.5 22,8.5 L22,18 Q22,20 20,20 L4,20 Q2,20 2,18 Z"/>)"},
        {QStringLiteral("key.fill"),
         R"(<circle cx="7.5" cy="12" r="5.5" fill="black"/>
<circle cx="6.2" cy="12" r="1.7" fill="white"/>
<path fill="black" d="M11,10.3 L22,10.3 L22,13.7 L20.5,13.7 L20.5,16.2 L18.2,16.2 L18.2,13.7 L16.6,13.7 L16.6,15.4 L14.4,15.4 L14.4,13.7 L11,13.7 Z"/>)"},
        {QStringLiteral("plus"),
         R"(<path d="M12,4 L12,20 M4,12 L20,12" stroke="black" stroke-width="2.4" stroke-linecap="round"/>)"},
        {QStringLiteral("arrow.up.right"),
         R"(<path d="M6,18 L18,6 M8.5,6 L18,6 L18,15.5" fill="none" stroke="black" stroke-width="2.4" stroke-linecap="round" stroke-linejoin="round"/>)"},
        {QStringLiteral("arrow.clockwise"),
         R"(<path d="M19.5,12 A7.5,7.5 0 1 1 15.5,5.4" fill="none" stroke="black" stroke-width="2.3" stroke-linecap="round"/>
<path d="M13.2,1.8 L19.6,5.0 L13.6,8.8 Z" fill="black" stroke="black" stroke-width="1" stroke-linejoin="round"/>)"},
        {QStringLiteral("checkmark"),
         R"(<path d="M4.5,12.8 L9.5,17.8 L19.5,6.5" fill="none" stroke="black" stroke-width="2.6" stroke-linecap="round" stroke-linejoin="round"/>)"},
        {QStringLiteral("folder.badge.plus"),
         R"(<path fill="black" d="M1.5,5.5 Q1.5,3.5 3.5,3.5 L8,3.5 L10,5.5 L18.5,5.5 Q20.5,5.5 20.5,7.5 L20.5,16 Q20.5,18 18.5,18 L3.5,18 Q1.5,18 1.5,16 Z"/>
<circle cx="17.5" cy="17" r="6.5" fill="white"/>
<circle cx="17.5" cy="17" r="5.2" fill="black"/>
<path d="M17.5,14.2 L17.5,19.8 M14.7,17 L20.3,17" stroke="white" stroke-width="1.8" stroke-linecap="round"/>)"},
        {QStringLiteral("folder.badge.checkmark"),
         R"(<path fill="black" d="M1.5,5.5 Q1.5,3.5 3.5,3.5 L8,3.5 L10,5.5 L18.5,5.5 Q20.5,5.5 20.5,7.5 L20.5,16 Q20.5,18 18.5,18 L3.5,18 Q1.5,18 1.5,16 Z"/>
<circle cx="17.5" cy="17" r="6.5" fill="white"/>
<circle cx="17.5" cy="17" r="5.2" fill="black"/>
<path d="M15,17.2 L16.9,19.1 L20.1,15.3" fill="none" stroke="white" stroke-width="1.7" stroke-linecap="round" stroke-linejoin="round"/>)"},
        {QStringLiteral("arrow.up.circle"),
         R"(<circle cx="12" cy="12" r="9.8" fill="none" stroke="black" stroke-width="2.1"/>
<path d="M12,17 L12,7.6 M7.9,11.5 L12,7.4 L16.1,11.5" fill="none" stroke="black" stroke-width="2.2" stroke-linecap="round" stroke-linejoin="round"/>)"},
        {QStringLiteral("arrow.up"),
         R"(<path d="M12,20.5 L12,4.5 M5.5,11 L12,4.3 L18.5,11" fill="none" stroke="black" stroke-width="2.4" stroke-linecap="round" stroke-linejoin="round"/>)"},
        {QStringLiteral("star"),
         R"(<path d="M12.00,2.60 L14.53,9.32 L21.70,9.65 L16.09,14.13 L18.00,21.05 L12.00,17.10 L6.00,21.05 L7.91,14.13 L2.30,9.65 L9.47,9.32 Z" fill="none" stroke="black" stroke-width="1.8" stroke-linejoin="round"/>)"},
        {QStringLiteral("star.fill"),
         R"(<path d="M12.00,2.60 L14.53,9.32 L21.70,9.65 L16.09,14.13 L18.00,21.05 L12.00,17.10 L6.00,21.05 L7.91,14.13 L2.30,9.65 L9.47,9.32 Z" fill="black" stroke="black" stroke-width="1.4" stroke-linejoin="round"/>)"},
    };
    return table;
}

// A dashed rounded square with nothing inside: plainly a stand-in, and no symbol's look-alike.
constexpr const char* kPlaceholder =
    R"(<rect x="3.5" y="3.5" width="17" height="17" rx="3" fill="none" stroke="black" stroke-width="1.8" stroke-dasharray="3.4 2.4"/>)";

} // namespace

QByteArray symbolDrawing(const QString& name)
{
    const auto it = drawings().constFind(name);
    if (it == drawings().constEnd())
        return {};
    return QByteArray(kHead) + QByteArray(it.value()) + QByteArray(kTail);
}

QByteArray placeholderDrawing()
{
    return QByteArray(kHead) + QByteArray(kPlaceholder) + QByteArray(kTail);
}

} // namespace jw
