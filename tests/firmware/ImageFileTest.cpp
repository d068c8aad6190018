// The one image reader: raw images and Intel HEX files, told apart by content; HEX texts
// written out here record by record.
#include "firmware/ImageFile.h"
#include "firmware/ImageSelection.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

TImageReadResult Read(const std::string& Text) {
    return ReadFirmwareImage(std::span(reinterpret_cast<const uint8_t*>(Text.data()), Text.size()),
                             false);
}

std::vector<size_t> FlaggedBlocks(const TFirmwareImage& Image) {
    std::vector<size_t> blocks;
    for (size_t block = 0; block < Image.BlockPresent.size(); ++block) {
        if (Image.BlockPresent[block] != 0) {
            blocks.push_back(block);
        }
    }
    return blocks;
}

// Every byte of the buffer: Expected where given, 0xFF elsewhere.
void ExpectBuffer(const TFirmwareImage& Image,
                  const std::vector<std::pair<size_t, uint8_t>>& Expected) {
    std::array<uint8_t, ImageBufferSize> wanted{};
    wanted.fill(0xFF);
    for (const auto& [address, value] : Expected) {
        wanted[address] = value;
    }
    for (size_t address = 0; address < ImageBufferSize; ++address) {
        ASSERT_EQ(Image.Bytes[address], wanted[address]) << "at " << address;
    }
}

// Lower-case digits, CRLF, a record across the 0x0880 block boundary, and the start
// address records (05, 03) that carry nothing to write.
TEST(ImageFileTest, HexRecordsLandByteForByteAndFlagTheBlocksTheyTouch) {
    const TImageReadResult read = Read(":0400000500000800EF\r\n"
                                       ":020000040000FA\r\n"
                                       ":08087C00112233445566778810\r\n"
                                       ":02090000a55af6\r\n"
                                       ":0400000300001234b3\r\n"
                                       ":00000001ff\r\n");
    ASSERT_TRUE(read.Image) << read.Error;
    const TFirmwareImage& image = *read.Image;
    EXPECT_EQ(image.Format, TImageFormat::IntelHex);
    ExpectBuffer(image, {{0x087C, 0x11},
                         {0x087D, 0x22},
                         {0x087E, 0x33},
                         {0x087F, 0x44},
                         {0x0880, 0x55},
                         {0x0881, 0x66},
                         {0x0882, 0x77},
                         {0x0883, 0x88},
                         {0x0900, 0xA5},
                         {0x0901, 0x5A}});
    EXPECT_THAT(FlaggedBlocks(image), ElementsAre(0x087C / 128, 0x0880 / 128, 0x0900 / 128));
    EXPECT_THAT(image.Given,
                ElementsAre(TAddressRange{0x087C, 0x0883}, TAddressRange{0x0900, 0x0901}));
}

// Extended segment addresses (offsets wrap inside the 64 KiB segment) and extended linear
// ones, in turn; what lies outside program memory is left out and counted.
TEST(ImageFileTest, ExtendedAddressesPlaceDataAndWhatIsOutsideProgramMemoryIsLeftOut) {
    const TImageReadResult read = Read(":02000000C0DE60\n"     // 0x0000: below program memory
                                       ":020000021000EC\n"     // segment 0x1000: base 0x10000
                                       ":04FFFE0001020304F5\n" // 0x1FFFE, 0x1FFFF, 0x10000, 0x10001
                                       ":020000040000FA\n"     // linear 0
                                       ":020A0000AABB8F\n"     // 0x0A00
                                       ":0200000200A05C\n"     // segment 0x00A0: base 0x0A00
                                       ":01001000CC23\n"       // 0x0A10
                                       ":020000040030CA\n"     // linear 0x0030: base 0x300000
                                       ":030000000F1E2DA3\n"   // 0x300000: configuration
                                       ":00000001FF\n");
    ASSERT_TRUE(read.Image) << read.Error;
    const TFirmwareImage& image = *read.Image;
    ExpectBuffer(image,
                 {{0x0000, 0xC0}, {0x0001, 0xDE}, {0x0A00, 0xAA}, {0x0A01, 0xBB}, {0x0A10, 0xCC}});
    EXPECT_THAT(FlaggedBlocks(image), ElementsAre(0, 0x0A00 / 128));
    EXPECT_THAT(image.Given,
                ElementsAre(TAddressRange{0x0000, 0x0001}, TAddressRange{0x0A00, 0x0A01},
                            TAddressRange{0x0A10, 0x0A10}, TAddressRange{0x10000, 0x10001},
                            TAddressRange{0x1FFFE, 0x1FFFF}, TAddressRange{0x300000, 0x300002}));

    const TImageSelection selection =
        SelectForProgram(image.Format, image.Given, image.BlockPresent, 0xBFFF);
    EXPECT_EQ(selection.BlocksSent, 1u);
    EXPECT_EQ(selection.BlocksInRange, 368u);
    EXPECT_EQ(selection.LeftOutBytes, 9u);
    EXPECT_EQ(LeftOutText(selection, 0xBFFF),
              "Left out 9 bytes outside program memory 0x0800..0xBFFF: 0x0000..0x0001, "
              "0x10000..0x10001, 0x1FFFE..0x1FFFF, 0x300000..0x300002");
    const std::vector<uint8_t> sent = BytesToSend(image.Bytes, image.BlockPresent, 0xBFFF);
    ASSERT_EQ(sent.size(), 128u);
    EXPECT_EQ(sent[0], 0xAA);
    EXPECT_EQ(sent[0x10], 0xCC);
}

// A raw image is anything that does not begin as a HEX file: every block flagged, its
// bytes as they are. Text that begins with ':' is a HEX file, even when its first record
// is broken.
TEST(ImageFileTest, RawImagesAndHexFilesAreToldApartByContent) {
    const std::string raw("\x3A\x01\x02\x10\xFF", 5);
    TImageReadResult read = Read(raw);
    ASSERT_TRUE(read.Image);
    EXPECT_EQ(read.Image->Format, TImageFormat::Raw);
    EXPECT_EQ(read.Image->RawLength, 5u);
    EXPECT_EQ(read.Image->Bytes[3], 0x10);
    EXPECT_EQ(FlaggedBlocks(*read.Image).size(), ImageBlockCount);

    read = Read("\xEF\xBB\xBF\r\n:02000G00C0DE60\r\n:00000001FF\r\n");
    EXPECT_FALSE(read.Image);
    EXPECT_EQ(read.Error, "line 2: 'G' is not a hex digit");
}

TEST(ImageFileTest, FilesThatCannotBeUsedAreRefusedWithTheirLine) {
    const struct {
        std::string Text;
        std::string Error;
    } cases[] = {
        {":020800001122C3\n:020900001122C4\n:00000001FF\n",
         "line 2: bad record checksum 0xC4 (the record's bytes need 0xC2)"},
        {":020800001122C3\n\n020900001122C2\n:00000001FF\n",
         "line 3: a record begins with ':', this line with '0'"},
        {":0208000011C3\n:00000001FF\n",
         "line 1: the record's length byte says 2 data bytes, the line holds 1"},
        {":020800001122C\n:00000001FF\n",
         "line 1: a record is an even number of hex digits, at least 10; this one has 13"},
        {":00000006FA\n:00000001FF\n", "line 1: unknown record type 06"},
        {":0100000210ED\n:00000001FF\n",
         "line 1: a record of type 02 holds 2 data bytes, this one 1"},
        {":020800001122C3\n:01080100995D\n:00000001FF\n",
         "line 2: the byte at 0x0801 is 0x99 here but 0x22 on line 1; records may overlap only "
         "with the same bytes"},
        {":020800001122C3\n", "no end-of-file record (:00000001FF): the file may be cut short"},
    };
    for (const auto& c : cases) {
        const TImageReadResult read = Read(c.Text);
        EXPECT_FALSE(read.Image) << c.Text;
        EXPECT_EQ(read.Error, c.Error);
    }
    // The same bytes twice are no conflict, and nothing after the end record counts.
    const TImageReadResult again =
        Read(":020800001122C3\n:0108010022D4\n:00000001FF\nnot a record\n");
    ASSERT_TRUE(again.Image) << again.Error;
    EXPECT_THAT(again.Image->Given, ElementsAre(TAddressRange{0x0800, 0x0801}));
}

// A HEX file saved by an editor or a Windows shell is still text: it is read as HEX or
// refused by its line, never copied into memory as a raw image. Erased flash is no text.
TEST(ImageFileTest, TextIsReadAsHexOrRefusedByItsLineNeverAsARawImage) {
    const std::string hex = ":020800001122C3\r\n:00000001FF\r\n";
    const auto utf16 = [](const std::string& Text, bool BigEndian, bool Mark) {
        std::string out = Mark ? (BigEndian ? "\xFE\xFF" : "\xFF\xFE") : "";
        for (const char c : Text) {
            out += BigEndian ? std::string{'\0', c} : std::string{c, '\0'};
        }
        return out;
    };
    for (const std::string& text :
         {utf16(hex, false, true), utf16(hex, true, true), utf16(hex, false, false)}) {
        const TImageReadResult read = Read(text);
        ASSERT_TRUE(read.Image) << read.Error;
        EXPECT_EQ(read.Image->Format, TImageFormat::IntelHex);
        EXPECT_THAT(read.Image->Given, ElementsAre(TAddressRange{0x0800, 0x0801}));
    }
    const struct {
        std::string Text;
        std::string Error;
    } refused[] = {
        {"; release 1.50\n" + hex, "line 1: a record begins with ':', this line with ';'"},
        {"# caf\xE9 build\n" + hex, "line 1: a record begins with ':', this line with '#'"},
        {utf16("// built\r\n" + hex, false, true),
         "line 1: a record begins with ':', this line with '/'"},
        {utf16(hex, false, true) + "\n", "the file is UTF-16 text but ends in half a character"},
    };
    for (const auto& c : refused) {
        const TImageReadResult read = Read(c.Text);
        EXPECT_FALSE(read.Image) << c.Error;
        EXPECT_EQ(read.Error, c.Error);
    }
    const TImageReadResult erased = Read(std::string(ImageBufferSize, '\xFF'));
    ASSERT_TRUE(erased.Image);
    EXPECT_EQ(erased.Image->Format, TImageFormat::Raw);
}

// Records that repeat earlier bytes add only what is new: a file of 300,000 one-byte
// records at one address reads in one pass (comparing each with every earlier one would
// take hours), and a record bridging two earlier ones is checked against both.
TEST(ImageFileTest, RecordsRepeatingEarlierBytesAreReadInOnePass) {
    std::string text;
    for (int i = 0; i < 300000; ++i) {
        text += ":01080000A552\n";
    }
    text += ":00000001FF\n";
    TImageReadResult read = Read(text);
    ASSERT_TRUE(read.Image) << read.Error;
    EXPECT_EQ(read.Image->Bytes[0x0800], 0xA5);
    EXPECT_THAT(read.Image->Given, ElementsAre(TAddressRange{0x0800, 0x0800}));

    read = Read(":020800001122C3\n:0208030044555A\n:050800001122334455F4\n:00000001FF\n");
    ASSERT_TRUE(read.Image) << read.Error;
    EXPECT_EQ(read.Image->Bytes[0x0802], 0x33);
    EXPECT_THAT(read.Image->Given, ElementsAre(TAddressRange{0x0800, 0x0804}));
    read = Read(":020800001122C3\n:0208030044555A\n:050800001122334466E3\n:00000001FF\n");
    EXPECT_EQ(read.Error, "line 3: the byte at 0x0804 is 0x66 here but 0x55 on line 2; records "
                          "may overlap only with the same bytes");
}

} // namespace
