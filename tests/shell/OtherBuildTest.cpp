// Start-up with another build's resources: the K-900 (names in lower case, an image
// shorter than 64 KiB), and a faulty build that lacks some of them.
#include "ShellTestSupport.h"

#include <QTest>

#include <algorithm>
#include <cstring>

using OtherBuild = TShellTest;

#ifdef K900_BUILD

TEST_F(OtherBuild, K900IdentityPauseAndSlaveAddress) {
    WriteFile("Bootload.Ini", "[Ports]\nCOM1=/nonexistent/tty\n");
    TMainForm& form = StartForm();
    EXPECT_EQ(form.ModelNumber, 5599);
    EXPECT_EQ(form.ExpectedModelNumber, 5599);
    EXPECT_EQ(form.ProcessorNumber, 7321);
    EXPECT_EQ(form.LastProgramAddress, 0x1FFFu);
    EXPECT_EQ(form.FirmwareVersion, 1234);
    EXPECT_EQ(form.CommandPause, 5);
    EXPECT_EQ(form.windowTitle(), "Tarnwick K-900 Firmware Update v1.234");
    EXPECT_EQ(ApplicationTitle(), "Tarnwick K-900 Firmware Update v1.234");
    EXPECT_TRUE(form.SlvAdd_GroupBox->isVisible());
    EXPECT_EQ(form.SlaveAddress, 1);
    EXPECT_TRUE(form.Button6->isEnabled());
    EXPECT_EQ(MessageTexts(),
              std::vector<QString>{"Unable To Open Comms Port. Please Select Another."});
}

TEST_F(OtherBuild, ShortEmbeddedImageFillsOnlyItsOwnBytes) {
    WriteFile("Bootload.Ini", "[Ports]\nCOM1=/nonexistent/tty\n");
    TMainForm& form = StartForm();
    QByteArray expected;
    for (int i = 0; i < 250; ++i) {
        expected.append("K900");
    }
    EXPECT_EQ(std::memcmp(form.ImageBuffer.data(), expected.constData(), 1000), 0);
    EXPECT_TRUE(std::all_of(form.ImageBuffer.begin() + 1000, form.ImageBuffer.end(),
                            [](uint8_t Byte) { return Byte == 0; }));
    EXPECT_TRUE(std::all_of(form.BlockPresent.begin(), form.BlockPresent.end(),
                            [](uint8_t Flag) { return Flag == 1; }));
}

#else // the faulty build: RM_NUM one byte long, no PROC_NUM, no HFILE

TEST_F(OtherBuild, MissingResourcesAreReportedAndStartStaysOff) {
    WriteFile("Bootload.Ini", "[Options]\nComms_Port=2\n[Ports]\nCOM2=/nonexistent/tty\n");
    TMainForm& form = StartForm();
    EXPECT_EQ(MessageTexts(), (std::vector<QString>{
                                  "Resource PROC_NUM not found",
                                  "Resource HFILE not found",
                                  "Unable To Open Comms Port. Please Select Another.",
                              }));
    EXPECT_EQ(Shown[0].Icon, QMessageBox::Critical);
    EXPECT_EQ(form.ModelNumber, 0x41) << "the missing high byte reads as 0";
    EXPECT_EQ(form.FirmwareVersion, 150);
    EXPECT_EQ(form.LastProgramAddress, 0u);
    EXPECT_EQ(form.windowTitle(), "Unsupported Firmware");
    EXPECT_FALSE(form.Button6->isEnabled()) << "no image to send";
    EXPECT_TRUE(std::all_of(form.BlockPresent.begin(), form.BlockPresent.end(),
                            [](uint8_t Flag) { return Flag == 0; }));
    EXPECT_TRUE(form.isVisible()) << "the program carries on";
    EXPECT_EQ(form.CommsPortNumber, 2);
}

TEST_F(OtherBuild, LoadedFileEnablesStartOnlyWithAKnownProgramRange) {
    WriteFile("Bootload.Ini", "[Ports]\nCOM1=/nonexistent/tty\n");
    WriteFile("image.bin", QByteArray(65536, '\xa5'));
    TMainForm& form = StartForm();
    Shown.clear();
    Answers = {Typed(PathOf("image.bin")), Typed("4242"), Typed("5516")};
    form.LoadFile1Click();
    EXPECT_EQ(MessageTexts(), std::vector<QString>{"No program memory range for processor 4242"});
    EXPECT_FALSE(form.Button6->isEnabled());

    Shown.clear();
    Answers = {Typed(PathOf("image.bin")), Typed("5525"), Typed("5516")};
    form.LoadFile1Click();
    EXPECT_TRUE(MessageTexts().empty());
    EXPECT_EQ(form.LastProgramAddress, 0xBFFFu);
    EXPECT_TRUE(form.Button6->isEnabled());
    EXPECT_EQ(form.ImageBuffer[65535], 0xa5);
}

#endif
