#include "NotchDrawerKit/NotchDrawerInfo.h"

#include "NotchDrawerKit/NotchDrawer.h"
#include "NotchDrawerKit/NotchDrawerInfoHelperViews.h"

namespace jw {

NotchDrawerInfo::NotchDrawerInfo(std::optional<Label> icon,
                                 QString title,
                                 std::optional<QString> description,
                                 std::optional<Label> compactLeading,
                                 std::optional<Label> compactTrailing,
                                 NotchDrawerHoverBehavior hoverBehavior,
                                 NotchDrawerStyle style,
                                 QObject* parent)
    : QObject(parent)
    , m_icon(std::move(icon))
    , m_title(std::move(title))
    , m_description(std::move(description))
{
    // A child: the info notch and its notch object live and die together.
    m_internalNotchDrawer = new NotchDrawer(
        hoverBehavior,
        style,
        [this] { return new InfoView(this); },
        [this] { return new CompactLeadingView(this); },
        [this] { return new CompactTrailingView(this); },
        this);
    static_cast<InfoView*>(m_internalNotchDrawer->expandedContent())->matchedIcon().attach(m_internalNotchDrawer);
    static_cast<CompactLeadingView*>(m_internalNotchDrawer->compactLeadingContent())
        ->matchedIcon()
        .attach(m_internalNotchDrawer);
    if (!compactLeading) {
        setCompactLeading(m_icon);
        setShouldSkipHideWhenConverting(true);
    } else {
        setCompactLeading(std::move(compactLeading));
    }
    setCompactTrailing(std::move(compactTrailing));
}

NotchDrawerInfo::~NotchDrawerInfo() = default;

void NotchDrawerInfo::setIcon(std::optional<Label> icon)
{
    m_icon = std::move(icon);
    Q_EMIT iconChanged();
}

void NotchDrawerInfo::setTitle(QString title)
{
    m_title = std::move(title);
    Q_EMIT titleChanged();
}

void NotchDrawerInfo::setDescription(std::optional<QString> description)
{
    m_description = std::move(description);
    Q_EMIT descriptionChanged();
}

void NotchDrawerInfo::setTextColor(std::optional<QColor> textColor)
{
    m_textColor = textColor;
    Q_EMIT textColorChanged();
}

void NotchDrawerInfo::setCompactLeading(std::optional<Label> compactLeading)
{
    m_compactLeading = std::move(compactLeading);
    Q_EMIT compactLeadingChanged();
    m_internalNotchDrawer->setDisableCompactLeading(!m_compactLeading.has_value());
}

void NotchDrawerInfo::setCompactTrailing(std::optional<Label> compactTrailing)
{
    m_compactTrailing = std::move(compactTrailing);
    Q_EMIT compactTrailingChanged();
    m_internalNotchDrawer->setDisableCompactTrailing(!m_compactTrailing.has_value());
}

void NotchDrawerInfo::setShouldSkipHideWhenConverting(bool skip)
{
    m_shouldSkipHideWhenConverting = skip;
    Q_EMIT shouldSkipHideWhenConvertingChanged();
}

// The flag is read when the call is made; the notch object's task does the rest.
QCoro::Task<> NotchDrawerInfo::expand(QScreen* screen)
{
    return m_internalNotchDrawer->expand(screen, m_shouldSkipHideWhenConverting);
}

QCoro::Task<> NotchDrawerInfo::compact(QScreen* screen)
{
    return m_internalNotchDrawer->compact(screen, m_shouldSkipHideWhenConverting);
}

QCoro::Task<> NotchDrawerInfo::hide()
{
    return m_internalNotchDrawer->hide();
}

} // namespace jw
