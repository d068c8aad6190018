// The version-information layer: block size and reading for the program's own file, and
// the three kinds of lookup, also on damaged blocks.
#include "shell/VersionInfo.h"
#include "DialogTestSupport.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<uint8_t> ReadProgramBlock() {
    const QString self = QCoreApplication::applicationFilePath();
    std::vector<uint8_t> block(TVersionInfo::BlockSize(self));
    if (block.empty() || !TVersionInfo::ReadBlock(self, block.size(), block.data())) {
        return {};
    }
    return block;
}

QString QueryString(std::span<const uint8_t> Block, const QString& SubBlock) {
    const uint8_t* value = nullptr;
    uint32_t length = 0;
    if (!TVersionInfo::QueryValue(Block, SubBlock, &value, &length)) {
        return QStringLiteral("<absent>");
    }
    EXPECT_EQ(value[length], 0) << "string values end with a zero byte";
    return QString::fromUtf8(reinterpret_cast<const char*>(value), length);
}

uint32_t FixedWord(std::span<const uint8_t> Block, size_t Offset) {
    const uint8_t* value = nullptr;
    uint32_t length = 0;
    if (!TVersionInfo::QueryValue(Block, QStringLiteral("\\"), &value, &length) ||
        length != sizeof(TFixedFileInfo)) {
        ADD_FAILURE() << "no fixed file information";
        return 0;
    }
    return value[Offset] | (value[Offset + 1] << 8) | (value[Offset + 2] << 16) |
           (static_cast<uint32_t>(value[Offset + 3]) << 24);
}

} // namespace

TEST(VersionInfoLayer, ProgramBlockCarriesTheBuildVersionAndStrings) {
    const std::vector<uint8_t> block = ReadProgramBlock();
    ASSERT_FALSE(block.empty());

    const uint8_t* value = nullptr;
    uint32_t length = 0;
    ASSERT_TRUE(TVersionInfo::QueryValue(block, QStringLiteral("\\VarFileInfo\\Translation"),
                                         &value, &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(value[0] | (value[1] << 8), 0x0809);
    EXPECT_EQ(value[2] | (value[3] << 8), 0x04E4);

    EXPECT_EQ(QueryString(block, QStringLiteral("\\StringFileInfo\\080904E4\\FileVersion")),
              QStringLiteral(EXPECTED_FILE_VERSION));
    EXPECT_EQ(QueryString(block, QStringLiteral("\\StringFileInfo\\080904E4\\ProductVersion")),
              QStringLiteral(EXPECTED_FILE_VERSION));
    for (const char* key : {"CompanyName", "FileDescription", "InternalName", "LegalCopyright",
                            "OriginalFilename", "ProductName", "Comments"}) {
        const QString text =
            QueryString(block, QStringLiteral("\\StringFileInfo\\080904E4\\") + key);
        EXPECT_NE(text, QStringLiteral("<absent>")) << key;
        EXPECT_FALSE(text.isEmpty()) << key;
    }

    const auto [ms, ls] = TVersionInfo::PackVersion(QStringLiteral(EXPECTED_FILE_VERSION));
    EXPECT_EQ(FixedWord(block, 0), VS_FFI_SIGNATURE);
    EXPECT_EQ(FixedWord(block, offsetof(TFixedFileInfo, FileVersionMS)), ms);
    EXPECT_EQ(FixedWord(block, offsetof(TFixedFileInfo, FileVersionLS)), ls);
    EXPECT_EQ(FixedWord(block, offsetof(TFixedFileInfo, FileFlagsMask)), VS_FFI_FILEFLAGSMASK);
    EXPECT_EQ((FixedWord(block, offsetof(TFixedFileInfo, FileFlags)) & VS_FF_PRERELEASE) != 0,
              EXPECTED_PRERELEASE != 0);
}

TEST(VersionInfoLayer, PackVersionPutsTwoNumbersInEachWord) {
    EXPECT_EQ(TVersionInfo::PackVersion(QStringLiteral("2.1.0.37")),
              std::make_pair(0x00020001u, 0x00000025u));
    EXPECT_EQ(TVersionInfo::PackVersion(QStringLiteral("1.50")), std::make_pair(0x00010032u, 0u));
    EXPECT_EQ(TVersionInfo::PackVersion(QString()), std::make_pair(0u, 0u));
}

TEST(VersionInfoLayer, OnlyTheProgramsOwnFileHasABlock) {
    EXPECT_EQ(TVersionInfo::BlockSize(QStringLiteral("/bin/sh")), 0u);
    EXPECT_EQ(TVersionInfo::BlockSize(QString()), 0u);
    uint8_t buffer[4096];
    EXPECT_FALSE(TVersionInfo::ReadBlock(QStringLiteral("/bin/sh"), sizeof buffer, buffer));
}

TEST(VersionInfoLayer, ReadingFailsIntoATooSmallBufferOrWhenUnreadable) {
    const QString self = QCoreApplication::applicationFilePath();
    const uint32_t size = TVersionInfo::BlockSize(self);
    ASSERT_GT(size, 8u);
    std::vector<uint8_t> buffer(size);
    EXPECT_FALSE(TVersionInfo::ReadBlock(self, size - 1, buffer.data()));

    TVersionSourceGuard guard(TVersionInfoSource{TVersionInfo::BuildBlock({}), false});
    EXPECT_GT(TVersionInfo::BlockSize(self), 0u);
    EXPECT_FALSE(TVersionInfo::ReadBlock(self, 4096, buffer.data()));
}

TEST(VersionInfoLayer, SeamWithoutBlockMeansNoVersionInformation) {
    TVersionSourceGuard guard(TVersionInfoSource{});
    EXPECT_EQ(TVersionInfo::BlockSize(QCoreApplication::applicationFilePath()), 0u);
}

TEST(VersionInfoLayer, LookupsIgnoreCaseAndTheLeadingBackslash) {
    TVersionBlockContent content;
    content.Translations = {{0x0409, 0x04B0}, {0x0809, 0x04E4}};
    content.Tables = {{QStringLiteral("040904B0"), {{QStringLiteral("FileVersion"), "3.4"}}},
                      {QStringLiteral("080904E4"), {{QStringLiteral("FileVersion"), "5.6"}}}};
    const QByteArray bytes = TVersionInfo::BuildBlock(content);
    const std::span<const uint8_t> block(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                         static_cast<size_t>(bytes.size()));

    EXPECT_EQ(QueryString(block, QStringLiteral("StringFileInfo\\040904b0\\fileversion")), "3.4");
    EXPECT_EQ(QueryString(block, QStringLiteral("\\StringFileInfo\\080904E4\\FileVersion")), "5.6");
    EXPECT_EQ(QueryString(block, QStringLiteral("\\StringFileInfo\\080904E4\\Comments")),
              "<absent>");
    EXPECT_EQ(QueryString(block, QStringLiteral("\\StringFileInfo\\041104E4\\FileVersion")),
              "<absent>");
    EXPECT_EQ(QueryString(block, QStringLiteral("\\StringFileInfo\\080904E4")), "<absent>");

    const uint8_t* value = nullptr;
    uint32_t length = 0;
    ASSERT_TRUE(TVersionInfo::QueryValue(block, QStringLiteral("varfileinfo\\translation"), &value,
                                         &length));
    EXPECT_EQ(length, 8u);
    EXPECT_EQ(value[0] | (value[1] << 8), 0x0409);
}

TEST(VersionInfoLayer, BlockWithoutTranslationsHasNoTranslationTable) {
    const QByteArray bytes = TVersionInfo::BuildBlock({});
    const std::span<const uint8_t> block(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                         static_cast<size_t>(bytes.size()));
    const uint8_t* value = nullptr;
    uint32_t length = 0;
    EXPECT_FALSE(TVersionInfo::QueryValue(block, QStringLiteral("\\VarFileInfo\\Translation"),
                                          &value, &length));
    EXPECT_TRUE(TVersionInfo::QueryValue(block, QStringLiteral("\\"), &value, &length));
}

TEST(VersionInfoLayer, DamagedBlocksAnswerNothingAndNeverReadPastTheirEnd) {
    const QByteArray whole = TVersionInfo::BuildBlock(TVersionInfo::ProgramContent());
    const uint8_t* value = nullptr;
    uint32_t length = 0;
    // Every truncation: the stated length no longer fits, so nothing is found.
    for (qsizetype cut = 0; cut < whole.size(); ++cut) {
        std::vector<uint8_t> part(whole.begin(), whole.begin() + cut);
        EXPECT_FALSE(TVersionInfo::QueryValue(
            part, QStringLiteral("\\StringFileInfo\\080904E4\\Comments"), &value, &length))
            << cut;
    }
    // A stated length that cuts the string table short, and lengths inside it that run over.
    std::vector<uint8_t> shortened(whole.begin(), whole.end());
    const uint32_t stated = static_cast<uint32_t>(whole.size() - 10);
    for (int i = 0; i < 4; ++i) {
        shortened[i] = static_cast<uint8_t>(stated >> (8 * i));
    }
    EXPECT_FALSE(TVersionInfo::QueryValue(
        shortened, QStringLiteral("\\StringFileInfo\\080904E4\\Comments"), &value, &length));
    // Every byte in turn set to 0xFF: whatever is found lies inside the block.
    for (qsizetype at = 0; at < whole.size(); ++at) {
        std::vector<uint8_t> damaged(whole.begin(), whole.end());
        damaged[static_cast<size_t>(at)] = 0xFF;
        for (const char* sub :
             {"\\", "\\VarFileInfo\\Translation", "\\StringFileInfo\\080904E4\\Comments"}) {
            if (TVersionInfo::QueryValue(damaged, QString::fromLatin1(sub), &value, &length)) {
                EXPECT_GE(value, damaged.data());
                EXPECT_LE(value + length, damaged.data() + damaged.size());
            }
        }
    }
    EXPECT_FALSE(TVersionInfo::QueryValue({}, QStringLiteral("\\"), &value, &length));
}
