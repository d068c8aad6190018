// A port name that comes to lead to another unit while a run is on: two identical
// adapters without a serial number share one /dev/serial/by-id name, and udev points it
// at the one plugged in last. The run must not follow the name to the other unit.
#include "tests/cli/CliTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

namespace {

using ::testing::HasSubstr;

// Points the link at Target in one step, as udev replaces a link.
bool PointLink(const std::string& Link, const std::string& Target) {
    const std::string next = Link + ".new";
    return ::symlink(Target.c_str(), next.c_str()) == 0 &&
           std::rename(next.c_str(), Link.c_str()) == 0;
}

TEST(CliDeviceMoveTest, ANameMovedToAnotherUnitMidRunEndsTheRunAndTheOtherUnitHearsNothing) {
    TUnitSimConfig slow;
    slow.OtherMs = 400; // the switch into the bootloader takes this long
    TCliStation station(slow);
    TUnitSimConfig inBoot;
    inBoot.StartMode = TUnitMode::Boot;
    TUnitSim other(inBoot);
    ASSERT_TRUE(other.Start()) << other.LastError();
    const std::string link = station.File("usb-Maker_UART-if00-port0");
    ASSERT_TRUE(PointLink(link, station.Unit().SlavePath()));

    const std::unique_ptr<TChildProcess> program = station.Start({"--port", link});
    // Printed once the unit's identity has been read.
    ASSERT_EQ(program->ReadLine(CliBoundMs), "Initialising Upgrade.....Done (1)");
    ASSERT_TRUE(PointLink(link, other.SlavePath()));
    const TCliResult result = Collect(*program);

    const TUnitSimReport moved = other.Report();
    EXPECT_EQ(moved.Erases, 0u);
    EXPECT_EQ(moved.Writes, 0u);
    EXPECT_TRUE(moved.Frames.empty()) << moved.Frames.size() << " frames reached the other unit";
    EXPECT_NE(result.Status, 0);
    ASSERT_FALSE(result.Lines.empty());
    EXPECT_THAT(result.Lines.back(), ::testing::Not(HasSubstr("complete")));
    EXPECT_THAT(result.Errors, HasSubstr("another device")) << "stderr says why";
    EXPECT_EQ(station.Unit().Report().Erases, 0u);
}

} // namespace
