// bootload-cli --image with an Intel HEX file, end to end against the simulated unit: only
// the blocks the file holds data for are written, the progress counts only those, and the
// output and the report say what was sent and what was left out.
#include "QtPrinters.h"
#include "tests/cli/CliTestSupport.h"

#include <QCryptographicHash>
#include <QJsonArray>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// 16 bytes at 0x0800, 8 across the block boundary at 0x0C80, and bytes below program
// memory and far above it (configuration) that are not sent.
const char* const PartialHex = ":02000000EF040B\r\n"
                               ":10080000101112131415161718191A1B1C1D1E1F70\r\n"
                               ":080C7C00A0A1A2A3A4A5A6A754\r\n"
                               ":020000040030CA\r\n"
                               ":020000005AA5FF\r\n"
                               ":00000001FF\r\n";

void WriteText(const std::string& Path, const char* Text) {
    std::ofstream(Path, std::ios::binary) << Text;
}

TEST(CliHexImageTest, PartialHexImageWritesOnlyItsBlocksAndTheRestReadsBackErased) {
    TCliStation station;
    WriteText(station.File("part.hex"), PartialHex);
    const TCliResult result = station.Run({"--port", "COM3", "--image", "part.hex", "--processor",
                                           "5525", "--model", "5516", "--json", "run.json"});
    ASSERT_EQ(result.Status, 0) << result.Errors;
    const std::string leftOut = "Left out 4 bytes outside program memory 0x0800..0xBFFF: "
                                "0x0000..0x0001, 0x300000..0x300001";
    EXPECT_THAT(result.Lines, Contains(leftOut));
    std::vector<std::string> sending;
    for (const std::string& line : result.Lines) {
        if (line.rfind("Sending New Program Data......", 0) == 0 && line.back() == '%') {
            sending.push_back(line.substr(30));
        }
    }
    EXPECT_THAT(sending, ElementsAre("0%", "33%", "66%", "100%"));

    const TUnitSimReport unit = station.Unit().Report();
    EXPECT_TRUE(unit.UpdaterFaults.empty());
    EXPECT_EQ(unit.Writes, 3u);
    QByteArray sent;
    for (uint32_t address = 0x0800; address <= 0xBFFF; ++address) {
        uint8_t expected = 0xFF;
        if (address <= 0x080F) {
            expected = static_cast<uint8_t>(0x10 + address - 0x0800);
        } else if (address >= 0x0C7C && address <= 0x0C83) {
            expected = static_cast<uint8_t>(0xA0 + address - 0x0C7C);
        }
        ASSERT_EQ(unit.Flash[address], expected) << "at " << address;
        if (address < 0x0880 || (address >= 0x0C00 && address < 0x0D00)) {
            sent.append(static_cast<char>(unit.Flash[address]));
        }
    }

    const QJsonObject image = ReadJsonFile(station.File("run.json"))["Image"].toObject();
    EXPECT_EQ(image["Format"].toString(), "Intel HEX");
    EXPECT_EQ(image["Blocks"].toInt(), 3);
    EXPECT_EQ(image["BlocksInRange"].toInt(), 368);
    EXPECT_EQ(image["SentSha256"].toString(),
              QCryptographicHash::hash(sent, QCryptographicHash::Sha256).toHex());
    EXPECT_EQ(image["LeftOutBytes"].toInt(), 4);
    const QJsonArray ranges = image["LeftOut"].toArray();
    ASSERT_EQ(ranges.size(), 2);
    EXPECT_EQ(ranges[1]["First"].toString(), "0x300000");
    EXPECT_EQ(ranges[1]["Last"].toString(), "0x300001");
    EXPECT_EQ(ranges[1]["Bytes"].toInt(), 2);
}

TEST(CliHexImageTest, UnusableHexFilesAreRefusedBeforeTheUnitHearsAnything) {
    TCliStation station;
    WriteText(station.File("bad.hex"), ":020800001122C3\n:020900001122C4\n:00000001FF\n");
    WriteText(station.File("low.hex"), ":020000001122CB\n:00000001FF\n");
    WriteText(station.File("open.hex"), ":020800001122C3\n");
    // Exactly 64 KiB of text, a comment before its first record: never a memory image.
    std::string commented = "# release 1.50\n:020800001122C3\n:00000001FF\n";
    commented.resize(65536, '\n');
    WriteText(station.File("commented.hex"), commented.c_str());
    const struct {
        const char* File;
        const char* Says;
    } cases[] = {
        {"bad.hex", "line 2: bad record checksum 0xC4 (the record's bytes need 0xC2)"},
        {"low.hex", "The image holds no data in program memory 0x0800..0xBFFF"},
        {"open.hex", "no end-of-file record"},
        {"commented.hex", "line 1: a record begins with ':', this line with '#'"},
    };
    for (const auto& c : cases) {
        const TCliResult result = station.Run(
            {"--port", "COM3", "--image", c.File, "--processor", "5525", "--model", "5516"});
        EXPECT_EQ(result.Status, 2) << c.File;
        EXPECT_THAT(result.Errors, HasSubstr(c.Says));
    }
    EXPECT_TRUE(station.Unit().Report().Frames.empty());
}

} // namespace
