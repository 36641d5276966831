#pragma once

#include "app/views/IconAnimation.h"

#include <QColor>
#include <QObject>
#include <QString>

#include <optional>

namespace jw {

// What the island shows. Every write compares first: an equal value is stored silently, a
// different one is announced through the property's own signal, so views redraw only for
// real changes.
class NotchViewModel : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString icon READ icon WRITE setIcon NOTIFY iconChanged)
    Q_PROPERTY(QColor iconColor READ iconColor WRITE setIconColor NOTIFY iconColorChanged)
    Q_PROPERTY(jw::IconAnimation iconAnimation READ iconAnimation WRITE setIconAnimation NOTIFY iconAnimationChanged)
    Q_PROPERTY(QString title READ title WRITE setTitle NOTIFY titleChanged)
    Q_PROPERTY(QString subtitle READ subtitle WRITE setSubtitle NOTIFY subtitleChanged)
    Q_PROPERTY(std::optional<QString> issueURL READ issueURL WRITE setIssueURL NOTIFY issueURLChanged)
    Q_PROPERTY(std::optional<QString> projectName READ projectName WRITE setProjectName NOTIFY projectNameChanged)
    Q_PROPERTY(std::optional<QString> projectURL READ projectURL WRITE setProjectURL NOTIFY projectURLChanged)
    Q_PROPERTY(bool projectFailed READ projectFailed WRITE setProjectFailed NOTIFY projectFailedChanged)
    Q_PROPERTY(bool isV2Project READ isV2Project WRITE setIsV2Project NOTIFY isV2ProjectChanged)

public:
    explicit NotchViewModel(QObject* parent = nullptr);

    const QString& icon() const { return m_icon; }
    void setIcon(const QString& value);
    const QColor& iconColor() const { return m_iconColor; }
    void setIconColor(const QColor& value);
    IconAnimation iconAnimation() const { return m_iconAnimation; }
    void setIconAnimation(IconAnimation value);
    const QString& title() const { return m_title; }
    void setTitle(const QString& value);
    const QString& subtitle() const { return m_subtitle; }
    void setSubtitle(const QString& value);
    const std::optional<QString>& issueURL() const { return m_issueURL; }
    void setIssueURL(const std::optional<QString>& value);
    const std::optional<QString>& projectName() const { return m_projectName; }
    void setProjectName(const std::optional<QString>& value);
    const std::optional<QString>& projectURL() const { return m_projectURL; }
    void setProjectURL(const std::optional<QString>& value);
    bool projectFailed() const { return m_projectFailed; }
    void setProjectFailed(bool value);
    bool isV2Project() const { return m_isV2Project; }
    void setIsV2Project(bool value);

Q_SIGNALS:
    void iconChanged(const QString& icon);
    void iconColorChanged(const QColor& iconColor);
    void iconAnimationChanged(jw::IconAnimation iconAnimation);
    void titleChanged(const QString& title);
    void subtitleChanged(const QString& subtitle);
    void issueURLChanged(const std::optional<QString>& issueURL);
    void projectNameChanged(const std::optional<QString>& projectName);
    void projectURLChanged(const std::optional<QString>& projectURL);
    void projectFailedChanged(bool projectFailed);
    void isV2ProjectChanged(bool isV2Project);

private:
    QString m_icon;
    QColor m_iconColor;
    IconAnimation m_iconAnimation = IconAnimation::none;
    QString m_title;
    QString m_subtitle;
    std::optional<QString> m_issueURL;
    std::optional<QString> m_projectName;
    std::optional<QString> m_projectURL;
    bool m_projectFailed = false;
    bool m_isV2Project = false;
};

} // namespace jw
