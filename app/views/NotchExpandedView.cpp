#include "app/views/NotchExpandedView.h"

#include "app/views/AnimatedIcon.h"
#include "app/views/NotchViewModel.h"
#include "app/views/ProjectBadge.h"
#include "platform/UrlOpener.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace jw {

namespace {

// The "Open" capsule: caption semibold white text on translucent white.
class OpenButton : public QAbstractButton
{
public:
    static constexpr int kHorizontalPadding = 12;
    static constexpr int kVerticalPadding = 6;
    static constexpr double kBackgroundOpacity = 0.15;

    explicit OpenButton(QWidget* parent)
        : QAbstractButton(parent)
    {
        setText(NotchExpandedView::tr("Open"));
        setFont(NotchExpandedView::captionFont());
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::NoFocus);
        setAttribute(Qt::WA_TranslucentBackground);
    }

    QSize sizeHint() const override
    {
        const QFontMetrics fm(font());
        return QSize(fm.horizontalAdvance(text()) + 2 * kHorizontalPadding, fm.height() + 2 * kVerticalPadding);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect());
        QPainterPath capsule;
        capsule.addRoundedRect(r, r.height() / 2, r.height() / 2);
        QColor background = Qt::white;
        background.setAlphaF(float(kBackgroundOpacity));
        p.fillPath(capsule, background);
        p.setFont(font());
        p.setPen(Qt::white);
        p.drawText(r, Qt::AlignCenter | Qt::TextSingleLine, text());
    }
};

// Lays `layout` out in lines at most `width` wide, broken between words and, in a run too long
// for a line (an identifier, a repository's name), anywhere: nothing of the text is cut off.
// Returns the size the lines take.
QSizeF layOutLines(QTextLayout& layout, double width)
{
    QTextOption option(Qt::AlignLeft);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    const double leading = std::max(0.0, QFontMetricsF(layout.font()).leading());
    double y = 0;
    double widest = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (line.lineNumber() > 0)
            y += leading;
        line.setPosition(QPointF(0, y));
        y += line.height();
        widest = std::max(widest, line.naturalTextWidth());
    }
    layout.endLayout();
    return QSizeF(widest, y);
}

// The size of `text` in lines at most `maximumWidth` wide.
QSize textSize(const QFont& font, const QString& text, int maximumWidth)
{
    QTextLayout layout(text, font);
    const QSizeF size = layOutLines(layout, maximumWidth);
    // A pixel more than the advances, for the overhang of the last glyph.
    return QSize(std::min(int(std::ceil(size.width())) + 1, maximumWidth),
                 std::max(int(std::ceil(size.height())), QFontMetrics(font).height()));
}

// A verbatim text in as many lines as it needs, in its own colour.
class WrappingLabel : public QLabel
{
public:
    WrappingLabel(const QFont& font, const QColor& colour, QWidget* parent)
        : QLabel(parent)
        , m_colour(colour)
    {
        // Verbatim text, never rich text or a lookup key.
        setTextFormat(Qt::PlainText);
        setWordWrap(true);
        setAlignment(Qt::AlignLeft | Qt::AlignTop);
        setFont(font);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QTextLayout layout(text(), font());
        layOutLines(layout, width());
        QPainter p(this);
        p.setPen(m_colour);
        layout.draw(&p, QPointF(0, 0));
    }

private:
    QColor m_colour;
};

} // namespace

int NotchExpandedView::iconInset()
{
    // The pulse's room on the leading side, which the row itself would otherwise cut off; the
    // spacing after the icon holds it on the trailing side.
    return (AnimatedIcon::sideFor(kIconSize) - kIconSize) / 2;
}

QFont NotchExpandedView::headlineFont()
{
    QFont f;
    f.setPixelSize(13);
    f.setWeight(QFont::Bold);
    return f;
}

QFont NotchExpandedView::captionFont()
{
    QFont f;
    f.setPixelSize(12);
    f.setWeight(QFont::DemiBold);
    return f;
}

QFont NotchExpandedView::caption2Font()
{
    QFont f;
    f.setPixelSize(11);
    return f;
}

NotchExpandedView::NotchExpandedView(NotchViewModel* viewModel, QWidget* parent)
    : QWidget(parent)
    , m_viewModel(viewModel)
{
    setAttribute(Qt::WA_TranslucentBackground);
    const NotchViewModel fallback;
    const NotchViewModel& vm = viewModel ? *viewModel : fallback;
    m_icon = new AnimatedIcon(vm.icon(), vm.iconColor(), vm.iconAnimation(), this);
    m_title = new WrappingLabel(headlineFont(), Qt::white, this);
    QColor subtitleColour = Qt::white;
    subtitleColour.setAlphaF(float(kSubtitleOpacity));
    m_subtitle = new WrappingLabel(caption2Font(), subtitleColour, this);
    m_badge = new ProjectBadge(QString(), std::nullopt, false, false, this);
    m_open = new OpenButton(this);
    m_open->setObjectName(QStringLiteral("openButton"));
    connect(m_open, &QAbstractButton::clicked, this, [this] {
        if (const auto url = openURL())
            jw::openURL(*url);
    });

    if (viewModel) {
        // Each change redraws the row; the icon keeps its inner view unless the kind changes.
        connect(viewModel, &NotchViewModel::iconChanged, this, [this] { refresh(); });
        connect(viewModel, &NotchViewModel::iconColorChanged, this, [this] { refresh(); });
        connect(viewModel, &NotchViewModel::iconAnimationChanged, this, [this] { refresh(); });
        connect(viewModel, &NotchViewModel::titleChanged, this, [this] { refresh(); });
        connect(viewModel, &NotchViewModel::subtitleChanged, this, [this] { refresh(); });
        connect(viewModel, &NotchViewModel::issueURLChanged, this, [this] { refresh(); });
        connect(viewModel, &NotchViewModel::projectNameChanged, this, [this] { refresh(); });
        connect(viewModel, &NotchViewModel::projectURLChanged, this, [this] { refresh(); });
        connect(viewModel, &NotchViewModel::projectFailedChanged, this, [this] { refresh(); });
        connect(viewModel, &NotchViewModel::isV2ProjectChanged, this, [this] { refresh(); });
    }
    refresh();
}

std::optional<QUrl> NotchExpandedView::openURL() const
{
    if (!m_viewModel || !m_viewModel->issueURL())
        return std::nullopt;
    return parseURL(*m_viewModel->issueURL());
}

void NotchExpandedView::refresh()
{
    if (!m_viewModel)
        return;
    const NotchViewModel& vm = *m_viewModel;
    m_icon->setSystemName(vm.icon());
    m_icon->setColor(vm.iconColor());
    m_icon->setAnimation(vm.iconAnimation());
    m_title->setText(vm.title());
    m_subtitle->setText(vm.subtitle());
    m_subtitle->setVisible(!vm.subtitle().isEmpty());
    if (vm.projectName()) {
        m_badge->setName(*vm.projectName());
        m_badge->setUrlString(vm.projectURL());
        m_badge->setIsV2(vm.isV2Project());
        m_badge->setFailed(vm.projectFailed());
    }
    m_badge->setVisible(vm.projectName().has_value());
    m_open->setVisible(openURL().has_value());
    updateGeometry();
    place();
}

NotchExpandedView::Layout NotchExpandedView::measure(int maximumWidth) const
{
    Layout l;
    // Icon, column and the flexible space (at least 0), with the row's spacing between them.
    int fixedWidth = iconInset() + kIconSize + kSpacing + kSpacing;
    if (!m_open->isHidden()) {
        l.open = m_open->sizeHint();
        fixedWidth += kSpacing + l.open.width();
    }
    // The texts take what the row leaves them, up to their own limit.
    const int room = std::clamp(maximumWidth - fixedWidth, 0, kMaximumTextWidth);
    l.title = textSize(m_title->font(), m_title->text(), room);
    int columnWidth = l.title.width();
    int columnHeight = l.title.height();
    if (!m_subtitle->isHidden()) {
        l.subtitle = textSize(m_subtitle->font(), m_subtitle->text(), room);
        columnWidth = std::max(columnWidth, l.subtitle.width());
        columnHeight += kTextSpacing + l.subtitle.height();
    }
    if (!m_badge->isHidden()) {
        // On one line: a name too long for the room is cut short with an ellipsis.
        l.badge = m_badge->sizeHint();
        l.badge.setWidth(std::min(l.badge.width(), room));
        columnWidth = std::max(columnWidth, l.badge.width());
        columnHeight += kTextSpacing + l.badge.height();
    }
    l.column = QSize(columnWidth, columnHeight);
    int height = std::max({kMinimumHeight, kIconSize, columnHeight});
    if (!m_open->isHidden())
        height = std::max(height, l.open.height());
    l.total = QSize(fixedWidth + columnWidth, height + 2 * kVerticalPadding);
    return l;
}

QSize NotchExpandedView::sizeHint() const
{
    return measure(QWIDGETSIZE_MAX).total;
}

int NotchExpandedView::heightForWidth(int width) const
{
    return measure(width).total.height();
}

void NotchExpandedView::resizeEvent(QResizeEvent*)
{
    place();
}

void NotchExpandedView::place()
{
    const Layout l = measure(width());
    const int rowTop = kVerticalPadding;
    const int rowHeight = std::max(height() - 2 * kVerticalPadding, l.total.height() - 2 * kVerticalPadding);
    auto centred = [&](int h) {
        return rowTop + (rowHeight - h) / 2;
    };

    // The icon's widget reaches past its frame by the room its pulse needs.
    const int iconSide = AnimatedIcon::sideFor(kIconSize);
    const int inset = iconInset();
    m_icon->setGeometry(inset + (kIconSize - iconSide) / 2, centred(iconSide), iconSide, iconSide);
    const int columnX = inset + kIconSize + kSpacing;
    int y = centred(l.column.height());
    m_title->setGeometry(columnX, y, l.title.width(), l.title.height());
    y += l.title.height();
    if (!m_subtitle->isHidden()) {
        y += kTextSpacing;
        m_subtitle->setGeometry(columnX, y, l.subtitle.width(), l.subtitle.height());
        y += l.subtitle.height();
    }
    if (!m_badge->isHidden()) {
        y += kTextSpacing;
        m_badge->setGeometry(columnX, y, l.badge.width(), l.badge.height());
    }
    if (!m_open->isHidden()) {
        // Pushed to the trailing edge by the flexible space.
        const int x = std::max(width(), l.total.width()) - l.open.width();
        m_open->setGeometry(x, centred(l.open.height()), l.open.width(), l.open.height());
    }
}

} // namespace jw
