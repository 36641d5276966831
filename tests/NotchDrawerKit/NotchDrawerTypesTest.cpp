#include "NotchDrawerKit/NotchDrawerTypes.h"

#include "NotchDrawerKit/NotchEnvironment.h"

#include <QLabel>
#include <QWidget>

#include <gtest/gtest.h>

namespace jw {

TEST(NotchDrawerStyle, EqualityComparesCaseThenPayloadFieldByField)
{
    EXPECT_EQ(NotchDrawerStyle::automatic(), NotchDrawerStyle::automatic());
    EXPECT_EQ(NotchDrawerStyle::notch(15, 20), NotchDrawerStyle::standardNotch());
    EXPECT_NE(NotchDrawerStyle::notch(15, 21), NotchDrawerStyle::standardNotch());
    EXPECT_NE(NotchDrawerStyle::notch(20, 15), NotchDrawerStyle::standardNotch());
    EXPECT_NE(NotchDrawerStyle::notch(20, 20), NotchDrawerStyle::floating(20));
    EXPECT_EQ(NotchDrawerStyle::floating(20), NotchDrawerStyle::standardFloating());
    EXPECT_NE(NotchDrawerStyle::floating(12), NotchDrawerStyle::standardFloating());
    EXPECT_NE(NotchDrawerStyle::floating(0), NotchDrawerStyle::automatic());
    EXPECT_DOUBLE_EQ(NotchDrawerStyle::standardNotch().topCornerRadius(), 15);
    EXPECT_DOUBLE_EQ(NotchDrawerStyle::standardNotch().bottomCornerRadius(), 20);
}

TEST(NotchDrawerHoverBehavior, IsAnOptionSetOverThreeBits)
{
    const NotchDrawerHoverBehavior haptic{NotchDrawerHoverBehavior::hapticOnHover};
    EXPECT_EQ(haptic.rawValue, 2);
    EXPECT_TRUE(haptic.contains(NotchDrawerHoverBehavior::hapticOnHover));
    EXPECT_FALSE(haptic.contains(NotchDrawerHoverBehavior::holdWhileHovered));
    EXPECT_FALSE(haptic.contains(NotchDrawerHoverBehavior::shadowOnHover));

    for (auto option : {NotchDrawerHoverBehavior::holdWhileHovered,
                        NotchDrawerHoverBehavior::hapticOnHover,
                        NotchDrawerHoverBehavior::shadowOnHover}) {
        EXPECT_TRUE(NotchDrawerHoverBehavior::allEffects.contains(option));
        EXPECT_FALSE(NotchDrawerHoverBehavior{}.contains(option));
    }
    EXPECT_EQ(NotchDrawerHoverBehavior::allEffects.rawValue, 7);
    EXPECT_TRUE(NotchDrawerHoverBehavior{}.isEmpty());

    NotchDrawerHoverBehavior set{NotchDrawerHoverBehavior::holdWhileHovered, NotchDrawerHoverBehavior::shadowOnHover};
    EXPECT_EQ(set.rawValue, 5);
    set.insert(NotchDrawerHoverBehavior::hapticOnHover);
    EXPECT_EQ(set, NotchDrawerHoverBehavior::allEffects);
    set.remove(NotchDrawerHoverBehavior::holdWhileHovered);
    EXPECT_EQ(set.rawValue, 6);
    EXPECT_EQ((set & NotchDrawerHoverBehavior::holdWhileHovered).rawValue, 0);
    EXPECT_EQ((set | NotchDrawerHoverBehavior::holdWhileHovered), NotchDrawerHoverBehavior::allEffects);
    EXPECT_EQ(NotchDrawerHoverBehavior(std::intptr_t(-1)).contains(NotchDrawerHoverBehavior::allEffects), true);
}

TEST(NotchEnvironment, DefaultsOutsideAnyPanel)
{
    QLabel label;
    EXPECT_EQ(EnvironmentValues::notchStyle(&label), NotchDrawerStyle::automatic());
    EXPECT_EQ(EnvironmentValues::notchSection(&label), NotchDrawerSection::expanded);
    EXPECT_EQ(EnvironmentValues::notchStyle(nullptr), NotchDrawerStyle::automatic());
}

TEST(NotchEnvironment, DescendantsReadTheNearestValueUpTheParentChain)
{
    QWidget root;
    auto* middle = new QWidget(&root);
    auto* leaf = new QLabel(middle);
    EnvironmentValues::setNotchStyle(&root, NotchDrawerStyle::floating(12));
    EnvironmentValues::setNotchSection(middle, NotchDrawerSection::compactTrailing);
    EXPECT_EQ(EnvironmentValues::notchStyle(leaf), NotchDrawerStyle::floating(12));
    EXPECT_EQ(EnvironmentValues::notchSection(leaf), NotchDrawerSection::compactTrailing);
    EXPECT_EQ(EnvironmentValues::notchSection(&root), NotchDrawerSection::expanded);

    // A closer value wins, and a widget moved elsewhere reads its new ancestors.
    EnvironmentValues::setNotchStyle(middle, NotchDrawerStyle::standardNotch());
    EXPECT_EQ(EnvironmentValues::notchStyle(leaf), NotchDrawerStyle::standardNotch());
    leaf->setParent(&root);
    EXPECT_EQ(EnvironmentValues::notchStyle(leaf), NotchDrawerStyle::floating(12));
    EXPECT_EQ(EnvironmentValues::notchSection(leaf), NotchDrawerSection::expanded);
}

} // namespace jw
