#include "NotchDrawerKit/ViewModifiers.h"

#include "NotchDrawerKit/VisualEffectView.h"

#include <QLabel>
#include <QPainter>
#include <QPixmap>

#include <gtest/gtest.h>

namespace jw {
namespace {

QPixmap sample()
{
    QLabel label(QStringLiteral("Pushed #42 <b>owner/repo</b>"));
    label.setStyleSheet(QStringLiteral("color: white; background: rgb(30, 90, 200); padding: 4px;"));
    label.resize(label.sizeHint());
    return label.grab();
}

QImage drawOnCanvas(const QPixmap& snapshot, double opacity, ScaleModifier scale, BlurModifier blur)
{
    QImage canvas(snapshot.size() + QSize(40, 40), QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    TransitionPainter::paint(painter, snapshot, QRectF(QPointF(20, 20), snapshot.size()), opacity, scale, blur);
    return canvas;
}

QImage plainOnCanvas(const QPixmap& snapshot)
{
    QImage canvas(snapshot.size() + QSize(40, 40), QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    painter.drawPixmap(20, 20, snapshot);
    return canvas;
}

} // namespace

TEST(ViewModifiers, NeutralEndsDrawTheContentPixelForPixel)
{
    const QPixmap snapshot = sample();
    ASSERT_FALSE(snapshot.isNull());
    const QImage expected = plainOnCanvas(snapshot);
    for (UnitPoint anchor : {UnitPoint::top(), UnitPoint::leading(), UnitPoint::trailing(), UnitPoint::center()})
        EXPECT_EQ(drawOnCanvas(snapshot, 1, ScaleModifier{1, 1, anchor}, BlurModifier{0}), expected);
    EXPECT_EQ(BlurModifier{0}.apply(snapshot.toImage()), snapshot.toImage());
    // Every transition's identity end is neutral.
    const TransitionFrame rest = TransitionFrame::at(1, ScaleModifier{0, 1, UnitPoint::trailing()}, BlurModifier{10});
    EXPECT_TRUE(rest.isIdentity());
    EXPECT_EQ(drawOnCanvas(snapshot, rest.opacity, rest.scale, rest.blur), expected);
}

TEST(ViewModifiers, ActiveEndsChangeTheDrawing)
{
    const QPixmap snapshot = sample();
    const QImage expected = plainOnCanvas(snapshot);
    const QImage blurred = drawOnCanvas(snapshot, 1, ScaleModifier{}, BlurModifier{10});
    EXPECT_NE(blurred, expected);
    // Blur spreads colour beyond the content's edge, not opaque.
    EXPECT_GT(qAlpha(blurred.pixel(12, 20 + snapshot.height() / 2)), 0);
    EXPECT_LT(qAlpha(blurred.pixel(20, 20)), 255);

    // Zero width at the trailing edge: nothing left of it is drawn, the full height stays.
    const QImage sliver = drawOnCanvas(snapshot, 1, ScaleModifier{0, 1, UnitPoint::trailing()}, BlurModifier{0});
    for (int x = 0; x < sliver.width() - 21; ++x)
        ASSERT_EQ(qAlpha(sliver.pixel(x, 20 + snapshot.height() / 2)), 0) << x;

    // Scale 0.6 in y about the top: the top row stays, the lower part is empty.
    const QImage squashed = drawOnCanvas(snapshot, 1, ScaleModifier{1, 0.6, UnitPoint::top()}, BlurModifier{0});
    EXPECT_GT(qAlpha(squashed.pixel(20 + snapshot.width() / 2, 21)), 0);
    EXPECT_EQ(qAlpha(squashed.pixel(20 + snapshot.width() / 2, 20 + snapshot.height() - 1)), 0);

    // Half-way through a transition: half opacity, half the blur, halfway in scale.
    const TransitionFrame half = TransitionFrame::at(0.5, ScaleModifier{1, 0.6, UnitPoint::top()}, BlurModifier{10});
    EXPECT_DOUBLE_EQ(half.opacity, 0.5);
    EXPECT_DOUBLE_EQ(half.scale.yScale, 0.8);
    EXPECT_DOUBLE_EQ(half.blur.intensity, 5);
}

// A blur spreads 1.5 times its radius in points beyond its source, whatever the pixel density.
class BlurAtPixelRatio : public ::testing::TestWithParam<double>
{
protected:
    static constexpr double kSide = 40;
    static constexpr double kRadius = 10;

    static QImage square(double dpr)
    {
        QImage image((QSizeF(kSide, kSide) * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(dpr);
        image.fill(Qt::black);
        return image;
    }
};

TEST_P(BlurAtPixelRatio, TheHaloFadesOutInsideTheImageWithoutAHardEdge)
{
    const double dpr = GetParam();
    const QImage blurred = BlurModifier{kRadius}.apply(square(dpr));
    EXPECT_DOUBLE_EQ(blurred.devicePixelRatio(), dpr);
    const double margin = (blurred.width() / dpr - kSide) / 2;
    EXPECT_GE(margin, 1.5 * kRadius) << "room for the whole halo, in points";
    EXPECT_LT(margin, 1.5 * kRadius + 1);
    // Along the middle row the halo falls off smoothly to nothing at the image's edge.
    const int y = blurred.height() / 2;
    EXPECT_LE(qAlpha(blurred.pixel(0, y)), 2);
    EXPECT_LE(qAlpha(blurred.pixel(blurred.width() - 1, y)), 2);
    for (int x = 1; x < blurred.width() / 2; ++x)
        ASSERT_LE(qAlpha(blurred.pixel(x, y)) - qAlpha(blurred.pixel(x - 1, y)), 40 / dpr) << x;
}

TEST_P(BlurAtPixelRatio, ATransitionDrawsTheWholeHaloCentredOnItsContent)
{
    const double dpr = GetParam();
    QImage canvas((QSizeF(120, 120) * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
    canvas.setDevicePixelRatio(dpr);
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        TransitionPainter::paint(painter,
                                 QPixmap::fromImage(square(dpr)),
                                 QRectF(40, 40, kSide, kSide),
                                 1,
                                 ScaleModifier{},
                                 BlurModifier{kRadius});
    }
    const auto alphaAt = [&](double x, double y) {
        return qAlpha(canvas.pixel(QPointF(x * dpr, y * dpr).toPoint()));
    };
    // 12 points out from each edge the halo is still there, and alike on both sides.
    EXPECT_GT(alphaAt(40 - 12, 60), 0);
    EXPECT_GT(alphaAt(80 + 12, 60), 0);
    EXPECT_NEAR(alphaAt(40 - 12, 60), alphaAt(80 + 11.5, 60), 3);
    EXPECT_NEAR(alphaAt(60, 40 - 12), alphaAt(60, 80 + 11.5), 3);
    EXPECT_EQ(alphaAt(40 - 17, 60), 0) << "and nothing beyond the blur's reach";
}

INSTANTIATE_TEST_SUITE_P(ViewModifiers,
                         BlurAtPixelRatio,
                         ::testing::Values(1.0, 2.0),
                         [](const ::testing::TestParamInfo<double>& p) { return p.param == 1.0 ? "At1x" : "At2x"; });

TEST(VisualEffectView, AlwaysActiveAndEmphasizedAndPaintsATranslucentMaterial)
{
    VisualEffectView view(VisualEffectView::Material::popover, VisualEffectView::BlendingMode::behindWindow);
    EXPECT_EQ(int(view.material()), 6);
    EXPECT_EQ(int(view.blendingMode()), 0);
    EXPECT_EQ(view.state(), VisualEffectView::State::active);
    EXPECT_TRUE(view.isEmphasized());
    view.resize(40, 20);
    QPixmap pixmap(view.size());
    pixmap.fill(Qt::transparent);
    view.render(&pixmap, QPoint(), QRegion(), QWidget::DrawChildren);
    const QRgb p = pixmap.toImage().pixel(20, 10);
    EXPECT_GT(qAlpha(p), 150);
    EXPECT_LT(qAlpha(p), 255) << "lets a little of what is behind through";
}

} // namespace jw
