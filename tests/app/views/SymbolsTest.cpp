#include "platform/symbols/Symbols.h"

#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <gtest/gtest.h>

namespace jw {
namespace {

const QStringList kUsedByTheViews = {
    QStringLiteral("gear"),
    QStringLiteral("arrow.trianglehead.2.counterclockwise"),
    QStringLiteral("checkmark.circle.fill"),
    QStringLiteral("xmark.circle.fill"),
    QStringLiteral("circle.fill"),
    QStringLiteral("exclamationmark.triangle.fill"),
    QStringLiteral("sparkles"),
    QStringLiteral("folder.fill"),
    QStringLiteral("key.fill"),
    QStringLiteral("plus"),
    QStringLiteral("arrow.up.right"),
    QStringLiteral("arrow.clockwise"),
    QStringLiteral("checkmark"),
    QStringLiteral("folder.badge.plus"),
    QStringLiteral("folder.badge.checkmark"),
};

class SymbolsTest : public ::testing::Test
{
protected:
    void SetUp() override { Symbols::setThemeLookupEnabled(false); }
    void TearDown() override { Symbols::setThemeLookupEnabled(true); }
};

struct Coverage
{
    int inked = 0;
    int otherColour = 0;
};

Coverage coverage(const QPixmap& pixmap, const QColor& colour)
{
    Coverage c;
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (qAlpha(p) < 128)
                continue;
            ++c.inked;
            if (std::abs(qRed(p) - colour.red()) > 3 || std::abs(qGreen(p) - colour.green()) > 3
                || std::abs(qBlue(p) - colour.blue()) > 3)
                ++c.otherColour;
        }
    return c;
}

TEST_F(SymbolsTest, EveryNameTheViewsUseHasADrawingAndThemeNames)
{
    for (const QString& name : kUsedByTheViews) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_TRUE(Symbols::isKnown(name));
        QSvgRenderer svg(Symbols::fallbackDrawing(name));
        EXPECT_TRUE(svg.isValid());
        EXPECT_TRUE(Symbols::names().contains(name));
    }
    EXPECT_FALSE(Symbols::themeNames(QStringLiteral("gear")).isEmpty());
}

TEST_F(SymbolsTest, DrawingsAreTintedToTheRequestedColourAndNothingElse)
{
    const QColor violet = QColor::fromRgbF(0.47f, 0.36f, 0.96f);
    for (const QString& name : kUsedByTheViews) {
        SCOPED_TRACE(name.toStdString());
        const QPixmap pm = Symbols::pixmap(name, QSize(24, 24), violet);
        EXPECT_EQ(pm.size(), QSize(24, 24));
        const Coverage c = coverage(pm, violet);
        EXPECT_GT(c.inked, 20);
        EXPECT_EQ(c.otherColour, 0);
    }
}

TEST_F(SymbolsTest, CutOutsAreTransparent)
{
    // The check mark inside the filled circle shows what lies beneath.
    const QImage image = Symbols::pixmap(QStringLiteral("checkmark.circle.fill"), QSize(48, 48), Qt::green)
                             .toImage()
                             .convertToFormat(QImage::Format_ARGB32);
    EXPECT_GT(qAlpha(image.pixel(24, 4)), 200);                       // the disc
    EXPECT_LT(qAlpha(image.pixel(int(10.6 * 2), int(15.8 * 2))), 60); // the check's elbow
}

TEST_F(SymbolsTest, HighDensityPixmapsCarryTheirRatio)
{
    const QPixmap pm = Symbols::pixmap(QStringLiteral("plus"), QSize(10, 10), Qt::white, 2.0);
    EXPECT_EQ(pm.size(), QSize(20, 20));
    EXPECT_EQ(pm.devicePixelRatio(), 2.0);
}

TEST_F(SymbolsTest, UnknownNamesDrawATintedPlaceholderAndEmptySizesNothing)
{
    const QPixmap pm = Symbols::pixmap(QStringLiteral("no.such.symbol"), QSize(24, 24), Qt::red);
    const Coverage c = coverage(pm, Qt::red);
    EXPECT_GT(c.inked, 20);
    EXPECT_EQ(c.otherColour, 0);
    EXPECT_LT(qAlpha(pm.toImage().convertToFormat(QImage::Format_ARGB32).pixel(12, 12)), 20) << "an outline only";
    EXPECT_TRUE(Symbols::pixmap(QStringLiteral("gear"), QSize(0, 0), Qt::red).isNull()
                || Symbols::pixmap(QStringLiteral("gear"), QSize(0, 0), Qt::red).size().isEmpty());
    EXPECT_FALSE(Symbols::isKnown(QStringLiteral("no.such.symbol")));
    EXPECT_TRUE(Symbols::fallbackDrawing(QStringLiteral("no.such.symbol")).isEmpty());
}

TEST_F(SymbolsTest, IconsPaintTheTintedSymbol)
{
    const QIcon icon = Symbols::icon(QStringLiteral("folder.fill"), QColor(0, 122, 255));
    EXPECT_FALSE(icon.isNull());
    const QPixmap pm = icon.pixmap(QSize(32, 32));
    const Coverage c = coverage(pm, QColor(0, 122, 255));
    EXPECT_GT(c.inked, 100);
    EXPECT_EQ(c.otherColour, 0);
}

TEST(SymbolsTheme, ThemeIconsAreTintedToo)
{
    // Whatever the desktop's theme offers (or our drawing when it offers nothing), the colour
    // is the one asked for.
    Symbols::setThemeLookupEnabled(true);
    const Coverage c = coverage(Symbols::pixmap(QStringLiteral("plus"), QSize(24, 24), Qt::red), Qt::red);
    EXPECT_GT(c.inked, 0);
    EXPECT_EQ(c.otherColour, 0);
}

} // namespace
} // namespace jw
