// The program's version information and the queries the about box asks of it: the size of
// the block, reading it into the caller's buffer, and looking up the fixed file
// information ("\"), the translation table ("\VarFileInfo\Translation") and the strings
// ("\StringFileInfo\LLLLCCCC\Key"). On Windows the program file's own VERSIONINFO
// resource answers, through the system's version API; elsewhere a block compiled into the
// program (file version from the project version, company, description, copyright, file
// and product names, the pre-release flag of the build), made from the same data as that
// resource.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

constexpr uint32_t VS_FFI_SIGNATURE = 0xFEEF04BD;
constexpr uint32_t VS_FFI_STRUCVERSION = 0x00010000;
constexpr uint32_t VS_FFI_FILEFLAGSMASK = 0x3F;
constexpr uint32_t VS_FF_DEBUG = 0x1;
constexpr uint32_t VS_FF_PRERELEASE = 0x2;

// The fixed file information, field for field; the block stores it little-endian.
struct TFixedFileInfo {
    uint32_t Signature = VS_FFI_SIGNATURE;
    uint32_t StrucVersion = VS_FFI_STRUCVERSION;
    uint32_t FileVersionMS = 0;
    uint32_t FileVersionLS = 0;
    uint32_t ProductVersionMS = 0;
    uint32_t ProductVersionLS = 0;
    uint32_t FileFlagsMask = VS_FFI_FILEFLAGSMASK;
    uint32_t FileFlags = 0;
    uint32_t FileOS = 0;
    uint32_t FileType = 0;
    uint32_t FileSubtype = 0;
    uint32_t FileDateMS = 0;
    uint32_t FileDateLS = 0;
};
static_assert(sizeof(TFixedFileInfo) == 52);

struct TVersionTranslation {
    uint16_t Language = 0;
    uint16_t CodePage = 0;
};

// One "StringFileInfo" table, named by language and code page in eight hex digits.
struct TVersionStringTable {
    QString Name; // "080904E4"
    std::vector<std::pair<QString, QString>> Entries;
};

struct TVersionBlockContent {
    TFixedFileInfo Fixed;
    std::vector<TVersionTranslation> Translations;
    std::vector<TVersionStringTable> Tables;
};

// What the version layer hands out in place of the program's own block (tests only).
struct TVersionInfoSource {
    QByteArray Block;     // empty: the file has no version information
    bool Readable = true; // false: the size is known but reading the block fails
};

class TVersionInfo {
public:
    // Size in bytes of the version information of FileName; 0 when it has none. Only the
    // running program's own file carries a block.
    static uint32_t BlockSize(const QString& FileName);
    // Copies the block into Data (Size bytes, at least BlockSize). False when it cannot.
    static bool ReadBlock(const QString& FileName, uint32_t Size, void* Data);
    // Looks SubBlock up in a block that ReadBlock filled. True with Value pointing into
    // Block and Length its size in bytes: the fixed file information for "\", the
    // translation entries (4 bytes each) for "\VarFileInfo\Translation", the string's
    // text for "\StringFileInfo\LLLLCCCC\Key" in the block's own encoding (UTF-8 with a
    // zero byte after it in the compiled block, UTF-16 in a Windows resource; ValueText
    // reads either). The leading "\" is optional, names match without regard to case.
    // False when the value is absent or the block is damaged.
    static bool QueryValue(std::span<const uint8_t> Block, const QString& SubBlock,
                           const uint8_t** Value, uint32_t* Length);
    // The text of a string that QueryValue found in Block.
    static QString ValueText(std::span<const uint8_t> Block, const uint8_t* Value, uint32_t Length);

    static QByteArray BuildBlock(const TVersionBlockContent& Content);
    // What this build says about itself.
    static TVersionBlockContent ProgramContent();
    // Packs "1.50.0.1" into the fixed file information's two version words.
    static std::pair<uint32_t, uint32_t> PackVersion(const QString& Version);

    // Tests only: answer from Source instead of the program's block; nullopt restores it.
    static void SetSource(std::optional<TVersionInfoSource> Source);
};
