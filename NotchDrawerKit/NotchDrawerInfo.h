#pragma once

#include "NotchDrawerKit/NotchDrawerInfoLabel.h"
#include "NotchDrawerKit/NotchDrawerTypes.h"

#include <QColor>
#include <QCoroTask>
#include <QObject>
#include <QString>

#include <optional>

class QScreen;

namespace jw {

class NotchDrawer;

// The kit's ready-made notch: an icon, a title and an optional description when expanded, one
// small label on each side of the notch when compact. It owns the notch object that shows it.
//
//   auto* info = new NotchDrawerInfo(NotchDrawerInfo::Label(QStringLiteral("checkmark.circle.fill"), Qt::green),
//                                    QStringLiteral("Saved"), QStringLiteral("3 files"), std::nullopt,
//                                    std::nullopt, NotchDrawerHoverBehavior::allEffects,
//                                    NotchDrawerStyle::automatic());
//   co_await info->expand(QGuiApplication::primaryScreen());
//   co_await info->compact(QGuiApplication::primaryScreen());   // the icon moves to the leading side
class NotchDrawerInfo : public QObject, public NotchDrawerControllable
{
    Q_OBJECT
    Q_PROPERTY(std::optional<jw::NotchDrawerInfoLabel> icon READ icon WRITE setIcon NOTIFY iconChanged)
    Q_PROPERTY(QString title READ title WRITE setTitle NOTIFY titleChanged)
    Q_PROPERTY(std::optional<QString> description READ description WRITE setDescription NOTIFY descriptionChanged)
    Q_PROPERTY(std::optional<QColor> textColor READ textColor WRITE setTextColor NOTIFY textColorChanged)
    Q_PROPERTY(std::optional<jw::NotchDrawerInfoLabel> compactLeading READ compactLeading WRITE setCompactLeading NOTIFY
                   compactLeadingChanged)
    Q_PROPERTY(std::optional<jw::NotchDrawerInfoLabel> compactTrailing READ compactTrailing WRITE setCompactTrailing
                   NOTIFY compactTrailingChanged)
    Q_PROPERTY(bool shouldSkipHideWhenConverting READ shouldSkipHideWhenConverting WRITE setShouldSkipHideWhenConverting
                   NOTIFY shouldSkipHideWhenConvertingChanged)

public:
    using Label = NotchDrawerInfoLabel;
    class InfoView;
    class CompactLeadingView;
    class CompactTrailingView;

    // Without a compact leading label the icon doubles as one, and switching between expanded
    // and compact skips the pass through hidden so the icon can travel between its places.
    NotchDrawerInfo(std::optional<Label> icon,
                    QString title,
                    std::optional<QString> description,
                    std::optional<Label> compactLeading,
                    std::optional<Label> compactTrailing,
                    NotchDrawerHoverBehavior hoverBehavior,
                    NotchDrawerStyle style,
                    QObject* parent = nullptr);
    ~NotchDrawerInfo() override;

    NotchDrawer* internalNotchDrawer() const { return m_internalNotchDrawer; }

    // Every write is announced, equal or not.
    const std::optional<Label>& icon() const { return m_icon; }
    void setIcon(std::optional<Label> icon);
    // A translation key, looked up in the "NotchDrawerInfo" context when shown.
    const QString& title() const { return m_title; }
    void setTitle(QString title);
    const std::optional<QString>& description() const { return m_description; }
    void setDescription(std::optional<QString> description);
    // Absent: the texts take the colours of the notch style they are drawn in.
    const std::optional<QColor>& textColor() const { return m_textColor; }
    void setTextColor(std::optional<QColor> textColor);
    // The compact sides follow these: an absent label disables its side on the internal notch.
    const std::optional<Label>& compactLeading() const { return m_compactLeading; }
    void setCompactLeading(std::optional<Label> compactLeading);
    const std::optional<Label>& compactTrailing() const { return m_compactTrailing; }
    void setCompactTrailing(std::optional<Label> compactTrailing);
    bool shouldSkipHideWhenConverting() const { return m_shouldSkipHideWhenConverting; }
    void setShouldSkipHideWhenConverting(bool skip);

    QCoro::Task<> expand(QScreen* screen) override;
    QCoro::Task<> compact(QScreen* screen) override;
    QCoro::Task<> hide() override;

Q_SIGNALS:
    void iconChanged();
    void titleChanged();
    void descriptionChanged();
    void textColorChanged();
    void compactLeadingChanged();
    void compactTrailingChanged();
    void shouldSkipHideWhenConvertingChanged();

private:
    NotchDrawer* m_internalNotchDrawer = nullptr;
    std::optional<Label> m_icon;
    QString m_title;
    std::optional<QString> m_description;
    std::optional<QColor> m_textColor;
    std::optional<Label> m_compactLeading;
    std::optional<Label> m_compactTrailing;
    bool m_shouldSkipHideWhenConverting = false;
};

} // namespace jw
