#include "app/views/NotchExpandedView.h"

#include "app/views/AnimatedIcon.h"
#include "app/views/NotchViewModel.h"
#include "app/views/ProjectBadge.h"
#include "platform/UrlOpener.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>

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
        setText(QStringLiteral("Open"));
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

QSize textSize(const QFont& font, const QString& text)
{
    const QFontMetrics fm(font);
    const QRect r = fm.boundingRect(QRect(0, 0, NotchExpandedView::kMaximumTextWidth, 100000),
                                    Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop,
                                    text);
    return QSize(std::min(r.width() + 1, NotchExpandedView::kMaximumTextWidth), std::max(r.height(), fm.height()));
}

QLabel* textLabel(const QFont& font, const QColor& colour, QWidget* parent)
{
    auto* label = new QLabel(parent);
    // Verbatim text, never rich text or a lookup key.
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setFont(font);
    // The label's own colour; the notch gives everything inside it plain white otherwise.
    label->setStyleSheet(QStringLiteral("color: rgba(%1, %2, %3, %4);")
                             .arg(colour.red())
                             .arg(colour.green())
                             .arg(colour.blue())
                             .arg(colour.alpha()));
    return label;
}

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
    m_title = textLabel(headlineFont(), Qt::white, this);
    QColor subtitleColour = Qt::white;
    subtitleColour.setAlphaF(float(kSubtitleOpacity));
    m_subtitle = textLabel(caption2Font(), subtitleColour, this);
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

NotchExpandedView::Layout NotchExpandedView::measure() const
{
    Layout l;
    l.title = textSize(m_title->font(), m_title->text());
    int columnWidth = l.title.width();
    int columnHeight = l.title.height();
    if (!m_subtitle->isHidden()) {
        l.subtitle = textSize(m_subtitle->font(), m_subtitle->text());
        columnWidth = std::max(columnWidth, l.subtitle.width());
        columnHeight += kTextSpacing + l.subtitle.height();
    }
    if (!m_badge->isHidden()) {
        l.badge = m_badge->sizeHint();
        columnWidth = std::max(columnWidth, l.badge.width());
        columnHeight += kTextSpacing + l.badge.height();
    }
    l.column = QSize(columnWidth, columnHeight);
    // Icon, column and the flexible space (at least 0), with the row's spacing between them.
    int width = iconInset() + kIconSize + kSpacing + columnWidth + kSpacing;
    int height = std::max({kMinimumHeight, kIconSize, columnHeight});
    if (!m_open->isHidden()) {
        l.open = m_open->sizeHint();
        width += kSpacing + l.open.width();
        height = std::max(height, l.open.height());
    }
    l.total = QSize(width, height + 2 * kVerticalPadding);
    return l;
}

QSize NotchExpandedView::sizeHint() const
{
    return measure().total;
}

void NotchExpandedView::resizeEvent(QResizeEvent*)
{
    place();
}

void NotchExpandedView::place()
{
    const Layout l = measure();
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
