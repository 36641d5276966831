#pragma once

#include <QColor>
#include <QWidget>

#include <optional>

namespace jw {

// The small capsule naming the Projects board of a confirmed issue. A single tap opens the
// board's address when it parses; the badge is not a button and has no pressed look.
class ProjectBadge : public QWidget
{
    Q_OBJECT
public:
    static constexpr double kSpacing = 4;
    static constexpr double kHorizontalPadding = 7;
    static constexpr double kVerticalPadding = 3;
    static constexpr double kSymbolFontSize = 9;
    static constexpr double kTextFontSize = 10;
    static constexpr double kTextOpacity = 0.9;
    static constexpr double kFillOpacity = 0.18;
    static constexpr double kStrokeOpacity = 0.4;
    static constexpr double kStrokeWidth = 0.5;
    // Beyond this the name is cut short with an ellipsis: the badge stays on one line.
    static constexpr int kMaximumTextWidth = 220;
    // The violet of a Projects (v2) board, sRGB.
    static QColor v2Color() { return QColor::fromRgbF(0.47f, 0.36f, 0.96f, 1.0f); }

    ProjectBadge(const QString& name,
                 const std::optional<QString>& urlString,
                 bool isV2,
                 bool failed,
                 QWidget* parent = nullptr);

    const QString& name() const { return m_name; }
    const std::optional<QString>& urlString() const { return m_urlString; }
    bool isV2() const { return m_isV2; }
    bool failed() const { return m_failed; }
    void setName(const QString& name);
    void setUrlString(const std::optional<QString>& urlString);
    void setIsV2(bool isV2);
    void setFailed(bool failed);

    static QColor badgeColor(bool isV2, bool failed);
    QColor badgeColor() const { return badgeColor(m_isV2, m_failed); }
    QString symbolName() const;
    QString text() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QFont textFont() const;
    double symbolSide() const;
    int textWidth() const;
    void changed();

    QString m_name;
    std::optional<QString> m_urlString;
    bool m_isV2 = false;
    bool m_failed = false;
    bool m_pressed = false;
};

} // namespace jw
