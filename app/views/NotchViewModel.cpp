#include "app/views/NotchViewModel.h"

#include "app/views/SystemColors.h"

namespace jw {

namespace {

// Stores the value and reports whether it differed.
template <typename T>
bool assign(T& field, const T& value)
{
    if (field == value)
        return false;
    field = value;
    return true;
}

} // namespace

NotchViewModel::NotchViewModel(QObject* parent)
    : QObject(parent)
    , m_icon(QStringLiteral("circle.fill"))
    , m_iconColor(SystemColor::blue())
{
}

void NotchViewModel::setIcon(const QString& value)
{
    if (assign(m_icon, value))
        Q_EMIT iconChanged(m_icon);
}

void NotchViewModel::setIconColor(const QColor& value)
{
    if (assign(m_iconColor, value))
        Q_EMIT iconColorChanged(m_iconColor);
}

void NotchViewModel::setIconAnimation(IconAnimation value)
{
    if (assign(m_iconAnimation, value))
        Q_EMIT iconAnimationChanged(m_iconAnimation);
}

void NotchViewModel::setTitle(const QString& value)
{
    if (assign(m_title, value))
        Q_EMIT titleChanged(m_title);
}

void NotchViewModel::setSubtitle(const QString& value)
{
    if (assign(m_subtitle, value))
        Q_EMIT subtitleChanged(m_subtitle);
}

void NotchViewModel::setIssueURL(const std::optional<QString>& value)
{
    if (assign(m_issueURL, value))
        Q_EMIT issueURLChanged(m_issueURL);
}

void NotchViewModel::setProjectName(const std::optional<QString>& value)
{
    if (assign(m_projectName, value))
        Q_EMIT projectNameChanged(m_projectName);
}

void NotchViewModel::setProjectURL(const std::optional<QString>& value)
{
    if (assign(m_projectURL, value))
        Q_EMIT projectURLChanged(m_projectURL);
}

void NotchViewModel::setProjectFailed(bool value)
{
    if (assign(m_projectFailed, value))
        Q_EMIT projectFailedChanged(m_projectFailed);
}

void NotchViewModel::setIsV2Project(bool value)
{
    if (assign(m_isV2Project, value))
        Q_EMIT isV2ProjectChanged(m_isV2Project);
}

} // namespace jw
