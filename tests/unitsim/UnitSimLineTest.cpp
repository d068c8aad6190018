// The line itself: re-opening, unplugging, the port map, the report, the program.
#include "ChildProcess.h"
#include "settings/IniFile.h"
#include "tests/unitsim/PtyClient.h"
#include "tools/unitsim/LineRate.h"
#include "tools/unitsim/SimOptions.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <regex>
#include <set>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

const TBytes IdentityRead = FromHex("13 03 00 14 00 02 87 7D");

bool Exists(const std::string& Path) {
    struct stat info {};
    return ::lstat(Path.c_str(), &info) == 0;
}

} // namespace

TEST(UnitSimLine, ClosingAndReopeningTheSlaveNeverEndsTheUnit) {
    TRunningUnit unit;
    for (int round = 0; round < 5; ++round) {
        unit.Line.Close();
        ASSERT_TRUE(unit.Line.Open(unit.Unit.SlavePath(), round % 2 ? 115200 : 9600));
        ASSERT_TRUE(unit.Line.SetRate(9600));
        EXPECT_EQ(unit.Line.Ask(IdentityRead, 9).size(), 9u) << "round " << round;
    }
    EXPECT_EQ(unit.Unit.Report().HangUps, 0u);
}

TEST(UnitSimLine, PlainTermiosSetsBothRatesAsOnAFreshPort) {
    TUnitSim unit;
    ASSERT_TRUE(unit.Start());
    const int fd = ::open(unit.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    termios mode{};
    ASSERT_EQ(::tcgetattr(fd, &mode), 0);
    ::cfmakeraw(&mode);
    ::cfsetospeed(&mode, B115200);
    ::cfsetispeed(&mode, B115200);
    ASSERT_EQ(::tcsetattr(fd, TCSANOW, &mode), 0);
    uint32_t output = 0;
    uint32_t input = 0;
    EXPECT_TRUE(ReadLineRates(fd, output, input));
    EXPECT_EQ(output, 115200u);
    EXPECT_EQ(input, 115200u) << "no input rate of its own left over from the unit's set-up";
    ::close(fd);
}

TEST(UnitSimLine, UnplugDropsTheLineAndReplugBringsItBackAtTheLink) {
    QTemporaryDir dir;
    TUnitSimConfig config;
    config.LinkPath = dir.filePath("ttyUNIT").toStdString();
    TRunningUnit unit(config);
    EXPECT_EQ(unit.Unit.PortPath(), config.LinkPath);
    ASSERT_TRUE(unit.Unit.Unplug());
    EXPECT_TRUE(unit.Line.HangsUp(1000));
    EXPECT_FALSE(Exists(config.LinkPath));
    EXPECT_EQ(unit.Unit.SlavePath(), "");
    EXPECT_FALSE(unit.Unit.Unplug()) << "already unplugged";
    ASSERT_TRUE(unit.Unit.Replug());
    ASSERT_TRUE(Exists(config.LinkPath));
    TPtyClient again(config.LinkPath, 9600);
    EXPECT_EQ(again.Ask(IdentityRead, 9).size(), 9u);
}

TEST(UnitSimLine, RefusesALinkPathThatIsNotASymlink) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("occupied").toStdString();
    std::ofstream(path) << "keep me";
    TUnitSimConfig config;
    config.LinkPath = path;
    TUnitSim unit(config);
    EXPECT_FALSE(unit.Start());
    EXPECT_NE(unit.LastError().find("not a symlink"), std::string::npos);
    std::ifstream kept(path);
    std::string text;
    std::getline(kept, text);
    EXPECT_EQ(text, "keep me");
}

TEST(UnitSimLine, PortMapPointsTheComNumberAtTheUnitAndKeepsOtherKeys) {
    QTemporaryDir dir;
    const QString path = dir.filePath("Bootload.Ini");
    ASSERT_TRUE(WriteIniValue(path, u"Ports", u"COM2", "/dev/ttyUSB0"));
    TUnitSim unit;
    ASSERT_TRUE(unit.Start());
    ASSERT_TRUE(unit.WritePortMap(dir.path().toStdString(), 3));
    const QByteArray ini = TIniFile::Read(path).Bytes;
    EXPECT_EQ(IniValue(ini, u"Ports", u"COM3"), QString::fromStdString(unit.SlavePath()));
    EXPECT_EQ(IniValue(ini, u"Options", u"Comms_Port"), "3");
    EXPECT_EQ(IniValue(ini, u"Ports", u"COM2"), "/dev/ttyUSB0");
    EXPECT_FALSE(unit.WritePortMap(dir.path().toStdString(), 0));
}

TEST(UnitSimLine, StopIsQuickAndTheReportOutlivesIt) {
    TRunningUnit unit;
    unit.Line.Ask(IdentityRead, 9);
    const auto start = std::chrono::steady_clock::now();
    unit.Unit.Stop();
    unit.Unit.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(unit.Unit.Report().Frames.size(), 2u);
    EXPECT_FALSE(unit.Unit.Unplug());
}

TEST(UnitSimLine, JsonReportCarriesStateDigestsAndFrames) {
    TRunningUnit unit;
    unit.Line.Ask(IdentityRead, 9);
    unit.Line.SetRate(19200);
    unit.Line.Write(IdentityRead);
    ASSERT_TRUE(QTest::qWaitFor([&] { return unit.Unit.Report().Frames.size() == 3; }, 2000));
    const QJsonObject root =
        QJsonDocument::fromJson(QByteArray::fromStdString(unit.Unit.ReportJson({{0x0800, 0x080F}})))
            .object();
    EXPECT_EQ(root["Mode"].toString(), "running");
    EXPECT_EQ(root["FirmwareVersion"].toInt(), 140);
    EXPECT_EQ(root["Registers"]["19"]["20"].toInt(), 5516);
    EXPECT_TRUE(root["CommittedSettings"].isNull());
    EXPECT_EQ(root["Flash"]["Sha256"].toString().size(), 64);
    const QJsonObject range = root["Flash"]["Ranges"][0].toObject();
    EXPECT_EQ(range["First"].toString(), "0x0800");
    EXPECT_EQ(range["Hex"].toString().size(), 16 * 3 - 1);
    const QJsonArray frames = root["Frames"].toArray();
    ASSERT_EQ(frames.size(), 3);
    EXPECT_EQ(frames[0]["Direction"].toString(), "in");
    EXPECT_EQ(frames[0]["Hex"].toString(), "13 03 00 14 00 02 87 7D");
    EXPECT_EQ(frames[1]["Direction"].toString(), "out");
    EXPECT_EQ(frames[2]["Rate"].toInt(), 19200);
    EXPECT_TRUE(frames[2]["Verdict"].toString().contains("wrong rate"));
    EXPECT_GE(frames[2]["TimeMs"].toDouble(), frames[0]["TimeMs"].toDouble());
}

TEST(UnitSimOptions, EveryOptionParsesAndIsInTheHelp) {
    QTemporaryDir dir;
    const std::string image = dir.filePath("image.bin").toStdString();
    std::ofstream(image, std::ios::binary) << std::string(0x10000, '\x42');
    const std::vector<std::string> line = {"--flash",
                                           image,
                                           "--model",
                                           "5466",
                                           "--boot-model",
                                           "5448",
                                           "--boot-rm",
                                           "0x1234",
                                           "--boot-version",
                                           "105",
                                           "--firmware-version",
                                           "105",
                                           "--version-after",
                                           "150",
                                           "--operator-slave",
                                           "77",
                                           "--start-mode",
                                           "boot",
                                           "--set",
                                           "19:22=1,2,3",
                                           "--reset-settings-on-update",
                                           "no",
                                           "--link",
                                           "/tmp/x",
                                           "--ini-dir",
                                           "/tmp",
                                           "--com",
                                           "4",
                                           "--pacing",
                                           "--erase-ms",
                                           "20",
                                           "--write-ms",
                                           "5",
                                           "--other-ms",
                                           "1",
                                           "--restart-ms",
                                           "300",
                                           "--frame-gap-ms",
                                           "50",
                                           "--no-answer",
                                           "--fail-erase",
                                           "3",
                                           "--fail-write",
                                           "7:checksum",
                                           "--bad-crc",
                                           "2",
                                           "--bad-checksum",
                                           "*",
                                           "--drop-bytes",
                                           "m1:2:3",
                                           "--noise",
                                           "b*:6",
                                           "--chunks",
                                           "4:2:15",
                                           "--late",
                                           "b2:500",
                                           "--wrong-rate",
                                           "m0:19200",
                                           "--hang-up",
                                           "10:500",
                                           "--noise-seed",
                                           "9",
                                           "--report",
                                           "-",
                                           "--digest",
                                           "0x0800-0xBFFF"};
    TSimOptions options;
    std::string error;
    ASSERT_TRUE(ParseSimOptions(line, options, error)) << error;
    const TUnitSimConfig& c = options.Config;
    EXPECT_EQ(c.ModelNumber, 5466);
    EXPECT_EQ(*c.BootRmNumber, 0x1234);
    EXPECT_EQ(c.Settings.at({19, 24}), 3);
    EXPECT_EQ(c.WriteFaults[0].Kind, TFailKind::BadChecksum);
    EXPECT_EQ(c.BadCheck[0].Kind, TReplyPick::TKind::Modbus);
    EXPECT_EQ(c.BadCheck[1].Kind, TReplyPick::TKind::Boot);
    EXPECT_EQ(c.BadCheck[1].Index, 0u);
    EXPECT_EQ(c.Drops[0].Offset, 3);
    EXPECT_EQ(c.Chunks[0].Pick.Index, 4u);
    EXPECT_EQ(c.WrongRate[0].Rate, 19200u);
    EXPECT_EQ(*c.HangUp->BackAfterMs, 500u);
    EXPECT_EQ(options.Digests[0].Last, 0xBFFFu);
    EXPECT_EQ(options.ComNumber, 4);
    ASSERT_EQ(c.InitialFlash.size(), 0x10000u);
    EXPECT_EQ(c.InitialFlash[0x8000], 0x42);

    const std::string help = SimHelpText();
    for (const std::string& word : line) {
        if (word.rfind("--", 0) == 0) {
            EXPECT_NE(help.find(word + " "), std::string::npos) << word;
        }
    }
    // And the help names no option the parser does not take.
    const std::regex named("--[a-z-]+");
    std::set<std::string> inLine(line.begin(), line.end());
    inLine.insert("--help");
    for (auto it = std::sregex_iterator(help.begin(), help.end(), named);
         it != std::sregex_iterator(); ++it) {
        EXPECT_TRUE(inLine.count(it->str())) << it->str();
    }
}

TEST(UnitSimOptions, BadValuesAreRefused) {
    for (const std::vector<std::string>& line :
         std::vector<std::vector<std::string>>{{"--model"},
                                               {"--model", "70000"},
                                               {"--fail-erase", "0"},
                                               {"--fail-write", "2:maybe"},
                                               {"--chunks", "1"},
                                               {"--start-mode", "sleep"},
                                               {"--digest", "0x0900-0x0800"},
                                               {"--set", "19=4"},
                                               {"--frobnicate"},
                                               {"--late", "x:5"},
                                               {"--flash", "/nonexistent"}}) {
        TSimOptions options;
        std::string error;
        EXPECT_FALSE(ParseSimOptions(line, options, error)) << line[0];
        EXPECT_FALSE(error.empty());
    }
}

TEST(UnitSimProgram, RunsOnAPtyWritesTheIniAndReportsOnSignals) {
    QTemporaryDir dir;
    const QString report = dir.filePath("report.json");
    const QString link = dir.filePath("ttyUNIT");
    TChildProcess program({UNITSIM_PROGRAM, "--link", link.toStdString(), "--ini-dir",
                           dir.path().toStdString(), "--com", "1", "--report", report.toStdString(),
                           "--digest", "0x0800-0x0BFF"});
    const std::string slave = program.ReadLine(5000);
    EXPECT_EQ(slave.rfind("/dev/pts/", 0), 0u) << slave;
    const QByteArray ini = TIniFile::Read(dir.filePath("Bootload.Ini")).Bytes;
    EXPECT_EQ(IniValue(ini, u"Ports", u"COM1"), link);
    EXPECT_EQ(IniValue(ini, u"Options", u"Comms_Port"), "1");

    TPtyClient line(link.toStdString(), 9600);
    EXPECT_EQ(line.Ask(IdentityRead, 9).size(), 9u);
    program.Signal(SIGUSR1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(report); }, 5000));
    line.Close();
    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(5000), 0);
    QFile file(report);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    EXPECT_EQ(root["Frames"].toArray().size(), 2);
    EXPECT_EQ(root["Flash"]["Ranges"][0]["Last"].toString(), "0x0BFF");
    EXPECT_FALSE(QFile::exists(link)) << "the link goes with the unit";
}

TEST(UnitSimProgram, RefusesBadOptionsWithoutStarting) {
    TChildProcess program({UNITSIM_PROGRAM, "--fail-erase", "0"});
    EXPECT_EQ(program.Wait(5000), 2);
    TChildProcess help({UNITSIM_PROGRAM, "--help"});
    EXPECT_EQ(help.ReadLine(5000), "Usage: unitsim [options]");
    EXPECT_EQ(help.Wait(5000), 0);
}
