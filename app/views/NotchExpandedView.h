#pragma once

#include <QAbstractButton>
#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <optional>

class QLabel;

namespace jw {

class AnimatedIcon;
class NotchViewModel;
class ProjectBadge;

// The island's row: the animated status icon, the title with its second line and the project
// badge, a flexible space, and the "Open" button for the issue. Redrawn from the view model
// whenever one of its properties changes; it draws no background of its own.
class NotchExpandedView : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kSpacing = 10;
    static constexpr int kIconSize = 30;
    static constexpr int kTextSpacing = 3;
    static constexpr int kMinimumHeight = 40;
    static constexpr int kVerticalPadding = 4;
    static constexpr double kSubtitleOpacity = 0.5;
    // Texts have no line limit; past this width, or the room the row leaves them, they wrap
    // rather than widen the island further.
    static constexpr int kMaximumTextWidth = 280;

    // Leading room before the icon's frame, for its pulse.
    static int iconInset();

    // Text styles.
    static QFont headlineFont();
    static QFont captionFont();
    static QFont caption2Font();

    explicit NotchExpandedView(NotchViewModel* viewModel, QWidget* parent = nullptr);

    NotchViewModel* viewModel() const { return m_viewModel; }
    AnimatedIcon* icon() const { return m_icon; }
    QLabel* titleLabel() const { return m_title; }
    QLabel* subtitleLabel() const { return m_subtitle; }
    ProjectBadge* badge() const { return m_badge; }
    QAbstractButton* openButton() const { return m_open; }
    // The address "Open" leads to, when the issue address parses.
    std::optional<QUrl> openURL() const;

    // Narrower than its ideal size, the texts wrap into more lines and the badge is cut short.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Layout
    {
        QSize title;
        QSize subtitle;
        QSize badge;
        QSize open;
        QSize column;
        QSize total;
    };
    // Laid out in at most `maximumWidth`.
    Layout measure(int maximumWidth) const;
    void refresh();
    void place();

    QPointer<NotchViewModel> m_viewModel;
    AnimatedIcon* m_icon;
    QLabel* m_title;
    QLabel* m_subtitle;
    ProjectBadge* m_badge;
    QAbstractButton* m_open;
};

} // namespace jw
