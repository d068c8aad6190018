// Several units in one command, end to end: the real program, one simulated unit on its
// own pty for each port, a summary and one report at the end.
#include "tests/cli/CliTestSupport.h"

#include <QJsonArray>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;

// The summary table's row of Port ("COM3  complete  5.8  1.40  1.50"); empty when none.
std::string Row(const TCliResult& Result, const std::string& Port) {
    for (const std::string& line : Result.Lines) {
        if (line.rfind(Port + "  ", 0) == 0) {
            return line;
        }
    }
    return {};
}

std::vector<std::string> With(std::vector<std::string> Arguments,
                              const std::vector<std::string>& More) {
    Arguments.insert(Arguments.end(), More.begin(), More.end());
    return Arguments;
}

std::vector<int> Statuses(const QJsonObject& Report) {
    std::vector<int> statuses;
    for (const QJsonValue unit : Report["Units"].toArray()) {
        statuses.push_back(unit["ExitStatus"].toInt(-1));
    }
    return statuses;
}

TEST(CliManyUnitsTest, MixedRunEndsSomeUnitsFailedWithASummaryNamingEachOutcome) {
    TUnitSimConfig silent;
    silent.NoAnswer = true;
    TUnitSimConfig otherModel;
    otherModel.BootModelNumber = 5500;
    TCliLine line({{}, {}, silent, otherModel});
    const TCliResult result = line.Run(With(line.PortArguments(), {"--json", "run.json"}));
    EXPECT_EQ(result.Status, 12) << result.Errors;
    EXPECT_THAT(Row(result, "COM3"),
                MatchesRegex("COM3 +complete +[0-9]+\\.[0-9] +1\\.40 +1\\.50"));
    EXPECT_THAT(Row(result, "COM4"), MatchesRegex("COM4 +complete +[0-9.]+ +1\\.40 +1\\.50"));
    EXPECT_THAT(Row(result, "COM5"), MatchesRegex("COM5 +no reply +[0-9.]+ +- +-"));
    EXPECT_THAT(Row(result, "COM6"),
                MatchesRegex("COM6 +incompatible model +[0-9.]+ +1\\.40 +1\\.40"));
    EXPECT_EQ(result.Lines.back(),
              "Outcome: 4 units: 2 complete, 0 current, 2 failed (exit status 12)");
    // Not a terminal: each line that ends a stage, after its port.
    EXPECT_THAT(result.Lines, Contains("COM4: Finalising Upgrade.....Done"));
    EXPECT_THAT(result.Lines,
                Contains("COM6: Retrieving Model Number......Error (Incompatible Model)"));
    ExpectImageWritten(line.Unit(0));
    ExpectImageWritten(line.Unit(1));

    // One report: each unit's as a single run writes it, and the summary.
    const QJsonObject report = ReadJsonFile(line.File("run.json"));
    EXPECT_THAT(Statuses(report), ElementsAre(0, 0, 4, 5));
    const QJsonObject first = report["Units"][0].toObject();
    EXPECT_EQ(first["Port"].toString(), "COM3");
    EXPECT_EQ(first["Stages"].toArray().size(), 9);
    EXPECT_EQ(first["Image"]["FirmwareVersion"].toInt(), BOOTLOAD_FW_VER);
    const QJsonObject summary = report["Summary"].toObject();
    EXPECT_EQ(summary["ExitStatus"].toInt(), 12);
    EXPECT_EQ(summary["Outcome"].toString(), "some units failed");
    EXPECT_EQ(summary["Failed"].toInt(), 2);
    EXPECT_EQ(summary["Table"][2]["Outcome"].toString(), "no reply");
    EXPECT_EQ(summary["Table"][0]["FirmwareAfter"].toInt(), BOOTLOAD_FW_VER);
}

TEST(CliManyUnitsTest, SkipCurrentWritesNothingToAUnitRunningThisImagesVersion) {
    TUnitSimConfig current;
    current.FirmwareVersion = BOOTLOAD_FW_VER;
    TCliLine line({current, {}});
    const TCliResult result =
        line.Run(With(line.PortArguments(), {"--skip-current", "--json", "run.json"}));
    EXPECT_EQ(result.Status, 0) << result.Errors;
    EXPECT_THAT(Row(result, "COM3"), MatchesRegex("COM3 +current +[0-9.]+ +1\\.50 +1\\.50"));
    EXPECT_THAT(Row(result, "COM4"), MatchesRegex("COM4 +complete +.*"));
    const TUnitSimReport untouched = line.Unit(0).Report();
    EXPECT_EQ(untouched.BootEntries + untouched.Erases + untouched.Writes + untouched.Restarts +
                  untouched.Commits,
              0u);
    EXPECT_TRUE(untouched.UpdaterFaults.empty());
    ExpectImageWritten(line.Unit(1));
    const QJsonObject report = ReadJsonFile(line.File("run.json"));
    EXPECT_EQ(report["Units"][0]["Outcome"].toString(), "current");
    EXPECT_EQ(report["Summary"]["Current"].toInt(), 1);
}

TEST(CliManyUnitsTest, SigtermStopsUnitsNotYetErasingAndLetsTheWritingOnesFinish) {
    TUnitSimConfig slowWrites; // writing when the signal comes
    slowWrites.WriteMs = 5;
    TUnitSimConfig slowAnswers; // still switching into its bootloader then
    slowAnswers.OtherMs = 400;
    // Two at a time: the third waits for a place, and is never started.
    TCliLine line({slowWrites, slowAnswers, {}});
    const std::unique_ptr<TChildProcess> program =
        line.Start(With(line.PortArguments(), {"--jobs", "2", "--json", "run.json"}));
    std::string printed;
    do {
        printed = program->ReadLine(CliBoundMs);
    } while (!printed.empty() && printed != "COM3: Erasing Program Memory......100%");
    ASSERT_FALSE(printed.empty()) << "the first unit never finished erasing";
    program->Signal(SIGTERM);
    const TCliResult result = Collect(*program);
    EXPECT_EQ(result.Status, 12) << result.Errors;
    EXPECT_THAT(result.Errors, HasSubstr("SIGTERM: stopping"));
    EXPECT_THAT(Row(result, "COM3"), MatchesRegex("COM3 +complete +.*"));
    EXPECT_THAT(Row(result, "COM4"), MatchesRegex("COM4 +stopped +.*"));
    EXPECT_THAT(Row(result, "COM5"), MatchesRegex("COM5 +stopped +.*"));
    ExpectImageWritten(line.Unit(0));
    EXPECT_EQ(line.Unit(1).Report().Erases, 0u);
    EXPECT_TRUE(line.Unit(2).Report().Frames.empty()) << "the unit not started heard something";
    EXPECT_THAT(Statuses(ReadJsonFile(line.File("run.json"))), ElementsAre(0, 10, 10));
}

TEST(CliManyUnitsTest, TheSameDeviceNamedTwiceIsRefusedBeforeAnythingStarts) {
    TCliLine line({{}, {}});
    // COM3 and the device it is mapped to, from a ports file with a comment and blanks.
    std::ofstream(line.File("ports.txt"))
        << "# the line's fixtures\n\nCOM4\n  " << line.Unit(0).PortPath() << "  # fixture 1\n";
    const struct {
        std::vector<std::string> Arguments;
        const char* Says;
    } cases[] = {
        {{"--port", "COM3", "--ports-file", "ports.txt"}, "same port"},
        {{"--port", "COM3", "--port", "COM4", "--port", "com3"}, "same port"},
        {{"--port", "rfc2217://Plant-7:4001", "--port", "RFC2217://plant-7:4001"}, "same port"},
        {{"--ports-file", "ports.txt", "--port", "COM9", "--jobs", "0"}, "--jobs"},
    };
    for (const auto& c : cases) {
        const TCliResult result = line.Run(c.Arguments);
        EXPECT_EQ(result.Status, 2) << c.Says;
        EXPECT_THAT(result.Errors, HasSubstr(c.Says));
    }
    EXPECT_TRUE(line.Unit(0).Report().Frames.empty());
    EXPECT_TRUE(line.Unit(1).Report().Frames.empty());
}

TEST(CliManyUnitsTest, SurveyTablesEachUnitsModelVersionAndStateAndWritesOneDocument) {
    TUnitSimConfig inBoot;
    inBoot.StartMode = TUnitMode::Boot;
    TUnitSimConfig silent;
    silent.NoAnswer = true;
    TCliLine line({{}, inBoot, silent});
    const TCliResult result =
        line.Run(With(line.PortArguments(), {"--identify", "--json", "survey.json"}));
    EXPECT_EQ(result.Status, 12) << result.Errors;
    EXPECT_THAT(result.Lines,
                ElementsAre(MatchesRegex("Port +Model +Firmware +State"),
                            MatchesRegex("COM3 +5516 +1\\.40 +running"),
                            MatchesRegex("COM4 +5516 +- +bootloader"),
                            MatchesRegex("COM5 +- +- +silent"),
                            "Outcome: 3 units: 2 identified, 1 not (exit status 12)"));
    const QJsonObject report = ReadJsonFile(line.File("survey.json"));
    EXPECT_EQ(report["Units"][0]["Unit"]["FirmwareVersion"].toInt(), 140);
    EXPECT_EQ(report["Units"][1]["Unit"]["Mode"].toString(), "bootloader");
    EXPECT_EQ(report["Summary"]["Table"][2]["State"].toString(), "silent");
    EXPECT_EQ(report["Summary"]["Identified"].toInt(), 2);
    for (size_t index = 0; index < 3; ++index) {
        const TUnitSimReport unit = line.Unit(index).Report();
        EXPECT_EQ(unit.Erases + unit.Writes + unit.Restarts + unit.Commits, 0u);
    }
}

} // namespace
