#pragma once

#include "NotchDrawerKit/NotchDrawerInfo.h"
#include "NotchDrawerKit/NotchDrawerInfoLabel.h"
#include "NotchDrawerKit/Spring.h"

#include <QPixmap>
#include <QPointer>
#include <QWidget>

class QTimer;

namespace jw {

// One end of the icon that is the same element in the expanded row and on the compact leading
// side ("info_icon"). When the notch springs straight from the other end's state to this end's,
// this end flies its icon from where the other one was, drawn above the whole panel.
class NotchDrawerInfoMatchedIcon
{
public:
    static constexpr const char* kIdentifier = "info_icon";

    NotchDrawerInfoMatchedIcon(QWidget* host, NotchDrawerInfo* info, NotchDrawerState sourceState);
    ~NotchDrawerInfoMatchedIcon();

    // Follows the internal notch's state from now on; the views are built inside the notch's
    // initialiser, before the info notch holds it.
    void attach(NotchDrawer* notch);
    // The icon's widget in the host, or null.
    void setElement(QWidget* element);
    QWidget* element() const { return m_element; }
    bool isSource() const;
    // The internal notch's namespace once its panel has set one, else the host's own.
    quint64 namespaceKey() const;
    bool isFlying() const { return m_flight != nullptr; }

private:
    void onStateChanged(NotchDrawerState state);
    void startFlight(const NotchDrawerInfoMatchedIcon& from);
    void endFlight();
    // Puts the icon back on screen where it belongs now.
    void land();

    QWidget* m_host;
    QPointer<NotchDrawerInfo> m_info;
    const NotchDrawerState m_sourceState;
    const quint64 m_ownNamespace;
    NotchDrawerState m_lastState = NotchDrawerState::hidden;
    QPointer<QWidget> m_element;
    QPointer<QWidget> m_flight;
    QMetaObject::Connection m_flightGone;
};

// The expanded row of an info notch: icon, title and optional description, 40 points high.
class NotchDrawerInfo::InfoView : public QWidget
{
public:
    static constexpr double kHeight = 40;
    static constexpr double kSpacing = 10;
    static constexpr double kTextSpacing = 2;

    explicit InfoView(NotchDrawerInfo* notchDrawer, QWidget* parent = nullptr);
    ~InfoView() override;

    NotchDrawerInfo* notchDrawer() const { return m_notchDrawer; }
    Label::View* iconView() const { return m_icon; }
    NotchDrawerInfoMatchedIcon& matchedIcon() { return m_matched; }

    QColor titleColor() const;
    QColor descriptionColor() const;
    // Where the texts are drawn, in this widget: no wider than the room beside the icon, where
    // a longer text ends in an ellipsis.
    QRectF titleRect() const;
    QRectF descriptionRect() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void rebuildIcon();
    void texts(QString* title, QString* description) const;
    QSizeF titleSize() const;
    QSizeF descriptionSize() const;
    double textLeft() const;
    double textRoom() const;

    QPointer<NotchDrawerInfo> m_notchDrawer;
    Label::View* m_icon = nullptr;
    NotchDrawerInfoMatchedIcon m_matched;
};

// One compact side showing a label; a replacement fades, scales from 0.8 about the centre and
// sharpens from a 10-point blur, the old label doing the reverse.
class NotchDrawerInfoCompactSide : public QWidget
{
public:
    static constexpr Spring kReplaceSpring{0.5, 1.0};
    static constexpr double kScale = 0.8;
    static constexpr double kBlur = 10;

    NotchDrawerInfoCompactSide(NotchDrawerInfo* notchDrawer, bool leading, QWidget* parent);
    ~NotchDrawerInfoCompactSide() override;

    NotchDrawerInfo* notchDrawer() const { return m_notchDrawer; }
    NotchDrawerInfo::Label::View* labelView() const { return m_current; }
    bool isTransitioning() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // Called with each new label view, before it is shown.
    virtual void labelViewChanged(NotchDrawerInfo::Label::View*) {}

private:
    void rebuild();
    bool step();

    QPointer<NotchDrawerInfo> m_notchDrawer;
    const bool m_leading;
    NotchDrawerInfo::Label::View* m_current = nullptr;
    QPixmap m_outgoing;
    QRectF m_outgoingRect;
    AnimatedValue m_in{1};
    AnimatedValue m_out{0};
    QTimer* m_frames;
};

class NotchDrawerInfo::CompactLeadingView : public NotchDrawerInfoCompactSide
{
public:
    explicit CompactLeadingView(NotchDrawerInfo* notchDrawer, QWidget* parent = nullptr);
    NotchDrawerInfoMatchedIcon& matchedIcon() { return m_matched; }

protected:
    void labelViewChanged(Label::View* view) override { m_matched.setElement(view); }

private:
    NotchDrawerInfoMatchedIcon m_matched;
};

class NotchDrawerInfo::CompactTrailingView : public NotchDrawerInfoCompactSide
{
public:
    explicit CompactTrailingView(NotchDrawerInfo* notchDrawer, QWidget* parent = nullptr);
};

} // namespace jw
