// The command-line program end to end: the real program in a child process, offscreen,
// against simulated units over ptys.
#include "CompleteRun.h"
#include "tests/cli/CliTestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <iterator>

namespace {

using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

std::vector<std::string> StdStrings(const QStringList& Texts) {
    std::vector<std::string> strings;
    for (const QString& text : Texts) {
        strings.push_back(text.toStdString());
    }
    return strings;
}

const std::vector<std::string> CompleteRunLines = StdStrings(CompleteRunLog());

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
    for (const QJsonValue stage : report["Stages"].toArray()) {
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

// The text of the last stage a run's report lists.
std::string LastStageLine(const QJsonObject& Report) {
    const QJsonArray stages = Report["Stages"].toArray();
    return stages.isEmpty() ? std::string() : stages.last()["Line"].toString().toStdString();
}

TEST(CliRunTest, EraseErrorAndNoUnitEndWithTheirOwnStatus) {
    TUnitSimConfig failingErase;
    failingErase.EraseFaults = {{3, TFailKind::NoReply}};
    TCliStation erase(failingErase);
    TCliResult result = erase.Run({"--port", "COM3", "--json", erase.File("run.json")});
    EXPECT_EQ(result.Status, 6) << result.Errors;
    EXPECT_EQ(result.Lines.back(), "Outcome: erase error (exit status 6)");
    EXPECT_EQ(LastStageLine(ReadJsonFile(erase.File("run.json"))),
              "Erasing Program Memory......Error Detected");
    EXPECT_EQ(erase.Unit().Report().Writes, 0u);

    TUnitSimConfig silent;
    silent.NoAnswer = true;
    TCliStation none(silent);
    result = none.Run({"--port", "COM3", "--quiet"});
    EXPECT_EQ(result.Status, 4) << result.Errors;
    // Quiet: the outcome only.
    EXPECT_THAT(result.Lines, ElementsAreArray({"Outcome: no reply (exit status 4)"}));
}

TEST(CliRunTest, IdentifyReadsTheUnitInEitherModeAndChangesNothing) {
    TCliStation running;
    TCliResult result = running.Run({"--identify", "--port", "COM3", "--json", "id.json"});
    ASSERT_EQ(result.Status, 0) << result.Errors;
    EXPECT_EQ(result.Lines.front(), "Running firmware: model 5516, firmware version 1.40");
    const QJsonObject unit = ReadJsonFile(running.File("id.json"))["Unit"].toObject();
    EXPECT_EQ(unit["Mode"].toString(), "running");
    EXPECT_EQ(unit["Model"].toInt(), 5516);
    EXPECT_EQ(unit["FirmwareVersion"].toInt(), 140);

    TUnitSimConfig inBoot;
    inBoot.StartMode = TUnitMode::Boot;
    inBoot.BootVersion = 105;
    TCliStation boot(inBoot);
    result = boot.Run({"--identify", "--port", "COM3"});
    ASSERT_EQ(result.Status, 0) << result.Errors;
    EXPECT_EQ(result.Lines.front(), "Bootloader: model 5516, RM5516 v1.05");

    for (TCliStation* station : {&running, &boot}) {
        const TUnitSimReport report = station->Unit().Report();
        EXPECT_EQ(report.Mode, station == &boot ? TUnitMode::Boot : TUnitMode::Running);
        EXPECT_EQ(report.BootEntries, station == &boot ? 1u : 0u);
        EXPECT_EQ(report.Erases + report.Writes + report.Restarts + report.Commits, 0u);
        EXPECT_TRUE(report.UpdaterFaults.empty());
    }
}

TEST(CliRunTest, SignalStopsTheRunBeforeTheEraseAndASecondOneDoesNotKillIt) {
    TUnitSimConfig slow;
    slow.OtherMs = 400; // every request but erase and write takes this long
    TCliStation station(slow);
    const std::unique_ptr<TChildProcess> program =
        station.Start({"--port", "COM3", "--json", station.File("run.json")});
    // Printed as the switch into the bootloader begins.
    ASSERT_EQ(program->ReadLine(CliBoundMs), "Initialising Upgrade.....Done (1)");
    program->Signal(SIGINT);
    program->Signal(SIGTERM);
    const TCliResult result = Collect(*program);
    EXPECT_EQ(result.Status, 10) << result.Errors;
    EXPECT_THAT(result.Errors, HasSubstr("SIGINT"));
    EXPECT_EQ(result.Lines.back(), "Outcome: stopped (exit status 10)");
    EXPECT_EQ(ReadJsonFile(station.File("run.json"))["ExitStatus"].toInt(), 10);
    EXPECT_EQ(station.Unit().Report().Erases, 0u);
}

// Reads the program's output up to the first line that begins with Prefix; false when
// it ends or the bound passes first.
bool ReadUpTo(TChildProcess& Program, const std::string& Prefix) {
    std::string line;
    do {
        line = Program.ReadLine(CliBoundMs);
    } while (!line.empty() && line.rfind(Prefix, 0) != 0);
    return !line.empty();
}

TEST(CliRunTest, HangUpOrQuitDuringTheWriteLetTheUpdateRunToItsEnd) {
    // The terminal or the ssh session closed while the image is being written.
    TUnitSimConfig slowWrites;
    slowWrites.WriteMs = 5;
    TCliStation station(slowWrites);
    const std::unique_ptr<TChildProcess> program = station.Start({"--port", "COM3"});
    ASSERT_TRUE(ReadUpTo(*program, "Sending New Program Data"));
    program->Signal(SIGHUP);
    program->Signal(SIGQUIT);
    const TCliResult result = Collect(*program);
    EXPECT_EQ(result.Status, 0) << result.Errors;
    // Both caught, in either order: the first stops, the second finds it stopping.
    EXPECT_THAT(result.Errors, HasSubstr("SIGHUP: "));
    EXPECT_THAT(result.Errors, HasSubstr("SIGQUIT: "));
    EXPECT_THAT(result.Errors, HasSubstr("already stopping"));
    ExpectImageWritten(station.Unit());
}

TEST(CliRunTest, FourStationsAtOnceAllComplete) {
    // The fourth with an image of its own, through the window's Load File.
    std::vector<uint8_t> ownImage(65536);
    for (size_t i = 0; i < ownImage.size(); ++i) {
        ownImage[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    std::vector<std::unique_ptr<TCliStation>> stations;
    std::vector<std::unique_ptr<TChildProcess>> programs;
    stations.reserve(4);
    programs.reserve(4);
    for (int n = 0; n < 4; ++n) {
        stations.push_back(std::make_unique<TCliStation>());
    }
    std::ofstream(stations[3]->File("own.bin"), std::ios::binary)
        .write(reinterpret_cast<const char*>(ownImage.data()),
               static_cast<std::streamsize>(ownImage.size()));
    for (int n = 0; n < 4; ++n) {
        std::vector<std::string> arguments{"--port", "COM3"};
        if (n == 3) {
            arguments.insert(arguments.end(),
                             {"--image", "own.bin", "--processor", "5525", "--model", "0x158C"});
        }
        programs.push_back(stations[n]->Start(arguments));
    }
    for (int n = 0; n < 4; ++n) {
        const TCliResult result = Collect(*programs[n]);
        EXPECT_EQ(result.Status, 0) << "station " << n << ": " << result.Errors;
        ExpectImageWritten(stations[n]->Unit(), n == 3 ? ownImage : BuildImage());
    }
}

TEST(CliRunTest, ListPortsNamesTheMappedPortAndMapsAnAbsentOneAsNotConnected) {
    TCliStation station;
    {
        std::ifstream in(station.File("Bootload.Ini"));
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        text.replace(text.find("[Ports]"), 7, "[Ports]\nCOM7=/dev/no-such-adapter");
        std::ofstream(station.File("Bootload.Ini")) << text;
    }
    const TCliResult result = station.Run({"--list-ports"});
    ASSERT_EQ(result.Status, 0) << result.Errors;
    EXPECT_THAT(result.Lines, ::testing::Contains("COM3\t" + station.Unit().PortPath()));
    EXPECT_THAT(result.Lines, ::testing::Contains("COM7\t/dev/no-such-adapter\t(not connected)"));
}

TEST(CliRunTest, BadInputIsRefusedBeforeTheUnitHearsAnything) {
    TCliStation station;
    std::ofstream(station.File("short.bin"), std::ios::binary) << std::string(65535, '\xFF');
    const struct {
        std::vector<std::string> Arguments;
        int Status;
        const char* Says;
    } cases[] = {
        {{"--port", "/dev/no-such-port"}, 3, "Unable To Open Comms Port /dev/no-such-port"},
        {{"--port", "COM3", "--image", "short.bin", "--processor", "5525", "--model", "5516"},
         2,
         "65535 bytes"},
        {{"--port", "COM3", "--image", "short.bin"}, 2, "go together"},
        {{"--port", "COM3", "--slave", "5"}, 2, "--slave"},
        {{"--port", "COM3", "--frobnicate"}, 2, "Usage:"},
        {{"--port", "COM3", "--json", "missing/run.json"}, 2, "--json"},
        {{"--port", "COM3", "--json", "."}, 2, "--json"},
    };
    // A port that does not open: the report says why.
    EXPECT_EQ(station.Run({"--port", "/dev/no-such-port", "--json", "r.json"}).Status, 3);
    const QJsonObject report = ReadJsonFile(station.File("r.json"));
    EXPECT_EQ(report["ExitStatus"].toInt(), 3);
    EXPECT_THAT(report["Messages"].toArray().first().toString().toStdString(),
                HasSubstr("Unable To Open Comms Port /dev/no-such-port"));
    for (const auto& c : cases) {
        const TCliResult result = station.Run(c.Arguments);
        EXPECT_EQ(result.Status, c.Status) << c.Says;
        EXPECT_THAT(result.Errors, HasSubstr(c.Says));
    }
    EXPECT_TRUE(station.Unit().Report().Frames.empty());
}

TEST(CliRunTest, SecondProgramOnTheSamePortIsRefusedAndTheFirstCompletes) {
    TUnitSimConfig slowWrites;
    slowWrites.WriteMs = 5;
    TCliStation station(slowWrites);
    const std::unique_ptr<TChildProcess> first = station.Start({"--port", "COM3"});
    ASSERT_TRUE(ReadUpTo(*first, "Sending New Program Data"));
    const TCliResult second = station.Run({"--port", "COM3"});
    EXPECT_EQ(second.Status, 3);
    const TCliResult result = Collect(*first);
    EXPECT_EQ(result.Status, 0) << result.Errors;
    ExpectImageWritten(station.Unit());
}

} // namespace
