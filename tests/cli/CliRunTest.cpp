// The command-line program end to end: the real program in a child process, offscreen,
// against simulated units over ptys.
#include "tests/cli/CliTestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>

namespace {

using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

const std::vector<std::string> CompleteRunLines{
    "Initialising Upgrade.....Done (1)",
    "Enabling BootLoader.....Done",
    "Retrieving Bootloader Info......RM5516 v1.50",
    "Retrieving Model Number......OK",
    "Erasing Program Memory......100%",
    "Sending New Program Data......100%",
    "Disabling Boot Mode......Done",
    "Restarting Unit......Done",
    "Finalising Upgrade.....Done",
};

bool IsPercentageLine(const std::string& Line) {
    return !Line.empty() && Line.back() == '%';
}

// The lines a complete run printed, without its percentages; the final 100 % lines come
// back as one line per stage.
std::vector<std::string> StageLines(const std::vector<std::string>& Printed) {
    std::vector<std::string> lines;
    for (size_t i = 0; i < Printed.size(); ++i) {
        const bool lastOfStage = i + 1 == Printed.size() || !IsPercentageLine(Printed[i]) ||
                                 !IsPercentageLine(Printed[i + 1]) ||
                                 Printed[i + 1].substr(0, 20) != Printed[i].substr(0, 20);
        if (lastOfStage && Printed[i].rfind("Outcome:", 0) != 0) {
            lines.push_back(Printed[i]);
        }
    }
    return lines;
}

// The unit's program memory holds this build's image over the range the run writes.
void ExpectImageWritten(const TUnitSim& Unit) {
    const std::vector<uint8_t> image = BuildImage();
    const std::vector<uint8_t> flash = Unit.Report().Flash;
    const uint32_t last = BuildLastProgramAddress();
    ASSERT_EQ(flash.size(), 65536u);
    ASSERT_EQ(image.size(), 65536u);
    EXPECT_TRUE(
        std::equal(image.begin() + 0x0800, image.begin() + last + 1, flash.begin() + 0x0800))
        << "the unit's memory differs from the image";
}

TEST(CliRunTest, CompleteUpdateWritesTheImageAndReportsEveryStage) {
    TCliStation station;
    TUnitSim& unit = station.Unit();
    const TCliResult result = station.Run({"--port", "COM3", "--json", station.File("run.json")});
    ASSERT_EQ(result.Status, 0) << result.Errors;
    EXPECT_THAT(StageLines(result.Lines), ElementsAreArray(CompleteRunLines));
    EXPECT_EQ(result.Lines.back(), "Outcome: complete (exit status 0)");
    // Not a terminal: percentages at most every 10 %, so at most 11 lines a stage.
    EXPECT_LE(result.Lines.size(), CompleteRunLines.size() + 2 * 10 + 1);
    ExpectImageWritten(unit);

    const QJsonObject report = ReadJsonFile(station.File("run.json"));
    EXPECT_EQ(report["ExitStatus"].toInt(), 0);
    EXPECT_EQ(report["Outcome"].toString(), "complete");
    EXPECT_EQ(report["Port"].toString(), "COM3");
    EXPECT_EQ(report["Device"].toString().toStdString(), unit.PortPath());
    std::vector<std::string> stageLines;
    for (const QJsonValue& stage : report["Stages"].toArray()) {
        stageLines.push_back(stage["Line"].toString().toStdString());
        EXPECT_LE(stage["StartMs"].toDouble(), stage["EndMs"].toDouble());
    }
    EXPECT_THAT(stageLines, ElementsAreArray(CompleteRunLines));
    // The unit's own report agrees: its identity as read, and its memory's digest over
    // the range written.
    const QJsonObject image = report["Image"].toObject();
    const TUnitSimConfig defaults;
    EXPECT_EQ(report["Unit"]["Model"].toInt(), defaults.ModelNumber);
    EXPECT_EQ(report["Unit"]["FirmwareVersion"].toInt(), defaults.FirmwareVersion);
    const TFlashRange range{0x0800, BuildLastProgramAddress()};
    const QJsonDocument unitReport =
        QJsonDocument::fromJson(QByteArray::fromStdString(unit.ReportJson({range})));
    const QJsonObject digest = unitReport["Flash"]["Ranges"][0].toObject();
    EXPECT_EQ(image["ProgramFirst"].toString(), digest["First"].toString());
    EXPECT_EQ(image["ProgramLast"].toString(), digest["Last"].toString());
    EXPECT_EQ(image["ProgramSha256"].toString(), digest["Sha256"].toString());
    EXPECT_EQ(unit.Report().Restarts, 1u);
}

} // namespace
