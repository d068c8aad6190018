// The command line's checks that the end-to-end tests cannot reach with this build's
// product: the slave address range and the ports file's slave addresses of the product
// that has one; the help as Windows tools ask for it, and its width.
#include "cli/CliOptions.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

std::optional<TCliOptions> Parse(const QStringList& Arguments, bool SlaveAllowed, QString& Error) {
    return ParseCliOptions(QStringList{QStringLiteral("bootload-cli")} + Arguments, SlaveAllowed,
                           Error);
}

TEST(CliOptionsTest, SlaveAddressOnlyWithinItsRangeAndOnlyForItsProduct) {
    QString error;
    for (const char* refused : {"0", "248", "300", "-1", "x", ""}) {
        EXPECT_FALSE(Parse({"--port", "COM1", "--slave", refused}, true, error)) << refused;
        EXPECT_TRUE(error.startsWith("--slave")) << error.toStdString();
    }
    for (const auto& [text, value] : {std::pair{"1", 1}, std::pair{"247", 247}}) {
        const std::optional<TCliOptions> options =
            Parse({"--port", "COM1", "--slave", text}, true, error);
        ASSERT_TRUE(options) << error.toStdString();
        EXPECT_EQ(options->Slave, value);
    }
    EXPECT_FALSE(Parse({"--port", "COM1", "--slave", "5"}, false, error));
    EXPECT_FALSE(Parse({"--identify", "--port", "COM1", "--slave", "5"}, false, error));
}

TEST(CliOptionsTest, PortIsACommNumberOrADevicePath) {
    QString error;
    std::optional<TCliOptions> options = Parse({"--port", "com12"}, false, error);
    ASSERT_TRUE(options);
    EXPECT_EQ(options->ComNumber, 12);
    options = Parse({"--port", "/dev/serial/by-id/usb-FTDI-if00-port0"}, false, error);
    ASSERT_TRUE(options);
    EXPECT_EQ(options->ComNumber, 0);
    EXPECT_EQ(options->Port, "/dev/serial/by-id/usb-FTDI-if00-port0");
    EXPECT_FALSE(Parse({"--port", "COM0"}, false, error));
    EXPECT_FALSE(Parse({"--port", "COM257"}, false, error));
    EXPECT_FALSE(Parse({}, false, error));
    EXPECT_EQ(error, "--port is required (or --ports-file)");
}

} // namespace

namespace {

TEST(CliOptionsTest, HelpAsWindowsToolsAskForItFitsAnEightyColumnConsole) {
    QString error;
    for (const char* ask : {"-h", "/?", "-?", "--help"}) {
        const std::optional<TCliOptions> options = Parse({ask}, false, error);
        ASSERT_TRUE(options) << ask << ": " << error.toStdString();
        EXPECT_EQ(options->Action, TCliAction::Help) << ask;
    }
    // The longest name a product build gives the program.
    const QStringList lines = CliHelp(QStringLiteral("bootload-rm5516-cli.exe")).split(u'\n');
    for (const QString& line : lines) {
        EXPECT_LE(line.size(), 79) << line.toStdString();
        EXPECT_FALSE(line.endsWith(u' ')) << line.toStdString();
    }
}

TEST(CliOptionsTest, PortsFileTakesOnePortALineAndASlaveAddressOnlyWhereTheProductHasOne) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ports.txt"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("# line 2\n\nCOM3\n  /dev/ttyUSB0   7 # fixture 2\nrfc2217://plant:4001#x\n");
    file.close();
    QString error;
    std::optional<TCliOptions> options =
        Parse({"--ports-file", path, "--port", "COM9", "--slave", "5"}, true, error);
    ASSERT_TRUE(options) << error.toStdString();
    EXPECT_TRUE(options->Many);
    ASSERT_EQ(options->Ports.size(), 4);
    EXPECT_EQ(options->Ports[0].Name, "COM9");
    EXPECT_EQ(options->Ports[0].Slave, 5);
    EXPECT_EQ(options->Ports[1].ComNumber, 3);
    EXPECT_EQ(options->Ports[2].Name, "/dev/ttyUSB0");
    EXPECT_EQ(options->Ports[2].Slave, 7);
    EXPECT_EQ(options->Ports[3].Name, "rfc2217://plant:4001#x");
    // A product without a slave address refuses the second word, naming the line.
    EXPECT_FALSE(Parse({"--ports-file", path}, false, error));
    EXPECT_TRUE(error.endsWith("line 4: one port a line; this product's unit has no slave "
                               "address to set"))
        << error.toStdString();
}

} // namespace
