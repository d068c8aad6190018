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
    struct stat Info {};
    return ::lstat(Path.c_str(), &Info) == 0;
}

} // namespace

TEST(UnitSimLine, ClosingAndReopeningTheSlaveNeverEndsTheUnit) {
    TRunningUnit Unit;
    for (int Round = 0; Round < 5; ++Round) {
        Unit.Line.Close();
        ASSERT_TRUE(Unit.Line.Open(Unit.Unit.SlavePath(), Round % 2 ? 115200 : 9600));
        ASSERT_TRUE(Unit.Line.SetRate(9600));
        EXPECT_EQ(Unit.Line.Ask(IdentityRead, 9).size(), 9u) << "round " << Round;
    }
    EXPECT_EQ(Unit.Unit.Report().HangUps, 0u);
}

TEST(UnitSimLine, PlainTermiosSetsBothRatesAsOnAFreshPort) {
    TUnitSim Unit;
    ASSERT_TRUE(Unit.Start());
    const int Fd = ::open(Unit.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(Fd, 0);
    termios Mode{};
    ASSERT_EQ(::tcgetattr(Fd, &Mode), 0);
    ::cfmakeraw(&Mode);
    ::cfsetospeed(&Mode, B115200);
    ::cfsetispeed(&Mode, B115200);
    ASSERT_EQ(::tcsetattr(Fd, TCSANOW, &Mode), 0);
    uint32_t Output = 0;
    uint32_t Input = 0;
    EXPECT_TRUE(ReadLineRates(Fd, Output, Input));
    EXPECT_EQ(Output, 115200u);
    EXPECT_EQ(Input, 115200u) << "no input rate of its own left over from the unit's set-up";
    ::close(Fd);
}

TEST(UnitSimLine, UnplugDropsTheLineAndReplugBringsItBackAtTheLink) {
    QTemporaryDir Dir;
    TUnitSimConfig Config;
    Config.LinkPath = Dir.filePath("ttyUNIT").toStdString();
    TRunningUnit Unit(Config);
    EXPECT_EQ(Unit.Unit.PortPath(), Config.LinkPath);
    ASSERT_TRUE(Unit.Unit.Unplug());
    EXPECT_TRUE(Unit.Line.HangsUp(1000));
    EXPECT_FALSE(Exists(Config.LinkPath));
    EXPECT_EQ(Unit.Unit.SlavePath(), "");
    EXPECT_FALSE(Unit.Unit.Unplug()) << "already unplugged";
    ASSERT_TRUE(Unit.Unit.Replug());
    ASSERT_TRUE(Exists(Config.LinkPath));
    TPtyClient Again(Config.LinkPath, 9600);
    EXPECT_EQ(Again.Ask(IdentityRead, 9).size(), 9u);
}

TEST(UnitSimLine, RefusesALinkPathThatIsNotASymlink) {
    QTemporaryDir Dir;
    const std::string Path = Dir.filePath("occupied").toStdString();
    std::ofstream(Path) << "keep me";
    TUnitSimConfig Config;
    Config.LinkPath = Path;
    TUnitSim Unit(Config);
    EXPECT_FALSE(Unit.Start());
    EXPECT_NE(Unit.LastError().find("not a symlink"), std::string::npos);
    std::ifstream Kept(Path);
    std::string Text;
    std::getline(Kept, Text);
    EXPECT_EQ(Text, "keep me");
}

TEST(UnitSimLine, PortMapPointsTheComNumberAtTheUnitAndKeepsOtherKeys) {
    QTemporaryDir Dir;
    const QString Path = Dir.filePath("Bootload.Ini");
    ASSERT_TRUE(WriteIniValue(Path, u"Ports", u"COM2", "/dev/ttyUSB0"));
    TUnitSim Unit;
    ASSERT_TRUE(Unit.Start());
    ASSERT_TRUE(Unit.WritePortMap(Dir.path().toStdString(), 3));
    const QByteArray Ini = TIniFile::Read(Path).Bytes;
    EXPECT_EQ(IniValue(Ini, u"Ports", u"COM3"), QString::fromStdString(Unit.SlavePath()));
    EXPECT_EQ(IniValue(Ini, u"Options", u"Comms_Port"), "3");
    EXPECT_EQ(IniValue(Ini, u"Ports", u"COM2"), "/dev/ttyUSB0");
    EXPECT_FALSE(Unit.WritePortMap(Dir.path().toStdString(), 0));
}

TEST(UnitSimLine, StopIsQuickAndTheReportOutlivesIt) {
    TRunningUnit Unit;
    Unit.Line.Ask(IdentityRead, 9);
    const auto Start = std::chrono::steady_clock::now();
    Unit.Unit.Stop();
    Unit.Unit.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - Start, std::chrono::seconds(1));
    EXPECT_EQ(Unit.Unit.Report().Frames.size(), 2u);
    EXPECT_FALSE(Unit.Unit.Unplug());
}

TEST(UnitSimLine, JsonReportCarriesStateDigestsAndFrames) {
    TRunningUnit Unit;
    Unit.Line.Ask(IdentityRead, 9);
    Unit.Line.SetRate(19200);
    Unit.Line.Write(IdentityRead);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Unit.Unit.Report().Frames.size() == 3; }, 2000));
    const QJsonObject Root =
        QJsonDocument::fromJson(QByteArray::fromStdString(Unit.Unit.ReportJson({{0x0800, 0x080F}})))
            .object();
    EXPECT_EQ(Root["Mode"].toString(), "running");
    EXPECT_EQ(Root["FirmwareVersion"].toInt(), 140);
    EXPECT_EQ(Root["Registers"]["19"]["20"].toInt(), 5516);
    EXPECT_TRUE(Root["CommittedSettings"].isNull());
    EXPECT_EQ(Root["Flash"]["Sha256"].toString().size(), 64);
    const QJsonObject Range = Root["Flash"]["Ranges"][0].toObject();
    EXPECT_EQ(Range["First"].toString(), "0x0800");
    EXPECT_EQ(Range["Hex"].toString().size(), 16 * 3 - 1);
    const QJsonArray Frames = Root["Frames"].toArray();
    ASSERT_EQ(Frames.size(), 3);
    EXPECT_EQ(Frames[0]["Direction"].toString(), "in");
    EXPECT_EQ(Frames[0]["Hex"].toString(), "13 03 00 14 00 02 87 7D");
    EXPECT_EQ(Frames[1]["Direction"].toString(), "out");
    EXPECT_EQ(Frames[2]["Rate"].toInt(), 19200);
    EXPECT_TRUE(Frames[2]["Verdict"].toString().contains("wrong rate"));
    EXPECT_GE(Frames[2]["TimeMs"].toDouble(), Frames[0]["TimeMs"].toDouble());
}

TEST(UnitSimOptions, EveryOptionParsesAndIsInTheHelp) {
    QTemporaryDir Dir;
    const std::string Image = Dir.filePath("image.bin").toStdString();
    std::ofstream(Image, std::ios::binary) << std::string(0x10000, '\x42');
    const std::vector<std::string> Line = {"--flash",
                                           Image,
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
    TSimOptions Options;
    std::string Error;
    ASSERT_TRUE(ParseSimOptions(Line, Options, Error)) << Error;
    const TUnitSimConfig& C = Options.Config;
    EXPECT_EQ(C.ModelNumber, 5466);
    EXPECT_EQ(*C.BootRmNumber, 0x1234);
    EXPECT_EQ(C.Settings.at({19, 24}), 3);
    EXPECT_EQ(C.WriteFaults[0].Kind, TFailKind::BadChecksum);
    EXPECT_EQ(C.BadCheck[0].Kind, TReplyPick::TKind::Modbus);
    EXPECT_EQ(C.BadCheck[1].Kind, TReplyPick::TKind::Boot);
    EXPECT_EQ(C.BadCheck[1].Index, 0u);
    EXPECT_EQ(C.Drops[0].Offset, 3);
    EXPECT_EQ(C.Chunks[0].Pick.Index, 4u);
    EXPECT_EQ(C.WrongRate[0].Rate, 19200u);
    EXPECT_EQ(*C.HangUp->BackAfterMs, 500u);
    EXPECT_EQ(Options.Digests[0].Last, 0xBFFFu);
    EXPECT_EQ(Options.ComNumber, 4);
    ASSERT_EQ(C.InitialFlash.size(), 0x10000u);
    EXPECT_EQ(C.InitialFlash[0x8000], 0x42);

    const std::string Help = SimHelpText();
    for (const std::string& Word : Line) {
        if (Word.rfind("--", 0) == 0) {
            EXPECT_NE(Help.find(Word + " "), std::string::npos) << Word;
        }
    }
    // And the help names no option the parser does not take.
    const std::regex Named("--[a-z-]+");
    std::set<std::string> InLine(Line.begin(), Line.end());
    InLine.insert("--help");
    for (auto It = std::sregex_iterator(Help.begin(), Help.end(), Named);
         It != std::sregex_iterator(); ++It) {
        EXPECT_TRUE(InLine.count(It->str())) << It->str();
    }
}

TEST(UnitSimOptions, BadValuesAreRefused) {
    for (const std::vector<std::string>& Line :
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
        TSimOptions Options;
        std::string Error;
        EXPECT_FALSE(ParseSimOptions(Line, Options, Error)) << Line[0];
        EXPECT_FALSE(Error.empty());
    }
}

TEST(UnitSimProgram, RunsOnAPtyWritesTheIniAndReportsOnSignals) {
    QTemporaryDir Dir;
    const QString Report = Dir.filePath("report.json");
    const QString Link = Dir.filePath("ttyUNIT");
    TChildProcess Program({UNITSIM_PROGRAM, "--link", Link.toStdString(), "--ini-dir",
                           Dir.path().toStdString(), "--com", "1", "--report", Report.toStdString(),
                           "--digest", "0x0800-0x0BFF"});
    const std::string Slave = Program.ReadLine(5000);
    EXPECT_EQ(Slave.rfind("/dev/pts/", 0), 0u) << Slave;
    const QByteArray Ini = TIniFile::Read(Dir.filePath("Bootload.Ini")).Bytes;
    EXPECT_EQ(IniValue(Ini, u"Ports", u"COM1"), Link);
    EXPECT_EQ(IniValue(Ini, u"Options", u"Comms_Port"), "1");

    TPtyClient Line(Link.toStdString(), 9600);
    EXPECT_EQ(Line.Ask(IdentityRead, 9).size(), 9u);
    Program.Signal(SIGUSR1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(Report); }, 5000));
    Line.Close();
    Program.Signal(SIGTERM);
    EXPECT_EQ(Program.Wait(5000), 0);
    QFile File(Report);
    ASSERT_TRUE(File.open(QIODevice::ReadOnly));
    const QJsonObject Root = QJsonDocument::fromJson(File.readAll()).object();
    EXPECT_EQ(Root["Frames"].toArray().size(), 2);
    EXPECT_EQ(Root["Flash"]["Ranges"][0]["Last"].toString(), "0x0BFF");
    EXPECT_FALSE(QFile::exists(Link)) << "the link goes with the unit";
}

TEST(UnitSimProgram, RefusesBadOptionsWithoutStarting) {
    TChildProcess Program({UNITSIM_PROGRAM, "--fail-erase", "0"});
    EXPECT_EQ(Program.Wait(5000), 2);
    TChildProcess Help({UNITSIM_PROGRAM, "--help"});
    EXPECT_EQ(Help.ReadLine(5000), "Usage: unitsim [options]");
    EXPECT_EQ(Help.Wait(5000), 0);
}
