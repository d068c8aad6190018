// The window reaching a unit behind a device server: a [Ports] line maps the window's COM
// number to rfc2217://127.0.0.1:PORT, where a real ser2net stands in front of the
// simulated unit's pty. The port dialog lists the mapped port with its address.
#include "CompleteRun.h"
#include "Ser2Net.h"
#include "SimSupport.h"
#include "WindowFixture.h"
#include "shell/commsel.h"

#include <gtest/gtest.h>

namespace {

constexpr int RunBoundMs = 60000;

TEST(RemotePort, TheWindowUpdatesAUnitBehindADeviceServerThroughItsPortsLine) {
    const std::unique_ptr<TUnitSim> unit = StartUnit({});
    TSer2Net server(TSer2Net::SerialConnector(unit->SlavePath()));
    ASSERT_TRUE(server.Start()) << server.LastError();
    TWindowFixture window;
    ASSERT_TRUE(window.Ready());
    const QString url = QString::fromStdString(server.Url());
    window.WriteFile("Bootload.Ini",
                     "[Options]\nComms_Port=7\n[Ports]\nCOM7=" + url.toUtf8() + "\n");
    TMainForm& form = window.Start();

    const QList<TPortListing> listings = form.PortListings();
    ASSERT_GE(listings.size(), 7);
    EXPECT_EQ(listings[6].Device, url);
    EXPECT_EQ(listings[6].Description, QStringLiteral("RFC 2217 device server"));
    EXPECT_TRUE(listings[6].Present);

    ASSERT_TRUE(window.RunUpdate(RunBoundMs));
    const QStringList lines = window.LogLines();
    ASSERT_EQ(lines.size(), CompleteRunLog().size()) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines[0].startsWith("Initialising Upgrade.....Done"));
    EXPECT_EQ(lines.mid(1), CompleteRunLog().mid(1));
    ExpectFlashHoldsImage(unit->Report(), form);
    EXPECT_TRUE(window.MessageTexts().empty());
}

} // namespace
