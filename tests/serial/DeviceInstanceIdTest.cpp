// What the port dialog and --list-ports show of a Windows adapter comes from its device
// instance ID: both the USB bus driver's form and FTDI's own give vendor, product and
// serial number; made-up serial numbers are not shown as the adapter's.
#include "serial/DeviceInstanceId.h"

#include <gtest/gtest.h>

namespace {

TPresentPort Read(const char* Instance) {
    TPresentPort port;
    ReadInstanceIdentity(QString::fromLatin1(Instance), port);
    return port;
}

TEST(DeviceInstanceId, BothFormsGiveVendorProductAndSerialNumber) {
    const TPresentPort ftdi = Read("FTDIBUS\\VID_0403+PID_6001+A10K1234A\\0000");
    EXPECT_EQ(ftdi.VendorId, 0x0403);
    EXPECT_EQ(ftdi.ProductId, 0x6001);
    EXPECT_EQ(ftdi.SerialNumber, QStringLiteral("A10K1234")); // without the channel letter
    EXPECT_EQ(PortDescription(ftdi), QStringLiteral("A10K1234"));

    const TPresentPort secondChannel = Read("ftdibus\\vid_0403+pid_6010+FT4XYZ12B\\0000");
    EXPECT_EQ(secondChannel.ProductId, 0x6010);
    EXPECT_EQ(secondChannel.SerialNumber, QStringLiteral("FT4XYZ12"));

    const TPresentPort usb = Read("USB\\VID_067B&PID_2303\\A10K1234");
    EXPECT_EQ(usb.VendorId, 0x067B);
    EXPECT_EQ(usb.ProductId, 0x2303);
    EXPECT_EQ(usb.SerialNumber, QStringLiteral("A10K1234"));
}

TEST(DeviceInstanceId, NumbersWindowsMadeUpAreNoSerialNumbers) {
    const TPresentPort usb = Read("USB\\VID_1A86&PID_7523\\5&2C3F5E1A&0&2");
    EXPECT_EQ(usb.VendorId, 0x1A86);
    EXPECT_TRUE(usb.SerialNumber.isEmpty());
    const TPresentPort ftdi = Read("FTDIBUS\\VID_0403+PID_6001+6&1B2C3D4E&0&1\\0000");
    EXPECT_EQ(ftdi.ProductId, 0x6001);
    EXPECT_TRUE(ftdi.SerialNumber.isEmpty());
    const TPresentPort onBoard = Read("ACPI\\PNP0501\\1");
    EXPECT_FALSE(onBoard.VendorId.has_value());
    EXPECT_TRUE(onBoard.SerialNumber.isEmpty());
}

} // namespace
