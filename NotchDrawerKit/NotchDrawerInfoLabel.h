#pragma once

#include "NotchDrawerKit/NotchDrawerTypes.h"

#include <QColor>
#include <QImage>
#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <QUuid>
#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QTimer;

namespace jw {

// A completed fraction (0 to 1) shared between its writer and every progress label bound to
// it; labels redraw on each change.
class NotchDrawerProgressBinding : public QObject
{
    Q_OBJECT
    Q_PROPERTY(double value READ value WRITE setValue NOTIFY valueChanged)

public:
    explicit NotchDrawerProgressBinding(double value = 0, QObject* parent = nullptr)
        : QObject(parent)
        , m_value(value)
    {
    }
    static std::shared_ptr<NotchDrawerProgressBinding> make(double value)
    {
        return std::make_shared<NotchDrawerProgressBinding>(value);
    }

    double value() const { return m_value; }
    void setValue(double value);

Q_SIGNALS:
    void valueChanged(double value);

private:
    double m_value = 0;
};

// The small icon of an info notch: an image, a named symbol, a progress ring or a caller's
// widget. A value; every label made by a constructor has an identity of its own, so a newly
// made label is always a new view even when it equals the one it replaces.
class NotchDrawerInfoLabel
{
public:
    using Binding = std::shared_ptr<NotchDrawerProgressBinding>;
    using ViewBuilder = std::function<QWidget*()>;
    // A caller's widget built once and shared by every view of the label that shows it.
    using SharedView = std::shared_ptr<QWidget>;

    class Style
    {
    public:
        enum class Kind
        {
            image,
            systemImage,
            progress,
            customView
        };

        static Style image(QImage image);
        static Style systemImage(QString systemName, std::optional<QColor> color);
        static Style progress(Binding progress, std::optional<QColor> color, SharedView overlay);
        static Style customView(QUuid contentID, SharedView view);

        Kind kind() const { return m_kind; }
        const QImage& image() const { return m_image; }
        const QString& systemName() const { return m_systemName; }
        const std::optional<QColor>& color() const { return m_color; }
        const Binding& progress() const { return m_progress; }
        const SharedView& overlay() const { return m_view; }
        QUuid contentID() const { return m_contentID; }
        const SharedView& view() const { return m_view; }

        // Progress compares the values read now through the two bindings and the colours,
        // never the overlays; a custom view compares by its content identity alone.
        friend bool operator==(const Style& l, const Style& r);

    private:
        Kind m_kind = Kind::image;
        QImage m_image;
        QString m_systemName;
        std::optional<QColor> m_color;
        Binding m_progress;
        QUuid m_contentID;
        SharedView m_view;
    };

    class View;
    class ProgressRing;

    // An empty image; exists so the label can travel in properties and variants.
    NotchDrawerInfoLabel();
    explicit NotchDrawerInfoLabel(QImage image);
    NotchDrawerInfoLabel(QString systemName, std::optional<QColor> color);
    // The overlay is built once, now, and drawn centred on the ring.
    NotchDrawerInfoLabel(Binding progress, std::optional<QColor> color, ViewBuilder overlay = {});
    // The widget is built once, now.
    explicit NotchDrawerInfoLabel(ViewBuilder customView);

    QUuid id() const { return m_id; }
    const Style& iconStyle() const { return m_iconStyle; }

    // A new view of this label; its colours, ring thickness and size follow the notch style
    // and section it finds above it.
    View* makeView(QWidget* parent = nullptr) const;

    // The same label (a copy of it), not merely an equal one.
    friend bool operator==(const NotchDrawerInfoLabel& l, const NotchDrawerInfoLabel& r)
    {
        return l.m_id == r.m_id && l.m_iconStyle == r.m_iconStyle;
    }

    // Edge of the square a label takes: the 40-point info row, or a compact side of the
    // standard notch (its height less the side's insets).
    static constexpr double kExpandedSide = 40;
    static constexpr double kCompactSide = 20;
    static constexpr double kImagePadding = 4;
    static constexpr double kProgressPadding = 2;

private:
    QUuid m_id;
    Style m_iconStyle;
};

// The widget drawn for one label.
class NotchDrawerInfoLabel::View : public QWidget
{
public:
    View(NotchDrawerInfoLabel label, QWidget* parent = nullptr);
    ~View() override;

    const NotchDrawerInfoLabel& label() const { return m_label; }
    QUuid labelId() const { return m_label.id(); }
    // The symbol's or ring's colour under the current notch style.
    QColor tint() const;
    ProgressRing* progressRing() const { return m_ring; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void placeChildren();
    void adoptShared();

    NotchDrawerInfoLabel m_label;
    ProgressRing* m_ring = nullptr;
};

// A track and a trimmed arc of the bound value starting at the top; the arc fades in and sweeps
// to its value shortly after the ring comes on screen, each time it does.
class NotchDrawerInfoLabel::ProgressRing : public QWidget
{
public:
    static constexpr double kLoadDelay = 0.1;
    static constexpr double kLoadDuration = 0.8;
    static constexpr double kExpandedThickness = 4;
    static constexpr double kCompactThickness = 3;

    ProgressRing(Binding target, std::optional<QColor> color, QWidget* parent = nullptr);

    const Binding& target() const { return m_target; }
    // The label's colour, else white in a notch panel and the primary text colour elsewhere.
    QColor color() const;
    // 4 in the expanded section, 3 in the compact sides.
    double thickness() const;
    bool isLoaded() const { return m_isLoaded; }
    // How far the load animation has run now: 0 before it starts, 1 when done.
    double presentedLoad() const;
    // The same, `seconds` after the ring came on screen.
    static double loadAt(double seconds);
    // The fraction of the circle the arc covers now.
    double presentedFraction() const;
    // Shown again where it stood on screen all along (its snapshot flew there meanwhile): the
    // sweep is not a new one.
    void showSwept();

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    Binding m_target;
    std::optional<QColor> m_color;
    bool m_isLoaded = false;
    std::chrono::steady_clock::time_point m_loadStart;
    QTimer* m_frames = nullptr;
};

// The colour rules of the info views, by the notch style a widget finds above it.
struct NotchDrawerInfoColors
{
    static bool isNotch(const QWidget* widget);
    static QColor primary(const QWidget* widget);
    static QColor secondary(const QWidget* widget);
    static QColor tertiary(const QWidget* widget);
};

} // namespace jw
