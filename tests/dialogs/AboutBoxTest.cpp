// The about box: what its labels and stamp show for the version information it finds.
#include "DialogTestSupport.h"
#include "shell/about.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

constexpr char TableName[] = "080904E4";

// A block like the program's, with the given file version (none: no "FileVersion" key)
// and file flags.
TVersionInfoSource BlockWith(std::optional<QString> FileVersion, uint32_t FileFlags = 0,
                             uint32_t FlagsMask = VS_FFI_FILEFLAGSMASK) {
    TVersionBlockContent content;
    content.Fixed.FileFlags = FileFlags;
    content.Fixed.FileFlagsMask = FlagsMask;
    content.Translations = {{0x0809, 0x04E4}};
    TVersionStringTable table{QString::fromLatin1(TableName), {}};
    table.Entries.emplace_back(QStringLiteral("FileDescription"), QStringLiteral("Unit Updater"));
    if (FileVersion) {
        table.Entries.emplace_back(QStringLiteral("FileVersion"), *FileVersion);
    }
    table.Entries.emplace_back(QStringLiteral("LegalCopyright"), QStringLiteral("(C) Someone"));
    content.Tables.push_back(table);
    return {TVersionInfo::BuildBlock(content), true};
}

} // namespace

TEST(AboutBox, VersionLineSplitsTheFileVersionAtItsLastDot) {
    const struct {
        std::optional<QString> FileVersion;
        QString Shown;
    } cases[] = {
        {QStringLiteral("2.1.0.37"), QStringLiteral("Version 2.1.0  Build 37")},
        {QStringLiteral("7"), QStringLiteral("Version   Build 7")},
        {QStringLiteral("1.2."), QStringLiteral("Version 1.2  Build ")},
        {QStringLiteral(".5"), QStringLiteral("Version   Build 5")},
        {QString(), QStringLiteral("Version   Build ")},
        {std::nullopt, QStringLiteral("Version   Build N/A")},
    };
    for (const auto& c : cases) {
        TVersionSourceGuard guard(BlockWith(c.FileVersion));
        TAboutBox box;
        EXPECT_EQ(box.Label2->text(), c.Shown);
        EXPECT_EQ(box.Label1->text(), QStringLiteral("Unit Updater"));
        EXPECT_EQ(box.Label3->text(), QStringLiteral("(C) Someone"));
        // Sized to its text, so nothing of it is cut off.
        EXPECT_GE(box.Label2->width(), box.Label2->fontMetrics().horizontalAdvance(c.Shown));
    }
}

TEST(AboutBox, AllTenKeysAreReadInTableOrderFromTheFirstTranslation) {
    TVersionBlockContent content;
    content.Translations = {{0x0409, 0x04B0}, {0x0809, 0x04E4}};
    TVersionStringTable wanted{QStringLiteral("040904B0"), {}};
    TVersionStringTable other{QStringLiteral("080904E4"), {}};
    // In reverse order, so that the box must look each key up by name.
    for (int i = 9; i >= 0; --i) {
        wanted.Entries.emplace_back(QLatin1String(VersionKeys[i]),
                                    QStringLiteral("value %1").arg(i));
        other.Entries.emplace_back(QLatin1String(VersionKeys[i]), QStringLiteral("other"));
    }
    content.Tables = {other, wanted};
    TVersionSourceGuard guard(TVersionInfoSource{TVersionInfo::BuildBlock(content), true});
    TAboutBox box;
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(box.VersionStrings[i], QStringLiteral("value %1").arg(i)) << VersionKeys[i];
    }
    EXPECT_EQ(box.Label1->text(), QStringLiteral("value 1"));
    EXPECT_EQ(box.Label2->text(), QStringLiteral("Version   Build value 2"));
    EXPECT_EQ(box.Label3->text(), QStringLiteral("value 4"));
}

TEST(AboutBox, ProgramsOwnBlockFillsEveryLabel) {
    TAboutBox box;
    EXPECT_EQ(box.VersionStrings[2], QStringLiteral(EXPECTED_FILE_VERSION));
    EXPECT_EQ(box.Label2->text(), VersionBuildText(QStringLiteral(EXPECTED_FILE_VERSION)));
    EXPECT_NE(box.Label1->text(), QStringLiteral("N/A"));
    EXPECT_NE(box.Label3->text(), QStringLiteral("N/A"));
    EXPECT_EQ(box.VersionStrings[5], QStringLiteral("N/A")) << "the build has no trade marks";
    EXPECT_EQ(!box.Image2->isHidden(), EXPECTED_PRERELEASE != 0);
}

TEST(AboutBox, WithoutVersionInformationTheLabelsKeepTheirDesignTexts) {
    TVersionSourceGuard guard(TVersionInfoSource{});
    TAboutBox box;
    EXPECT_EQ(box.Label1->text(), QStringLiteral("Label1"));
    EXPECT_EQ(box.Label2->text(), QStringLiteral("Label2"));
    EXPECT_EQ(box.Label3->text(), QStringLiteral("Label3"));
    EXPECT_TRUE(box.Image2->isHidden());
    for (const QString& text : box.VersionStrings) {
        EXPECT_EQ(text, QStringLiteral("N/A"));
    }
}

TEST(AboutBox, UnreadableDamagedOrUntranslatedInformationShowsNA) {
    TVersionBlockContent noTranslation;
    noTranslation.Tables = {{QString::fromLatin1(TableName),
                             {{QStringLiteral("FileVersion"), QStringLiteral("1.2.3.4")}}}};
    QByteArray garbage(200, '\xA5');
    const TVersionInfoSource sources[] = {
        {BlockWith(QStringLiteral("1.2.3.4"), VS_FF_PRERELEASE).Block, false},
        {garbage, true},
        {TVersionInfo::BuildBlock(noTranslation), true},
    };
    for (const TVersionInfoSource& source : sources) {
        TVersionSourceGuard guard(source);
        TAboutBox box;
        EXPECT_EQ(box.Label1->text(), QStringLiteral("N/A"));
        EXPECT_EQ(box.Label2->text(), QStringLiteral("Version   Build N/A"));
        EXPECT_EQ(box.Label3->text(), QStringLiteral("N/A"));
        EXPECT_TRUE(box.Image2->isHidden());
    }
}

TEST(AboutBox, MissingKeysShowNA) {
    TVersionBlockContent content;
    content.Translations = {{0x0809, 0x04E4}};
    content.Tables = {{QString::fromLatin1(TableName),
                       {{QStringLiteral("CompanyName"), QStringLiteral("Someone")}}}};
    TVersionSourceGuard guard(TVersionInfoSource{TVersionInfo::BuildBlock(content), true});
    TAboutBox box;
    EXPECT_EQ(box.VersionStrings[0], QStringLiteral("Someone"));
    EXPECT_EQ(box.Label1->text(), QStringLiteral("N/A"));
    EXPECT_EQ(box.Label2->text(), QStringLiteral("Version   Build N/A"));
    EXPECT_EQ(box.Label3->text(), QStringLiteral("N/A"));
}

TEST(AboutBox, StampShowsOnlyForAValidPreReleaseFlag) {
    const struct {
        uint32_t Flags;
        uint32_t Mask;
        bool Shown;
    } cases[] = {
        {0, VS_FFI_FILEFLAGSMASK, false},
        {VS_FF_DEBUG, VS_FFI_FILEFLAGSMASK, false},
        {VS_FF_PRERELEASE, VS_FFI_FILEFLAGSMASK, true},
        {VS_FF_PRERELEASE | VS_FF_DEBUG, VS_FFI_FILEFLAGSMASK, true},
        {VS_FF_PRERELEASE, VS_FF_DEBUG, false}, // flag not marked valid
    };
    for (const auto& c : cases) {
        TVersionSourceGuard guard(BlockWith(QStringLiteral("2.1.0.37"), c.Flags, c.Mask));
        TAboutBox box;
        EXPECT_EQ(!box.Image2->isHidden(), c.Shown) << c.Flags << " " << c.Mask;
    }
}

TEST(AboutBox, TextsFromTheFileAreShownLiterally) {
    TVersionBlockContent content;
    content.Translations = {{0x0809, 0x04E4}};
    content.Tables = {{QString::fromLatin1(TableName),
                       {{QStringLiteral("FileDescription"), QStringLiteral("<b>Bold</b> &amp;")}}}};
    TVersionSourceGuard guard(TVersionInfoSource{TVersionInfo::BuildBlock(content), true});
    TAboutBox box;
    EXPECT_EQ(box.Label1->text(), QStringLiteral("<b>Bold</b> &amp;"));
    EXPECT_EQ(box.Label1->textFormat(), Qt::PlainText);
}

TEST(AboutBox, WindowPicturesAndButton) {
    TAboutBox box;
    EXPECT_EQ(box.windowTitle(), QStringLiteral("About...."));
    EXPECT_EQ(box.minimumSize(), QSize(337, 193));
    EXPECT_EQ(box.maximumSize(), QSize(337, 193));
    const Qt::WindowFlags flags = box.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);

    ASSERT_FALSE(box.Image1->pixmap().isNull());
    EXPECT_EQ(box.Image1->pixmap().size(), QSize(66, 52));
    EXPECT_TRUE(box.Image1->pixmap().hasAlphaChannel());
    EXPECT_EQ(box.Image1->geometry(), QRect(17, 24, 66, 52));
    ASSERT_FALSE(box.Image2->pixmap().isNull());
    EXPECT_EQ(box.Image2->pixmap().size(), QSize(130, 66));
    EXPECT_EQ(box.Image2->geometry(), QRect(8, 8, 321, 137));

    EXPECT_EQ(box.OKButton->text(), QStringLiteral("OK"));
    EXPECT_TRUE(box.OKButton->isDefault());
    EXPECT_EQ(box.OKButton->geometry(), QRect(136, 160, 65, 25));
    box.show();
    box.OKButton->click();
    EXPECT_EQ(box.result(), QDialog::Accepted);
    EXPECT_FALSE(box.isVisible());
}
