// A build from an Intel HEX file (tests/shell/CMakeLists.txt writes it; the build's
// converter made the image and its layout): start-up flags the file's blocks alone and
// says what it leaves out, and an update writes those blocks and nothing else.
#include "QtPrinters.h"
#include "ShellTestSupport.h"
#include "tools/unitsim/UnitSim.h"

#include <gmock/gmock.h>

namespace {

using HexBuild = TShellTest;
using ::testing::ElementsAre;

constexpr int RunBoundMs = 60000;

TEST_F(HexBuild, StartUpFlagsTheFilesBlocksAndAnUpdateWritesOnlyThose) {
    TUnitSim unit;
    ASSERT_TRUE(unit.Start()) << unit.LastError();
    ASSERT_TRUE(unit.WritePortMap(DirPath().toStdString(), 1));
    TMainForm& form = StartForm();
    EXPECT_TRUE(MessageTexts().empty());
    EXPECT_EQ(form.ImageFormat, TImageFormat::IntelHex);
    std::vector<size_t> flagged;
    for (size_t block = 0; block < form.BlockPresent.size(); ++block) {
        if (form.BlockPresent[block] != 0) {
            flagged.push_back(block);
        }
    }
    EXPECT_THAT(flagged, ElementsAre(0, 0x0800 / 128, 0x0C00 / 128, 0x0C80 / 128));
    EXPECT_EQ(LogLines(), QStringList{"Left out 4 bytes outside program memory 0x0800..0xBFFF: "
                                      "0x0000..0x0001, 0x300000..0x300001"});
    ASSERT_TRUE(form.Button6->isEnabled());

    ASSERT_TRUE(RunUpdate(RunBoundMs));
    EXPECT_EQ(LogLines().last(), "Finalising Upgrade.....Done");
    const TUnitSimReport report = unit.Report();
    EXPECT_TRUE(report.UpdaterFaults.empty());
    EXPECT_EQ(report.Writes, 3u);
    EXPECT_EQ(report.Erases, 92u);
    // The file's bytes where it gave them; erased flash everywhere else in the range.
    for (uint32_t address = 0x0800; address <= 0xBFFF; ++address) {
        uint8_t expected = 0xFF;
        if (address >= 0x0800 && address <= 0x080F) {
            expected = static_cast<uint8_t>(0x10 + address - 0x0800);
        } else if (address >= 0x0C7C && address <= 0x0C83) {
            expected = static_cast<uint8_t>(0xA0 + address - 0x0C7C);
        }
        ASSERT_EQ(report.Flash[address], expected) << "at " << address;
    }
}

} // namespace
