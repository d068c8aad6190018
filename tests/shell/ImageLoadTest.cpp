// The hidden Load File command: the image file, the two prompts and what each failure
// leaves behind.
#include "QtPrinters.h"
#include "ShellTestSupport.h"

#include <QListWidget>
#include <QPushButton>

#include <sys/stat.h>

namespace {

QByteArray Pattern(int Size, uint8_t Seed) {
    QByteArray bytes(Size, '\0');
    for (int i = 0; i < Size; ++i) {
        bytes[i] = static_cast<char>((i * 7 + Seed) & 0xFF);
    }
    return bytes;
}

} // namespace

class LoadFile : public TLoadFileTest {
protected:
    std::vector<QString> PromptCaptions() const {
        std::vector<QString> captions;
        for (const TModalRequest& request : Shown) {
            if (request.Kind == TModalKind::InputText) {
                captions.push_back(request.Caption + "|" + request.Text);
            }
        }
        return captions;
    }
};

TEST_F(LoadFile, ShortFileReplacesOnlyItsOwnBytes) {
    const QByteArray file = Pattern(1000, 3);
    WriteFile("short.bin", file);
    Window->BlockPresent.fill(0);
    Answers = {Typed(PathOf("short.bin")), Typed("5620"), Typed("5516")};
    Window->LoadFile1Click();
    EXPECT_TRUE(MessageTexts().empty());
    const QByteArray image = ImageOf(*Window);
    EXPECT_EQ(image.left(1000), file);
    EXPECT_EQ(image.mid(1000), Before.mid(1000));
    for (const uint8_t flag : Window->BlockPresent) {
        ASSERT_EQ(flag, 1);
    }
    EXPECT_EQ(Window->ProcessorNumber, 5620);
    EXPECT_EQ(Window->LastProgramAddress, 0xFFFFu);
    EXPECT_EQ(Window->ModelNumber, 5516);
    EXPECT_EQ(Window->ExpectedModelNumber, 5516);
    EXPECT_EQ(PromptCaptions(),
              (std::vector<QString>{"Enter Processor No.|Processor No.", "Enter RM No.|RM No."}));
    ASSERT_GE(Window->ListBox1->count(), 1);
    EXPECT_EQ(Window->ListBox1->item(Window->ListBox1->count() - 1)->text(),
              "New File Loaded...RM5516");
    EXPECT_TRUE(Window->Button6->isEnabled());
}

TEST_F(LoadFile, LongFileGivesOnlyItsFirst64KiB) {
    const QByteArray file = Pattern(100000, 11);
    WriteFile("long.bin", file);
    Answers = {Typed(PathOf("long.bin")), Typed("5525"), Typed("5516")};
    Window->LoadFile1Click();
    EXPECT_EQ(ImageOf(*Window), file.left(65536));
}

TEST_F(LoadFile, TypedNumbersKeepTheirLow16BitsWithoutThe5448Substitution) {
    WriteFile("image.bin", Pattern(65536, 1));
    Answers = {Typed(PathOf("image.bin")), Typed(" 5525 "), Typed("70000")};
    Window->LoadFile1Click();
    EXPECT_EQ(Window->ModelNumber, 4464);
    EXPECT_EQ(Window->ExpectedModelNumber, 4464);
    EXPECT_EQ(Window->ListBox1->item(Window->ListBox1->count() - 1)->text(),
              "New File Loaded...RM4464");

    Answers = {Typed(PathOf("image.bin")), Typed("-1"), Typed("5456")};
    Window->LoadFile1Click();
    EXPECT_EQ(Window->ProcessorNumber, 0xFFFF);
    EXPECT_EQ(Window->ExpectedModelNumber, 5456) << "the number typed in, not 5448";
    // The title, version, pause and slave address group stay as the build set them.
    EXPECT_EQ(Window->windowTitle(), "Tarnwick K-310 Firmware Update v1.50");
    EXPECT_EQ(Window->FirmwareVersion, 150);
    EXPECT_EQ(Window->CommandPause, -1);
    EXPECT_TRUE(Window->SlvAdd_GroupBox->isHidden());
}

TEST_F(LoadFile, UnlistedProcessorLeavesTheProgramLimit) {
    WriteFile("image.bin", Pattern(65536, 1));
    Answers = {Typed(PathOf("image.bin")), Typed("1234"), Typed("5516")};
    Window->LoadFile1Click();
    EXPECT_EQ(Window->ProcessorNumber, 1234);
    EXPECT_EQ(Window->LastProgramAddress, 0xBFFFu);
}

// Start follows the rule the first step of a run checks: a last address that ends no
// whole page is no program range, whether it is 0 or not.
TEST_F(LoadFile, StartStaysOffForALimitThatIsNoProgramRange) {
    WriteFile("image.bin", Pattern(65536, 1));
    Window->LastProgramAddress = 0xBF00;
    Answers = {Typed(PathOf("image.bin")), Typed("1234"), Typed("5516")};
    Window->LoadFile1Click();
    EXPECT_FALSE(Window->Button6->isEnabled());
    EXPECT_EQ(MessageTexts(), std::vector<QString>{"No program memory range for processor 1234"});
}

TEST_F(LoadFile, LogLineIsAppendedWithoutMovingTheSelection) {
    Window->AddLogLine(Window->ListBox1, "first");
    WriteFile("image.bin", Pattern(10, 1));
    Answers = {Typed(PathOf("image.bin")), Typed("5525"), Typed("5516")};
    Window->LoadFile1Click();
    EXPECT_EQ(Window->ListBox1->count(), 2);
    EXPECT_EQ(Window->ListBox1->currentRow(), 0);
}

TEST_F(LoadFile, NonIntegerProcessorEndsTheCommandAfterTheImage) {
    const QByteArray file = Pattern(2000, 5);
    WriteFile("image.bin", file);
    const int lines = Window->ListBox1->count();
    Answers = {Typed(PathOf("image.bin")), Typed("12a")};
    Window->LoadFile1Click();
    EXPECT_EQ(MessageTexts(), std::vector<QString>{"'12a' is not a valid integer value"});
    EXPECT_EQ(Shown.back().Icon, QMessageBox::Critical);
    EXPECT_EQ(ImageOf(*Window).left(2000), file) << "the file's bytes are already in";
    EXPECT_EQ(Window->ProcessorNumber, 5525);
    EXPECT_EQ(Window->ModelNumber, 5516);
    EXPECT_EQ(PromptCaptions().size(), 1u) << "the RM prompt is never shown";
    EXPECT_EQ(Window->ListBox1->count(), lines);
}

TEST_F(LoadFile, CancelAtTheModelPromptKeepsTheProcessorTyped) {
    WriteFile("image.bin", Pattern(100, 5));
    const int lines = Window->ListBox1->count();
    Answers = {Typed(PathOf("image.bin")), Typed("7321"), Cancelled()};
    Window->LoadFile1Click();
    EXPECT_EQ(MessageTexts(), std::vector<QString>{"'' is not a valid integer value"});
    EXPECT_EQ(Window->ProcessorNumber, 7321);
    EXPECT_EQ(Window->LastProgramAddress, 0x1FFFu);
    EXPECT_EQ(Window->ModelNumber, 5516);
    EXPECT_EQ(Window->ExpectedModelNumber, 5516);
    EXPECT_EQ(Window->ListBox1->count(), lines);
}

TEST_F(LoadFile, OutOfRangeAndMalformedNumbersAreNotIntegers) {
    WriteFile("image.bin", Pattern(100, 5));
    for (const char* answer : {"99999999999", "1.5", "0x", "--3", "3 4"}) {
        Shown.clear();
        Answers = {Typed(PathOf("image.bin")), Typed(answer)};
        Window->LoadFile1Click();
        EXPECT_EQ(MessageTexts(),
                  std::vector<QString>{QString("'%1' is not a valid integer value").arg(answer)});
        EXPECT_EQ(Window->ProcessorNumber, 5525);
    }
}

TEST_F(LoadFile, CancelledFileDialogDoesNothing) {
    Answers = {Cancelled()};
    Window->LoadFile1Click();
    EXPECT_TRUE(MessageTexts().empty());
    EXPECT_TRUE(PromptCaptions().empty());
    EXPECT_EQ(ImageOf(*Window), Before);
}

// Anything but a readable regular file: "Cannot open file", no prompt, nothing changed,
// and never a hang on a FIFO or an endless read of a device.
TEST_F(LoadFile, WhatCannotBeReadAsAFileIsRefused) {
    const QString fifo = PathOf("fifo");
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    for (const QString& path : {PathOf("missing.bin"), fifo, DirPath(), QString("/dev/zero")}) {
        Shown.clear();
        Answers = {Typed(path), Typed("5525"), Typed("5516")};
        Window->LoadFile1Click();
        EXPECT_EQ(MessageTexts(), std::vector<QString>{"Cannot open file " + path});
        EXPECT_TRUE(PromptCaptions().empty()) << path.toStdString();
        EXPECT_EQ(ImageOf(*Window), Before);
    }
}

TEST_F(LoadFile, UnreadableFileIsRefused) {
    if (RunningAsRoot()) {
        GTEST_SKIP() << "root reads unreadable files";
    }
    WriteFile("locked.bin", Pattern(100, 1));
    ASSERT_EQ(::chmod(PathOf("locked.bin").toLocal8Bit().constData(), 0), 0);
    Answers = {Typed(PathOf("locked.bin"))};
    Window->LoadFile1Click();
    EXPECT_EQ(MessageTexts(), std::vector<QString>{"Cannot open file " + PathOf("locked.bin")});
    EXPECT_EQ(ImageOf(*Window), Before);
}

// A HEX file replaces the whole image (erased flash where it gives nothing) and flags only
// its blocks; what it holds outside program memory is logged after the command's line.
TEST_F(LoadFile, HexFileReplacesTheWholeImageAndFlagsOnlyItsBlocks) {
    WriteFile("image.hex", ":03090000010203EE\r\n:020000040030CA\r\n:020000007788FF\r\n"
                           ":00000001FF\r\n");
    Answers = {Typed(PathOf("image.hex")), Typed("5525"), Typed("5516")};
    Window->LoadFile1Click();
    EXPECT_TRUE(MessageTexts().empty());
    QByteArray expected(65536, '\xFF');
    expected.replace(0x0900, 3, "\x01\x02\x03");
    EXPECT_EQ(ImageOf(*Window), expected);
    for (size_t block = 0; block < Window->BlockPresent.size(); ++block) {
        ASSERT_EQ(Window->BlockPresent[block], block == 0x0900 / 128 ? 1 : 0) << block;
    }
    EXPECT_EQ(LogLines().mid(LogLines().size() - 2),
              (QStringList{"New File Loaded...RM5516",
                           "Left out 2 bytes outside program memory 0x0800..0xBFFF: "
                           "0x300000..0x300001"}));
    EXPECT_TRUE(Window->Button6->isEnabled());
}

// A file the reader refuses changes nothing and asks for no number. One with no data in
// program memory: a run started before the command got its numbers stops before the unit
// is touched, and once the processor is known Start goes off.
TEST_F(LoadFile, HexFileThatCannotBeUsedIsRefusedAndNothingIsSent) {
    WriteFile("bad.hex", ":03090000010203EE\n:03090000010203EF\n:00000001FF\n");
    Answers = {Typed(PathOf("bad.hex")), Typed("5525"), Typed("5516")};
    Window->LoadFile1Click();
    EXPECT_EQ(MessageTexts(),
              std::vector<QString>{"Cannot load file " + PathOf("bad.hex") +
                                   ": line 2: bad record checksum 0xEF (the record's bytes "
                                   "need 0xEE)"});
    EXPECT_EQ(Answers.size(), 2u) << "a number was asked for";
    EXPECT_EQ(ImageOf(*Window), Before);
    EXPECT_EQ(Window->BlockPresent[0], 1);

    // Cancelled at the processor prompt: the file is in, Start as it was.
    WriteFile("low.hex", ":0101000001FD\n:00000001FF\n");
    Answers = {Typed(PathOf("low.hex")), Cancelled()};
    Window->LoadFile1Click();
    ASSERT_TRUE(Window->Button6->isEnabled());
    ASSERT_TRUE(RunUpdate(10000));
    EXPECT_EQ(LogLines(), QStringList{"Initialising Upgrade.....Error (No Program Data)"});

    Shown.clear();
    Answers = {Typed(PathOf("low.hex")), Typed("5525"), Typed("5516")};
    Window->LoadFile1Click();
    EXPECT_EQ(MessageTexts(),
              std::vector<QString>{"The image holds no data in program memory 0x0800..0xBFFF"});
    EXPECT_FALSE(Window->Button6->isEnabled());
}
