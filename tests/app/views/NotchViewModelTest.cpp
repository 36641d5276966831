#include "IslandTestSupport.h"
#include "app/views/SystemColors.h"

#include <QMetaProperty>

#include <gtest/gtest.h>

namespace jw {

using namespace jw::test;

namespace {

TEST(NotchViewModel, StartsWithItsInitialValues)
{
    NotchViewModel vm;
    EXPECT_EQ(vm.icon(), QStringLiteral("circle.fill"));
    EXPECT_EQ(vm.iconColor(), SystemColor::blue());
    EXPECT_EQ(vm.iconAnimation(), IconAnimation::none);
    EXPECT_TRUE(vm.title().isEmpty());
    EXPECT_TRUE(vm.subtitle().isEmpty());
    EXPECT_FALSE(vm.issueURL().has_value());
    EXPECT_FALSE(vm.projectName().has_value());
    EXPECT_FALSE(vm.projectURL().has_value());
    EXPECT_FALSE(vm.projectFailed());
    EXPECT_FALSE(vm.isV2Project());
}

TEST(NotchViewModel, EveryPropertyIsObservedThroughItsOwnSignal)
{
    const QMetaObject& mo = NotchViewModel::staticMetaObject;
    const QStringList expected = {"icon",
                                  "iconColor",
                                  "iconAnimation",
                                  "title",
                                  "subtitle",
                                  "issueURL",
                                  "projectName",
                                  "projectURL",
                                  "projectFailed",
                                  "isV2Project"};
    QStringList names;
    QSet<int> signalIndexes;
    for (int i = mo.propertyOffset(); i < mo.propertyCount(); ++i) {
        const QMetaProperty p = mo.property(i);
        names << QString::fromLatin1(p.name());
        EXPECT_TRUE(p.hasNotifySignal()) << p.name();
        signalIndexes.insert(p.notifySignalIndex());
    }
    EXPECT_EQ(names, expected);
    EXPECT_EQ(signalIndexes.size(), 10);
}

TEST(NotchViewModel, EachWriteAnnouncesOnlyARealChangeOfItsOwnProperty)
{
    NotchViewModel vm;
    ViewModelSpies spies(&vm);
    // Equal values: nothing at all.
    vm.setIcon(QStringLiteral("circle.fill"));
    vm.setIconColor(QColor(0, 122, 255));
    vm.setIconAnimation(IconAnimation::none);
    vm.setTitle(QString());
    vm.setSubtitle(QStringLiteral(""));
    vm.setIssueURL(std::nullopt);
    vm.setProjectName(std::nullopt);
    vm.setProjectURL(std::nullopt);
    vm.setProjectFailed(false);
    vm.setIsV2Project(false);
    EXPECT_EQ(spies.total(), 0);

    // One change each, twice over: one announcement per property.
    for (int round = 0; round < 2; ++round) {
        vm.setIcon(QStringLiteral("gear"));
        vm.setIconColor(SystemColor::red());
        vm.setIconAnimation(IconAnimation::pulsing);
        vm.setTitle(QStringLiteral("t"));
        vm.setSubtitle(QStringLiteral("s"));
        vm.setIssueURL(QStringLiteral("https://x.test/1"));
        vm.setProjectName(QStringLiteral("p"));
        vm.setProjectURL(QStringLiteral("https://x.test/p"));
        vm.setProjectFailed(true);
        vm.setIsV2Project(true);
    }
    for (const auto& spy : spies.spies)
        EXPECT_EQ(spy->count(), 1);
}

TEST(NotchViewModel, AnEmptyOptionalTextDiffersFromAnAbsentOne)
{
    NotchViewModel vm;
    QSignalSpy spy(&vm, &NotchViewModel::issueURLChanged);
    vm.setIssueURL(QString());
    vm.setIssueURL(std::nullopt);
    EXPECT_EQ(spy.count(), 2);
}

TEST(NotchViewModel, PropertiesReadThroughTheMetaObject)
{
    NotchViewModel vm;
    vm.setIconAnimation(IconAnimation::rotating);
    EXPECT_EQ(vm.property("iconAnimation").value<IconAnimation>(), IconAnimation::rotating);
    EXPECT_EQ(vm.property("icon").toString(), QStringLiteral("circle.fill"));
}

} // namespace
} // namespace jw
