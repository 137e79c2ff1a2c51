// The settings as the program reads them: defaults, atoi rules, exact-text switches.
#include <gtest/gtest.h>

#include <climits>

#include "app/startup.h"
#include "core/text_number.h"
#include "platform/registry.h"
#include "support/test_support.h"

namespace tessel {
namespace {

TEST(TextNumber, FollowsAtoiWithoutOverflow) {
    EXPECT_EQ(atoiText("1024px"), 1024);
    EXPECT_EQ(atoiText("px"), 0);
    EXPECT_EQ(atoiText(""), 0);
    EXPECT_EQ(atoiText("  \t 5"), 5);
    EXPECT_EQ(atoiText("-7"), -7);
    EXPECT_EQ(atoiText("+4"), 4);
    EXPECT_EQ(atoiText("3.9"), 3);
    EXPECT_EQ(atoiText("1e3"), 1);
    EXPECT_EQ(atoiText("0x10"), 0);
    EXPECT_EQ(atoiText("99999999999999999999"), INT_MAX);
    EXPECT_EQ(atoiText("-99999999999999999999"), INT_MIN);
    EXPECT_EQ(atoiText(nullptr), 0);
}

TEST(Registry, GivesDefaultsForEveryWayAValueCanBeMissing) {
    test::TempDir dir;
    setenv("TESSEL_CONFIG", dir.file("none.conf").c_str(), 1);
    cRegistry registry;
    EXPECT_EQ(registry.readValue("firstrun", "0"), "0");
    EXPECT_EQ(registry.readValue("nic", ""), "");

    test::writeFile(dir.file("t.conf"),
                    "[Software\\Ashgrove\\Tessel]\nfullscreen=true\ntransparency=\nwidth=px\n");
    setenv("TESSEL_CONFIG", dir.file("t.conf").c_str(), 1);
    EXPECT_EQ(registry.readValue("fullscreen", "1"), "true");  // not "1": full screen
    EXPECT_EQ(registry.readValue("transparency", "1"), "");    // not "0": translucent
    EXPECT_EQ(atoiText(registry.readValue("width", "1000")), 0);
    EXPECT_EQ(registry.readValue("height", "600"), "600");
}

TEST(Registry, VideoDriverValuesMapToDriversThatExistHere) {
    using irr::video::EDT_BURNINGSVIDEO;
    using irr::video::EDT_OPENGL;
    using irr::video::EDT_SOFTWARE;
    EXPECT_EQ(driverTypeForSetting(0), EDT_OPENGL);  // Direct3D 9 does not exist on Linux
    EXPECT_EQ(driverTypeForSetting(1), EDT_OPENGL);
    EXPECT_EQ(driverTypeForSetting(2), EDT_OPENGL);
    EXPECT_EQ(driverTypeForSetting(3), EDT_SOFTWARE);
    EXPECT_EQ(driverTypeForSetting(4), EDT_BURNINGSVIDEO);
    EXPECT_EQ(driverTypeForSetting(-5), EDT_OPENGL);
    EXPECT_EQ(driverTypeForSetting(99), EDT_OPENGL);
}

}  // namespace
}  // namespace tessel
