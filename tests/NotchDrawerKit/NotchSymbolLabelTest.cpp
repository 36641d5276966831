#include "NotchDrawerKit/NotchDrawerInfo.h"
#include "platform/symbols/Symbols.h"

#include <QImage>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace jw {
namespace {

using Label = NotchDrawerInfo::Label;

const QColor kTint(255, 0, 0);

// A system-image label drawn alone at the info row's size, on nothing.
QImage drawn(const QString& name)
{
    Symbols::setThemeLookupEnabled(false);
    QWidget window;
    auto* view = Label(name, kTint).makeView(&window);
    view->setGeometry(0, 0, 40, 40);
    QImage image(40, 40, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    view->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    Symbols::setThemeLookupEnabled(true);
    return image.convertToFormat(QImage::Format_ARGB32);
}

bool inked(const QImage& image, int x, int y)
{
    return qAlpha(image.pixel(x, y)) > 128;
}

// The share of pixels inside the disc of radius `r` around the middle that carry ink.
double inkedWithin(const QImage& image, double r)
{
    int in = 0;
    int total = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (std::hypot(x + 0.5 - image.width() / 2.0, y + 0.5 - image.height() / 2.0) < r) {
                ++total;
                in += inked(image, x, y);
            }
    return double(in) / total;
}

class KitSampleSymbol : public ::testing::TestWithParam<const char*>
{};

// The names the kit's own samples, tests and screenshots use draw their own shapes.
TEST_P(KitSampleSymbol, IsDrawnAsItselfNotAsADiscOrThePlaceholder)
{
    const QString name = QString::fromLatin1(GetParam());
    EXPECT_TRUE(Symbols::isKnown(name));
    const QImage image = drawn(name);
    // The 32-pixel drawing area's inner disc: a shape leaves some of it clear, a disc none.
    EXPECT_LT(inkedWithin(image, 13), 0.9);
    EXPECT_GT(inkedWithin(image, 16), 0.1);
    EXPECT_TRUE(image != drawn(QStringLiteral("no.such.symbol")));
}

INSTANTIATE_TEST_SUITE_P(Names,
                         KitSampleSymbol,
                         ::testing::Values("arrow.up.circle", "arrow.up", "star", "star.fill"),
                         [](const auto& param) {
                             std::string n = param.param;
                             std::replace(n.begin(), n.end(), '.', '_');
                             return n;
                         });

TEST(KitUnknownSymbol, IsADashedOutlineWithNothingInside)
{
    const QImage image = drawn(QStringLiteral("no.such.symbol"));
    EXPECT_LT(inkedWithin(image, 8), 0.01) << "the middle stays clear";
    // Along the outline's top edge ink and gaps take turns.
    int ink = 0;
    int changes = 0;
    int row = -1;
    for (int y = 0; y < 20 && row < 0; ++y)
        for (int x = 0; x < 40; ++x)
            if (inked(image, x, y))
                row = y;
    ASSERT_GE(row, 0);
    for (int x = 4; x < 36; ++x) {
        ink += inked(image, x, row);
        changes += inked(image, x, row) != inked(image, x - 1, row);
    }
    EXPECT_GT(ink, 6);
    EXPECT_GE(changes, 4) << "dashed, not a solid line";
    // In the label's colour.
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x)
            if (inked(image, x, y)) {
                EXPECT_EQ(qRed(image.pixel(x, y)), 255);
                EXPECT_EQ(qGreen(image.pixel(x, y)), 0);
            }
}

} // namespace
} // namespace jw
