// The command line's checks that the end-to-end tests cannot reach with this build's
// product: the slave address range of the product that has one.
#include "cli/CliOptions.h"

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
