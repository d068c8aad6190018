// Finding ports and numbering new adapters: the rules on made-up port lists, the by-id
// folder on links to pseudo-terminals, the record in [Ports] of a real settings file, and
// the system's own list.
#include "serial/PortNumbering.h"
#include "PtyPair.h"
#include "SerialTrace.h"
#include "serial/PortDiscovery.h"
#include "serial/PortMap.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

namespace {

// An adapter on /dev/ttyUSB<Number>, with a serial number and the by-id link named after
// it unless told otherwise.
TPresentPort Adapter(int Number, bool WithById = true) {
    TPresentPort port;
    port.Device = QStringLiteral("/dev/ttyUSB%1").arg(Number);
    if (WithById) {
        port.SerialNumber = QStringLiteral("SN%1").arg(Number);
        port.ById = QStringLiteral("/dev/serial/by-id/usb-Maker_UART_SN%1-if00-port0").arg(Number);
    }
    port.Description = QStringLiteral("USB UART");
    return port;
}

// One of two adapters of one kind in USB socket Socket, with the serial number Serial
// (none when empty). Their by-id names are one: udev points it at the one plugged in
// last, which the tests take to be the one in socket 2.
TPresentPort Twin(int Socket, const QString& Serial = {}) {
    TPresentPort port;
    port.Device = QStringLiteral("/dev/ttyUSB%1").arg(Socket);
    port.SerialNumber = Serial;
    port.VendorId = 0x1a86;
    port.ProductId = 0x7523;
    if (Socket == 2) {
        port.ById = QStringLiteral("/dev/serial/by-id/usb-1a86_USB_Serial-if00-port0");
    }
    port.ByPath =
        QStringLiteral("/dev/serial/by-path/pci-0000:00:14.0-usb-0:3.%1:1.0-port0").arg(Socket);
    return port;
}

TPresentPort OnBoard(int Number) {
    TPresentPort port;
    port.Device = QStringLiteral("/dev/ttyS%1").arg(Number);
    return port;
}

// Links lead where this table says; every other path is a device of its own.
QString FakeResolve(const QString& Path) {
    static const QMap<QString, QString> links = {
        {QStringLiteral("/dev/serial/by-id/usb-Maker_UART_SN0-if00-port0"),
         QStringLiteral("/dev/ttyUSB0")},
        {QStringLiteral("/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0"),
         QStringLiteral("/dev/ttyUSB0")},
    };
    return links.value(Path, Path);
}

QStringList AssignedText(const TPortNumbering& Numbering) {
    QStringList text;
    for (const TPortAssignment& assignment : Numbering.Assigned) {
        text << QStringLiteral("COM%1=%2").arg(assignment.Port).arg(assignment.Name);
    }
    return text;
}

struct TNumberingCase {
    const char* Name;
    QList<TPresentPort> Present;
    TPortsEntries Entries;
    QStringList Assigned;
    int Unnumbered = 0;
};

const QString ById0 = QStringLiteral("/dev/serial/by-id/usb-Maker_UART_SN0-if00-port0");
const QString ById1 = QStringLiteral("/dev/serial/by-id/usb-Maker_UART_SN1-if00-port0");

} // namespace

TEST(PortNumbering, NewAdaptersTakeTheLowestFreeNumbersFromCom3) {
    QList<TPresentPort> forty;
    for (int i = 0; i < 40; ++i) {
        forty << Adapter(i, false);
    }
    QStringList thirtyAssigned;
    for (int port = 3; port <= 32; ++port) {
        thirtyAssigned << QStringLiteral("COM%1=/dev/ttyUSB%2").arg(port).arg(port - 3);
    }
    const std::vector<TNumberingCase> cases = {
        {"one adapter, no [Ports]: COM3 under its by-id name", {Adapter(0)}, {}, {"COM3=" + ById0}},
        {"no by-id link: the device path", {Adapter(0, false)}, {}, {"COM3=/dev/ttyUSB0"}},
        {"no serial number: the socket's by-path name, never the by-id name its kind shares",
         {Twin(1), Twin(2)},
         {},
         {"COM3=/dev/serial/by-path/pci-0000:00:14.0-usb-0:3.1:1.0-port0",
          "COM4=/dev/serial/by-path/pci-0000:00:14.0-usb-0:3.2:1.0-port0"}},
        {"a serial number two adapters of one kind share is not their own either",
         {Twin(1, "0001"), Twin(2, "0001"), Adapter(0)},
         {},
         {"COM3=/dev/serial/by-path/pci-0000:00:14.0-usb-0:3.1:1.0-port0",
          "COM4=/dev/serial/by-path/pci-0000:00:14.0-usb-0:3.2:1.0-port0", "COM5=" + ById0}},
        {"on-board ports are never numbered, and a present ttyS2 holds COM3",
         {OnBoard(0), OnBoard(2), Adapter(0)},
         {},
         {"COM4=" + ById0}},
        {"a key holds its number whatever it names (here: nothing present)",
         {Adapter(0), Adapter(1)},
         {{"COM3", "/dev/serial/by-id/usb-Gone-if00"}, {"COM4", ""}, {"COM6", "/dev/ttyUSB7"}},
         {"COM5=" + ById0, "COM7=" + ById1}},
        {"named by its device path", {Adapter(0)}, {{"COM9", "/dev/ttyUSB0"}}, {}},
        {"named by its by-id link", {Adapter(0)}, {{"COM3", ById0}}, {}},
        {"named by another link to the same device",
         {Adapter(0)},
         {{"com12", "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0"}},
         {}},
        {"one device named twice: both lines stay, nothing is added",
         {Adapter(0), Adapter(1)},
         {{"COM5", "/dev/ttyUSB0"}, {"COM6", ById0}},
         {"COM3=" + ById1}},
        {"of two keys for one number the first counts",
         {Adapter(0)},
         {{"COM3", "/dev/ttyACM9"}, {"com3", "/dev/ttyUSB0"}},
         {"COM4=" + ById0}},
        {"keys outside COM1..COM32 neither hold a number nor name an adapter",
         {Adapter(0)},
         {{"COM40", "/dev/ttyUSB0"}, {"COM0", ById0}, {"COM03", ById0}, {"Modem", "/dev/ttyUSB0"}},
         {"COM3=" + ById0}},
        {"40 adapters: only the 30 free numbers are given", forty, {}, thirtyAssigned, 10},
        {"all numbers taken: listed, not numbered",
         {Adapter(0)},
         [] {
             TPortsEntries all;
             for (int port = 1; port <= 32; ++port) {
                 all.append(
                     {QStringLiteral("COM%1").arg(port), QStringLiteral("/dev/x%1").arg(port)});
             }
             return all;
         }(),
         {},
         1},
    };
    for (const TNumberingCase& test : cases) {
        const TPortNumbering numbering = NumberNewAdapters(test.Present, test.Entries, FakeResolve);
        EXPECT_EQ(AssignedText(numbering), test.Assigned) << test.Name;
        EXPECT_EQ(numbering.Unnumbered.size(), test.Unnumbered) << test.Name;
    }
}

// A by-id folder of links to pseudo-terminals, one of them leading nowhere.
TEST(PortDiscovery, TheByIdFolderNamesTheDeviceItsLinkLeadsToAndIgnoresDanglingLinks) {
    TPtyPair first;
    TPtyPair second;
    TPtyPair unlinked;
    QTemporaryDir byId;
    ASSERT_TRUE(byId.isValid());
    const QString firstLink = byId.filePath(QStringLiteral("usb-Maker_UART_A1-if00-port0"));
    ASSERT_TRUE(QFile::link(first.SlavePath, firstLink));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/pts/does-not-exist"),
                            byId.filePath(QStringLiteral("usb-0-Gone-if00-port0"))));
    // Relative, as udev makes them.
    const QString secondLink = byId.filePath(QStringLiteral("usb-Maker_UART_B2-if00-port0"));
    ASSERT_TRUE(QFile::link(QDir(byId.path()).relativeFilePath(second.SlavePath), secondLink));

    EXPECT_EQ(LinkInFolder(first.SlavePath, byId.path()), firstLink);
    EXPECT_EQ(LinkInFolder(second.SlavePath, byId.path()), secondLink);
    EXPECT_EQ(LinkInFolder(unlinked.SlavePath, byId.path()), QString());
    EXPECT_EQ(LinkInFolder(first.SlavePath, byId.filePath(QStringLiteral("no-such-folder"))),
              QString());
    EXPECT_EQ(CanonicalDevice(secondLink), second.SlavePath);

    // The real resolver: a key that names the link counts for the device, and the other
    // adapter is recorded under its link.
    TPresentPort firstPort;
    firstPort.Device = first.SlavePath;
    firstPort.ById = firstLink;
    TPresentPort secondPort;
    secondPort.Device = second.SlavePath;
    secondPort.SerialNumber = QStringLiteral("B2");
    secondPort.ById = LinkInFolder(second.SlavePath, byId.path());
    const TPortNumbering numbering =
        NumberNewAdapters({firstPort, secondPort}, {{QStringLiteral("COM3"), firstLink}});
    EXPECT_EQ(AssignedText(numbering), QStringList{"COM4=" + secondLink});
}

TEST(PortDiscovery, TheSystemsListRunsHereAndHoldsNoPseudoTerminal) {
    TPtyPair pty; // at least one pseudo-terminal exists while the list is made
    const QList<TPresentPort> ports = EnumeratePresentPorts();
    for (const TPresentPort& port : ports) {
        EXPECT_TRUE(port.Device.startsWith(QStringLiteral("/dev/"))) << port.Device.toStdString();
        EXPECT_FALSE(port.Device.startsWith(QStringLiteral("/dev/pts/")))
            << port.Device.toStdString();
    }
}

class PortRecord : public ::testing::Test {
protected:
    void Write(const QByteArray& Bytes) {
        QFile file(Path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(Bytes);
    }
    QByteArray Bytes() const {
        QFile file(Path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QString Path() const { return Dir.filePath(QStringLiteral("Bootload.Ini")); }

    QTemporaryDir Dir;
    TSessionPortMap Session;
};

TEST_F(PortRecord, ANewAdapterIsAddedToPortsOnceAndTheLinesAPersonWroteStay) {
    const QByteArray handWritten = "; my ports\r\n[Options]\r\nComms_Port = 3\r\n\r\n"
                                   "[Ports]\r\ncom4 = /dev/ttyUSB9\r\n"
                                   "\r\n[Other]\r\nx=1\r\n";
    Write(handWritten);
    const QList<TPresentPort> present = {Adapter(0, false), Adapter(1, false)};
    TPortNumbering numbering = RecordNewAdapters(Path(), present, Session);
    EXPECT_EQ(AssignedText(numbering), (QStringList{"COM3=/dev/ttyUSB0", "COM5=/dev/ttyUSB1"}));
    EXPECT_EQ(Bytes(), "; my ports\r\n[Options]\r\nComms_Port = 3\r\n\r\n"
                       "[Ports]\r\ncom4 = /dev/ttyUSB9\r\n"
                       "COM3=/dev/ttyUSB0\r\nCOM5=/dev/ttyUSB1\r\n\r\n[Other]\r\nx=1\r\n");
    EXPECT_TRUE(Session.isEmpty());
    EXPECT_EQ(PortDevicePath(5, Path(), Session), QStringLiteral("/dev/ttyUSB1"));

    const QByteArray recorded = Bytes();
    numbering = RecordNewAdapters(Path(), present, Session);
    EXPECT_TRUE(numbering.Assigned.isEmpty()) << "named now: not added again";
    EXPECT_EQ(Bytes(), recorded);
}

TEST_F(PortRecord, AFileThatCannotBeWrittenKeepsTheNumbersForThisRunAndTheTraceSaysSo) {
    const QByteArray notSettings("[Ports]\nCOM4=/dev/ttyUSB9\n\0binary", 33);
    Write(notSettings);
    TSerialTrace trace;
    TPortNumbering numbering = RecordNewAdapters(Path(), {Adapter(0)}, Session);
    EXPECT_EQ(AssignedText(numbering), QStringList{"COM3=" + ById0});
    EXPECT_EQ(Bytes(), notSettings);
    EXPECT_EQ(Session.value(3), ById0);
    EXPECT_EQ(PortDevicePath(3, Path(), Session), ById0);
    EXPECT_TRUE(trace.Text().contains(QStringLiteral("COM3 is %1 for this run only").arg(ById0)))
        << trace.Text().toStdString();

    // Numbers given earlier in the run count as keys: the next adapter gets COM4.
    numbering = RecordNewAdapters(Path(), {Adapter(0), Adapter(1)}, Session);
    EXPECT_EQ(AssignedText(numbering), QStringList{"COM4=" + ById1});
    EXPECT_EQ(Session.size(), 2);
}
