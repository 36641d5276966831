#pragma once

#include <QCoroTask>

#include <cstdint>
#include <initializer_list>

class QScreen;

namespace jw {

enum class NotchDrawerState
{
    expanded,
    compact,
    hidden
};

enum class NotchDrawerSection
{
    expanded,
    compactLeading,
    compactTrailing
};

// The style a panel is drawn in. `auto` is a C++ keyword, so that case is spelled `automatic`.
class NotchDrawerStyle
{
public:
    enum class Kind
    {
        notch,
        floating,
        automatic
    };

    constexpr NotchDrawerStyle() = default;

    static constexpr NotchDrawerStyle notch(double topCornerRadius, double bottomCornerRadius)
    {
        return NotchDrawerStyle(Kind::notch, topCornerRadius, bottomCornerRadius);
    }
    static constexpr NotchDrawerStyle floating(double cornerRadius)
    {
        return NotchDrawerStyle(Kind::floating, cornerRadius, 0);
    }
    static constexpr NotchDrawerStyle automatic() { return NotchDrawerStyle(); }

    static constexpr NotchDrawerStyle standardNotch() { return notch(15, 20); }
    static constexpr NotchDrawerStyle standardFloating() { return floating(20); }

    constexpr Kind kind() const { return m_kind; }
    constexpr bool isNotch() const { return m_kind == Kind::notch; }
    constexpr bool isFloating() const { return m_kind == Kind::floating; }
    constexpr bool isAutomatic() const { return m_kind == Kind::automatic; }

    // Payloads; zero for the cases that do not carry them.
    constexpr double topCornerRadius() const { return m_kind == Kind::notch ? m_a : 0; }
    constexpr double bottomCornerRadius() const { return m_kind == Kind::notch ? m_b : 0; }
    constexpr double cornerRadius() const { return m_kind == Kind::floating ? m_a : 0; }

    friend constexpr bool operator==(const NotchDrawerStyle& l, const NotchDrawerStyle& r)
    {
        if (l.m_kind != r.m_kind)
            return false;
        switch (l.m_kind) {
        case Kind::notch:
            return l.m_a == r.m_a && l.m_b == r.m_b;
        case Kind::floating:
            return l.m_a == r.m_a;
        case Kind::automatic:
            return true;
        }
        return false;
    }

private:
    constexpr NotchDrawerStyle(Kind kind, double a, double b)
        : m_kind(kind)
        , m_a(a)
        , m_b(b)
    {
    }

    Kind m_kind = Kind::automatic;
    double m_a = 0;
    double m_b = 0;
};

// An option set over a signed machine word; only the three low bits carry meaning.
struct NotchDrawerHoverBehavior
{
    std::intptr_t rawValue = 0;

    constexpr NotchDrawerHoverBehavior() = default;
    constexpr explicit NotchDrawerHoverBehavior(std::intptr_t raw)
        : rawValue(raw)
    {
    }
    constexpr NotchDrawerHoverBehavior(std::initializer_list<NotchDrawerHoverBehavior> options)
    {
        for (const auto& option : options)
            rawValue |= option.rawValue;
    }

    static const NotchDrawerHoverBehavior holdWhileHovered;
    static const NotchDrawerHoverBehavior hapticOnHover;
    static const NotchDrawerHoverBehavior shadowOnHover;
    static const NotchDrawerHoverBehavior allEffects;

    constexpr bool isEmpty() const { return rawValue == 0; }
    constexpr bool contains(NotchDrawerHoverBehavior member) const
    {
        return (rawValue & member.rawValue) == member.rawValue;
    }
    constexpr NotchDrawerHoverBehavior unioned(NotchDrawerHoverBehavior other) const
    {
        return NotchDrawerHoverBehavior(rawValue | other.rawValue);
    }
    constexpr NotchDrawerHoverBehavior intersection(NotchDrawerHoverBehavior other) const
    {
        return NotchDrawerHoverBehavior(rawValue & other.rawValue);
    }
    constexpr void insert(NotchDrawerHoverBehavior member) { rawValue |= member.rawValue; }
    constexpr void remove(NotchDrawerHoverBehavior member) { rawValue &= ~member.rawValue; }

    friend constexpr bool operator==(NotchDrawerHoverBehavior, NotchDrawerHoverBehavior) = default;
    friend constexpr NotchDrawerHoverBehavior operator|(NotchDrawerHoverBehavior l, NotchDrawerHoverBehavior r)
    {
        return l.unioned(r);
    }
    friend constexpr NotchDrawerHoverBehavior operator&(NotchDrawerHoverBehavior l, NotchDrawerHoverBehavior r)
    {
        return l.intersection(r);
    }
};

inline constexpr NotchDrawerHoverBehavior NotchDrawerHoverBehavior::holdWhileHovered{std::intptr_t(1)};
inline constexpr NotchDrawerHoverBehavior NotchDrawerHoverBehavior::hapticOnHover{std::intptr_t(2)};
inline constexpr NotchDrawerHoverBehavior NotchDrawerHoverBehavior::shadowOnHover{std::intptr_t(4)};
inline constexpr NotchDrawerHoverBehavior NotchDrawerHoverBehavior::allEffects{std::intptr_t(7)};

// The three operations every notch front end offers.
class NotchDrawerControllable
{
public:
    virtual ~NotchDrawerControllable() = default;
    // Returns when the expand animation has had its time.
    virtual QCoro::Task<> expand(QScreen* screen) = 0;
    virtual QCoro::Task<> compact(QScreen* screen) = 0;
    // Returns when the panel has been hidden and closed.
    virtual QCoro::Task<> hide() = 0;
};

} // namespace jw
