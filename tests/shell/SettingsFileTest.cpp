// "Bootload.Ini" at start-up: read as people write it, created, changed in its one value
// only, and never overwritten when it cannot be a settings file.
#include "ShellTestSupport.h"

#include "PtyPair.h"
#include "serial/KestComms.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>

#include <sys/stat.h>

namespace {

const QString PortFailure = QStringLiteral("Unable To Open Comms Port. Please Select Another.");

// Maps the ports a test names to a device that does not exist, so none opens.
QByteArray UnopenablePorts() {
    return "[Ports]\nCOM1=/nonexistent/tty1\nCOM2=/nonexistent/tty2\nCOM10=/nonexistent/tty10\n";
}

} // namespace

using SettingsFile = TShellTest;

TEST_F(SettingsFile, MissingFileIsCreatedInTheWorkingDirectoryWithPort1) {
    TMainForm& form = StartForm();
    EXPECT_EQ(form.SettingsDir, DirPath() + "/");
    EXPECT_EQ(form.CommsPortNumber, 1);
    EXPECT_EQ(ReadFile("Bootload.Ini"), "[Options]\nComms_Port=1\n");
    EXPECT_EQ(form.Comms->PortMapFile, SettingsPath());
}

TEST_F(SettingsFile, MissingKeyReadsAs1AndLeavesTheFileAloneWhenThePortFails) {
    const QByteArray original = "; ports of the bench PC\n" + UnopenablePorts();
    WriteFile("Bootload.Ini", original);
    TMainForm& form = StartForm();
    EXPECT_EQ(form.CommsPortNumber, 1);
    EXPECT_EQ(ReadFile("Bootload.Ini"), original);
    EXPECT_EQ(MessageTexts(), std::vector<QString>{PortFailure});
}

TEST_F(SettingsFile, NonNumericOrEmptyValueReadsAs1) {
    for (const QByteArray& value : {QByteArray("abc"), QByteArray(""), QByteArray("3,4")}) {
        const QByteArray original = "[Options]\nComms_Port=" + value + "\n" + UnopenablePorts();
        WriteFile("Bootload.Ini", original);
        TMainForm& form = StartForm();
        EXPECT_EQ(form.CommsPortNumber, 1) << value.constData();
        EXPECT_EQ(form.Comms->CommPort, COM1);
        EXPECT_EQ(ReadFile("Bootload.Ini"), original);
        Window.reset();
    }
}

TEST_F(SettingsFile, HexValueSelectsThatPort) {
    WriteFile("Bootload.Ini", "[Options]\nComms_Port=0x0A\n" + UnopenablePorts());
    TMainForm& form = StartForm();
    EXPECT_EQ(form.CommsPortNumber, 10);
    EXPECT_EQ(form.Comms->CommPort, COM10);
    EXPECT_EQ(form.Comms->BaudRate, 115200u);
    EXPECT_EQ(form.Comms->DataBits, 8);
    EXPECT_EQ(form.Comms->StopBits, TStopBits::sb1);
    EXPECT_EQ(form.Comms->Parity, TParity::None);
    EXPECT_EQ(form.Comms->RxBufferSize, 500);
}

TEST_F(SettingsFile, PortNumbersOutsideTheListAreKept) {
    WriteFile("Bootload.Ini", "[Options]\nComms_Port=0\n[Ports]\nCOM256=/nonexistent/tty\n");
    TMainForm& form = StartForm();
    EXPECT_EQ(form.CommsPortNumber, 0);
    EXPECT_EQ(static_cast<uint8_t>(form.Comms->CommPort), 255); // 0 - 1 as an 8-bit value
}

TEST_F(SettingsFile, SavingKeepsTheOtherSectionsAndKeys) {
    WriteFile("Bootload.Ini", "[Options]\nComms_Port=3\nOther=yes\n\n[Ports]\n"
                              "COM3=/nonexistent/tty3\nCOM4=/dev/serial/by-id/usb-A,B\n");
    TMainForm& form = StartForm();
    EXPECT_EQ(form.CommsPortNumber, 3);
    form.CommsPortNumber = 4;
    EXPECT_TRUE(form.SaveSettings());
    EXPECT_EQ(ReadFile("Bootload.Ini"), "[Options]\nComms_Port=4\nOther=yes\n\n[Ports]\n"
                                        "COM3=/nonexistent/tty3\nCOM4=/dev/serial/by-id/usb-A,B\n");
}

// Written by hand, as on a bench PC: a '#' comment first, names in other cases, blanks, a
// hexadecimal number, a ';' comment. The port it names opens, nothing is reported, and the
// save after the open leaves every byte, and the file itself, as it was.
TEST_F(SettingsFile, HandWrittenFileOpensItsPortAndIsLeftByteForByte) {
    TPtyPair pty;
    const QByteArray original = "# bench adapter\n[options]\ncomms_port = 0x03\n\n"
                                "; the USB adapter on the left\n[Ports]\nCOM3=" +
                                pty.SlavePath.toLocal8Bit() + "\n";
    WriteFile("Bootload.Ini", original);
    struct stat before {};
    ASSERT_EQ(::stat(SettingsPath().toLocal8Bit().constData(), &before), 0);
    TMainForm& form = StartForm();
    EXPECT_TRUE(Shown.empty());
    EXPECT_EQ(form.CommsPortNumber, 3);
    ASSERT_NE(form.Comms, nullptr);
    EXPECT_TRUE(form.Comms->IsOpen());
    EXPECT_EQ(form.StatusPanel0->text(), " Port: COM3");
    EXPECT_EQ(ReadFile("Bootload.Ini"), original);
    struct stat after {};
    ASSERT_EQ(::stat(SettingsPath().toLocal8Bit().constData(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the file was rewritten";
}

// Lines that are not INI are skipped: the value around them is read, and a save
// changes that value and keeps them.
TEST_F(SettingsFile, GarbageLinesAreSkippedAndKept) {
    const QByteArray garbage = "this is not\nan ini file\n[Options]\nComms_Port=7\n[Ports\n";
    WriteFile("Bootload.Ini", garbage + "[Ports]\nCOM7=/nonexistent/tty7\n");
    TMainForm& form = StartForm();
    EXPECT_EQ(form.CommsPortNumber, 7);
    EXPECT_EQ(MessageTexts(), std::vector<QString>{PortFailure});
    form.CommsPortNumber = 8;
    EXPECT_TRUE(form.SaveSettings());
    EXPECT_EQ(ReadFile("Bootload.Ini"),
              "this is not\nan ini file\n[Options]\nComms_Port=8\n[Ports\n"
              "[Ports]\nCOM7=/nonexistent/tty7\n");
}

// Binary: reported at start-up, COM1 used, and the file is never rewritten.
TEST_F(SettingsFile, BinaryFileIsReportedAndNeverOverwritten) {
    QByteArray binary("\x7f"
                      "ELF\x02\x01\x01");
    binary.append(QByteArray(64, '\0')).append("=\n[Ports\n\xff\xfe");
    WriteFile("Bootload.Ini", binary);
    TMainForm& form = StartForm();
    EXPECT_EQ(form.CommsPortNumber, 1);
    const std::vector<QString> texts = MessageTexts();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts[0], "Unable to read " + SettingsPath());
    EXPECT_TRUE(form.isVisible()) << "the program carries on";
    EXPECT_EQ(form.windowTitle(), "Tarnwick K-310 Firmware Update v1.50");

    Shown.clear();
    EXPECT_FALSE(form.SaveSettings());
    EXPECT_EQ(MessageTexts(), std::vector<QString>{"Unable to write to " + SettingsPath()});
    EXPECT_EQ(ReadFile("Bootload.Ini"), binary);
}

TEST_F(SettingsFile, DirectoryInPlaceOfTheFileIsReportedAndKept) {
    ASSERT_TRUE(QDir(DirPath()).mkdir("Bootload.Ini"));
    WriteFile("Bootload.Ini/keep", "x");
    TMainForm& form = StartForm();
    EXPECT_EQ(form.CommsPortNumber, 1);
    ASSERT_FALSE(MessageTexts().empty());
    EXPECT_EQ(MessageTexts()[0], "Unable to read " + SettingsPath());
    Shown.clear();
    EXPECT_FALSE(form.SaveSettings());
    EXPECT_EQ(MessageTexts(), std::vector<QString>{"Unable to write to " + SettingsPath()});
    EXPECT_TRUE(QFileInfo(SettingsPath()).isDir());
    EXPECT_EQ(ReadFile("Bootload.Ini/keep"), "x");
}

TEST_F(SettingsFile, FifoInPlaceOfTheFileDoesNotHangStartUp) {
    ASSERT_EQ(::mkfifo(SettingsPath().toLocal8Bit().constData(), 0600), 0);
    TMainForm& form = StartForm();
    EXPECT_EQ(form.CommsPortNumber, 1);
    ASSERT_FALSE(MessageTexts().empty());
    EXPECT_EQ(MessageTexts()[0], "Unable to read " + SettingsPath());
    EXPECT_FALSE(form.SaveSettings());
    EXPECT_FALSE(QFileInfo(SettingsPath()).isFile());
}

TEST_F(SettingsFile, ReadOnlyFileIsReportedOnWriteAndKept) {
    if (RunningAsRoot()) {
        GTEST_SKIP() << "root writes read-only files";
    }
    const QByteArray original = "[Options]\nComms_Port=2\n" + UnopenablePorts();
    WriteFile("Bootload.Ini", original);
    ASSERT_EQ(::chmod(SettingsPath().toLocal8Bit().constData(), 0444), 0);
    TMainForm& form = StartForm();
    EXPECT_EQ(form.CommsPortNumber, 2);
    Shown.clear();
    EXPECT_TRUE(form.SaveSettings()) << "the file holds that value already";
    EXPECT_TRUE(MessageTexts().empty());
    form.CommsPortNumber = 3;
    EXPECT_FALSE(form.SaveSettings());
    EXPECT_EQ(MessageTexts(), std::vector<QString>{"Unable to write to " + SettingsPath()});
    EXPECT_EQ(ReadFile("Bootload.Ini"), original);
}

TEST_F(SettingsFile, UnreadableFileIsReportedAndKept) {
    if (RunningAsRoot()) {
        GTEST_SKIP() << "root reads unreadable files";
    }
    const QByteArray original = "[Options]\nComms_Port=2\n";
    WriteFile("Bootload.Ini", original);
    ASSERT_EQ(::chmod(SettingsPath().toLocal8Bit().constData(), 0), 0);
    TMainForm& form = StartForm();
    EXPECT_EQ(form.CommsPortNumber, 1);
    ASSERT_FALSE(MessageTexts().empty());
    EXPECT_EQ(MessageTexts()[0], "Unable to read " + SettingsPath());
    EXPECT_FALSE(form.SaveSettings());
    ::chmod(SettingsPath().toLocal8Bit().constData(), 0600);
    EXPECT_EQ(ReadFile("Bootload.Ini"), original);
}

// Even root cannot create files in /proc: a working directory nothing can be written to.
TEST_F(SettingsFile, UnwritableDirectoryIsReportedAndStartUpCarriesOn) {
    const QString procDir = QStringLiteral("/proc/%1").arg(::getpid());
    if (!QFileInfo(procDir).isDir()) {
        GTEST_SKIP() << "no /proc";
    }
    ASSERT_TRUE(QDir::setCurrent(procDir));
    TMainForm& form = StartForm();
    const QString path = procDir + "/Bootload.Ini";
    const std::vector<QString> texts = MessageTexts();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts[0], "Unable to write to " + path);
    EXPECT_EQ(form.CommsPortNumber, 1);
    EXPECT_EQ(form.windowTitle(), "Tarnwick K-310 Firmware Update v1.50");
    EXPECT_TRUE(form.Button6->isEnabled());
    EXPECT_FALSE(QFileInfo::exists(path));
}

TEST_F(SettingsFile, DeletedWorkingDirectoryNeverSendsTheFileToTheRoot) {
    const QString gone = PathOf("gone");
    ASSERT_TRUE(QDir().mkdir(gone));
    ASSERT_TRUE(QDir::setCurrent(gone));
    ASSERT_TRUE(QDir().rmdir(gone));
    const bool rootHadOne = QFileInfo::exists("/Bootload.Ini");
    TMainForm& form = StartForm();
    EXPECT_EQ(form.SettingsDir, "./");
    EXPECT_EQ(QFileInfo::exists("/Bootload.Ini"), rootHadOne);
    ASSERT_FALSE(MessageTexts().empty());
    EXPECT_EQ(MessageTexts()[0], "Unable to write to ./Bootload.Ini");
    EXPECT_TRUE(form.isVisible());
}
