// Units behind a device server: the real program in a child process reaching a simulated
// unit through a real RFC 2217 server (ser2net on a free port of 127.0.0.1) in front of
// the unit's pty, by --port rfc2217://127.0.0.1:PORT.
#include "Ser2Net.h"
#include "tests/cli/CliTestSupport.h"

#include <QJsonObject>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace {

using ::testing::HasSubstr;

constexpr int LineBoundMs = 30000;

// A unit on its pty and ser2net in front of it.
struct TRemoteStation {
    explicit TRemoteStation(const TUnitSimConfig& Config = {})
        : Station(Config), Server(TSer2Net::SerialConnector(Station.Unit().SlavePath())) {
        Started = Server.Start();
        EXPECT_TRUE(Started) << Server.LastError();
    }
    TCliStation Station;
    TSer2Net Server;
    bool Started = false;
};

// Reads the program's lines until one is Line; false at its end or after the bound.
bool ReadUntil(TChildProcess& Program, const std::string& Line) {
    for (;;) {
        const std::string read = Program.ReadLine(LineBoundMs);
        if (read.empty()) {
            return false;
        }
        if (read == Line) {
            return true;
        }
    }
}

void ExpectComplete(const TCliResult& Result) {
    EXPECT_EQ(Result.Status, 0) << Result.Errors;
    ASSERT_FALSE(Result.Lines.empty());
    EXPECT_EQ(Result.Lines.back(), "Outcome: complete (exit status 0)");
}

TEST(CliRemoteTest, CompleteUpdateThroughTheServerWithTheUnitsRateChangesOnItsLine) {
    TRemoteStation remote;
    ASSERT_TRUE(remote.Started);
    const TCliResult result = remote.Station.Run(
        {"--port", remote.Server.Url(), "--json", remote.Station.File("report.json")});
    ExpectComplete(result);
    const QJsonObject report = ReadJsonFile(remote.Station.File("report.json"));
    EXPECT_EQ(report.value("Port").toString().toStdString(), remote.Server.Url());

    const TUnitSimReport unit = remote.Station.Unit().Report();
    EXPECT_EQ(unit.Mode, TUnitMode::Running);
    EXPECT_TRUE(unit.UpdaterFaults.empty());
    const std::vector<uint8_t> image = BuildImage();
    EXPECT_TRUE(std::equal(image.begin() + 0x0800, image.begin() + BuildLastProgramAddress() + 1,
                           unit.Flash.begin() + 0x0800));
    // Every request reached the unit at its mode's rate, set on the pty by the server: the
    // Modbus rate, then the bootloader's.
    std::vector<uint32_t> rates;
    for (const TSimFrame& frame : unit.Frames) {
        if (frame.FromUpdater) {
            EXPECT_EQ(frame.Verdict.rfind("ok", 0), 0u) << frame.Verdict;
            if (rates.empty() || rates.back() != frame.Rate) {
                rates.push_back(frame.Rate);
            }
        }
    }
    EXPECT_EQ(rates, (std::vector<uint32_t>{9600, 115200}));
}

TEST(CliRemoteTest, ServerKilledMidWriteEndsTheRunWithItsStatusAndARerunCompletes) {
    TUnitSimConfig config;
    config.WriteMs = 3; // the write stage takes about a second and a half
    TRemoteStation remote(config);
    ASSERT_TRUE(remote.Started);
    const std::unique_ptr<TChildProcess> program =
        remote.Station.Start({"--port", remote.Server.Url()});
    ASSERT_TRUE(ReadUntil(*program, "Sending New Program Data......10%"));
    remote.Server.Kill();
    const TCliResult ended = Collect(*program);
    EXPECT_EQ(ended.Status, 7) << ended.Errors;
    ASSERT_GE(ended.Lines.size(), 2u);
    EXPECT_EQ(ended.Lines[ended.Lines.size() - 2], "Sending New Program Data......Error Detected");

    ASSERT_TRUE(remote.Server.Start()) << remote.Server.LastError();
    ExpectComplete(remote.Station.Run({"--port", remote.Server.Url()}));
    EXPECT_EQ(remote.Station.Unit().Report().Mode, TUnitMode::Running);
}

TEST(CliRemoteTest, ASecondClientIsToldThePortIsInUse) {
    TUnitSimConfig config;
    config.EraseMs = 10; // the first client's erase takes about five seconds
    TRemoteStation remote(config);
    ASSERT_TRUE(remote.Started);
    const std::unique_ptr<TChildProcess> first =
        remote.Station.Start({"--port", remote.Server.Url()});
    ASSERT_TRUE(ReadUntil(*first, "Erasing Program Memory......0%"));
    const TCliResult second = remote.Station.Run({"--identify", "--port", remote.Server.Url()});
    EXPECT_EQ(second.Status, 3);
    EXPECT_THAT(second.Errors,
                HasSubstr(remote.Server.Url() + " is in use by another client of the device server "
                                                "(the server says \"Port already in use\")"));
    // The first client goes on undisturbed.
    ExpectComplete(Collect(*first));
}

TEST(CliRemoteTest, ARateTheServerCannotSetIsRefused) {
    // A line whose rate cannot be set at all (a plain program behind the server): the server
    // takes the rate change and answers nothing.
    TCliStation station;
    TSer2Net server("stdio,cat");
    ASSERT_TRUE(server.Start()) << server.LastError();
    const TCliResult result = station.Run({"--port", server.Url()});
    EXPECT_EQ(result.Status, 3);
    EXPECT_THAT(result.Errors, HasSubstr(server.Url() + ": the device server did not set its "
                                                        "line to 9,600 baud (it gave no answer)"));
}

TEST(CliRemoteTest, ANameThatDoesNotResolve) {
    TCliStation station;
    const TCliResult result = station.Run({"--identify", "--port", "rfc2217://unit.invalid:4001"});
    EXPECT_EQ(result.Status, 3);
    EXPECT_THAT(result.Errors,
                HasSubstr("rfc2217://unit.invalid:4001: the name unit.invalid does not resolve"));
}

} // namespace
