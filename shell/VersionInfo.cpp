// The version block compiled into the program, and the queries on it. Where the system
// keeps a program's version information itself, its own file answers (a file per system:
// CompiledVersionInfo.cpp, Win32VersionInfo.cpp).
#include "shell/VersionBlock.h"

#include <QStringList>

#include <cstring>

#ifndef BOOTLOAD_FILE_VERSION
#define BOOTLOAD_FILE_VERSION "0.0.0.0"
#endif
#ifndef BOOTLOAD_PRERELEASE
#define BOOTLOAD_PRERELEASE 0
#endif
#ifndef BOOTLOAD_COMPANY
#define BOOTLOAD_COMPANY "Tarnwick Ltd"
#endif
#ifndef BOOTLOAD_DESCRIPTION
#define BOOTLOAD_DESCRIPTION "Firmware Updater"
#endif
#ifndef BOOTLOAD_COPYRIGHT
#define BOOTLOAD_COPYRIGHT "Copyright (C) 2024 Tarnwick Ltd"
#endif
#ifndef BOOTLOAD_COMMENTS
#define BOOTLOAD_COMMENTS "Updates the firmware of a unit over its serial port"
#endif

// Block layout, little-endian throughout:
//   u32 total length, 4 bytes "VERS", the fixed file information (13 x u32),
//   u16 translation count, then per translation u16 language, u16 code page,
//   u16 table count, then per table 8 ASCII bytes of name and u16 entry count, then per
//   entry u16 key length, key (UTF-8), u16 value length, value (UTF-8), one zero byte.

namespace {

constexpr char BlockTag[4] = {'V', 'E', 'R', 'S'};
constexpr int TableNameLength = 8;

void PutU16(QByteArray& Out, uint16_t Value) {
    Out.append(static_cast<char>(Value & 0xFF));
    Out.append(static_cast<char>(Value >> 8));
}

void PutU32(QByteArray& Out, uint32_t Value) {
    PutU16(Out, static_cast<uint16_t>(Value & 0xFFFF));
    PutU16(Out, static_cast<uint16_t>(Value >> 16));
}

void PutText(QByteArray& Out, const QString& Text) {
    QByteArray bytes = Text.toUtf8();
    bytes.truncate(0xFFFF);
    PutU16(Out, static_cast<uint16_t>(bytes.size()));
    Out.append(bytes);
}

// Walks a block without ever reading past its end; any damage makes Ok false.
class TBlockReader {
public:
    explicit TBlockReader(std::span<const uint8_t> Block) : Data(Block) {}

    bool Ok = true;

    const uint8_t* Take(size_t Count) {
        if (!Ok || Count > Data.size() - Pos) {
            Ok = false;
            return nullptr;
        }
        const uint8_t* at = Data.data() + Pos;
        Pos += Count;
        return at;
    }
    uint16_t U16() {
        const uint8_t* at = Take(2);
        return at ? static_cast<uint16_t>(at[0] | (at[1] << 8)) : 0;
    }
    uint32_t U32() {
        const uint32_t low = U16();
        return low | (static_cast<uint32_t>(U16()) << 16);
    }

private:
    std::span<const uint8_t> Data;
    size_t Pos = 0;
};

bool Found(const uint8_t* At, uint32_t Size, const uint8_t** Value, uint32_t* Length) {
    if (At == nullptr) {
        return false;
    }
    *Value = At;
    *Length = Size;
    return true;
}

bool FindString(TBlockReader& Reader, const QString& Table, const QString& Key,
                const uint8_t** Value, uint32_t* Length) {
    const uint16_t tableCount = Reader.U16();
    for (uint16_t t = 0; t < tableCount && Reader.Ok; ++t) {
        const uint8_t* name = Reader.Take(TableNameLength);
        const uint16_t entryCount = Reader.U16();
        const bool wanted =
            name != nullptr &&
            QString::fromLatin1(reinterpret_cast<const char*>(name), TableNameLength)
                    .compare(Table, Qt::CaseInsensitive) == 0;
        for (uint16_t e = 0; e < entryCount && Reader.Ok; ++e) {
            const uint16_t keyLength = Reader.U16();
            const uint8_t* key = Reader.Take(keyLength);
            const uint16_t valueLength = Reader.U16();
            const uint8_t* value = Reader.Take(valueLength + 1u);
            if (!Reader.Ok || value[valueLength] != 0) {
                return false;
            }
            if (wanted && QString::fromUtf8(reinterpret_cast<const char*>(key), keyLength)
                                  .compare(Key, Qt::CaseInsensitive) == 0) {
                return Found(value, valueLength, Value, Length);
            }
        }
    }
    return false;
}

} // namespace

bool IsCompiledVersionBlock(std::span<const uint8_t> Block) {
    return Block.size() >= 8 && std::memcmp(Block.data() + 4, BlockTag, sizeof BlockTag) == 0;
}

bool QueryCompiledVersionBlock(std::span<const uint8_t> Block, const QString& SubBlock,
                               const uint8_t** Value, uint32_t* Length) {
    if (Value == nullptr || Length == nullptr) {
        return false;
    }
    TBlockReader reader(Block);
    const uint32_t totalLength = reader.U32();
    const uint8_t* tag = reader.Take(sizeof BlockTag);
    if (!reader.Ok || totalLength > Block.size() || std::memcmp(tag, BlockTag, 4) != 0) {
        return false;
    }
    reader = TBlockReader(Block.first(totalLength));
    reader.Take(8);

    QString path = SubBlock;
    while (path.startsWith(u'\\')) {
        path.remove(0, 1);
    }
    const uint8_t* fixed = reader.Take(sizeof(TFixedFileInfo));
    if (path.isEmpty()) {
        return Found(fixed, sizeof(TFixedFileInfo), Value, Length);
    }
    const uint16_t translationCount = reader.U16();
    const uint8_t* translations = reader.Take(translationCount * 4u);
    const QStringList parts = path.split(u'\\');
    if (parts.size() == 2 && parts[0].compare(u"VarFileInfo", Qt::CaseInsensitive) == 0 &&
        parts[1].compare(u"Translation", Qt::CaseInsensitive) == 0) {
        return translationCount > 0 && Found(translations, translationCount * 4u, Value, Length);
    }
    if (parts.size() == 3 && parts[0].compare(u"StringFileInfo", Qt::CaseInsensitive) == 0 &&
        parts[1].size() == TableNameLength && reader.Ok) {
        return FindString(reader, parts[1], parts[2], Value, Length);
    }
    return false;
}

QByteArray TVersionInfo::BuildBlock(const TVersionBlockContent& Content) {
    QByteArray out;
    PutU32(out, 0); // total length, filled in below
    out.append(BlockTag, sizeof BlockTag);
    const TFixedFileInfo& f = Content.Fixed;
    for (uint32_t word : {f.Signature, f.StrucVersion, f.FileVersionMS, f.FileVersionLS,
                          f.ProductVersionMS, f.ProductVersionLS, f.FileFlagsMask, f.FileFlags,
                          f.FileOS, f.FileType, f.FileSubtype, f.FileDateMS, f.FileDateLS}) {
        PutU32(out, word);
    }
    PutU16(out, static_cast<uint16_t>(Content.Translations.size()));
    for (const TVersionTranslation& t : Content.Translations) {
        PutU16(out, t.Language);
        PutU16(out, t.CodePage);
    }
    PutU16(out, static_cast<uint16_t>(Content.Tables.size()));
    for (const TVersionStringTable& table : Content.Tables) {
        out.append(table.Name.toLatin1().leftJustified(TableNameLength, '0', true));
        PutU16(out, static_cast<uint16_t>(table.Entries.size()));
        for (const auto& [key, value] : table.Entries) {
            PutText(out, key);
            PutText(out, value);
            out.append('\0');
        }
    }
    const uint32_t total = static_cast<uint32_t>(out.size());
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<char>((total >> (8 * i)) & 0xFF);
    }
    return out;
}

std::pair<uint32_t, uint32_t> TVersionInfo::PackVersion(const QString& Version) {
    uint32_t parts[4] = {0, 0, 0, 0};
    const QStringList fields = Version.split(u'.');
    for (int i = 0; i < 4 && i < fields.size(); ++i) {
        parts[i] = fields[i].toUInt() & 0xFFFF;
    }
    return {(parts[0] << 16) | parts[1], (parts[2] << 16) | parts[3]};
}

TVersionBlockContent TVersionInfo::ProgramContent() {
    const QString version = QStringLiteral(BOOTLOAD_FILE_VERSION);
    TVersionBlockContent content;
    const auto [ms, ls] = PackVersion(version);
    content.Fixed.FileVersionMS = content.Fixed.ProductVersionMS = ms;
    content.Fixed.FileVersionLS = content.Fixed.ProductVersionLS = ls;
    content.Fixed.FileFlags = BOOTLOAD_PRERELEASE ? VS_FF_PRERELEASE : 0;
    content.Fixed.FileType = 1; // an application
    content.Translations.push_back({0x0809, 0x04E4});
    // The same strings as the Windows programs' resource (shell/ProgramVersion.cmake).
    content.Tables.push_back(
        {QStringLiteral("080904E4"),
         {{QStringLiteral("CompanyName"), QStringLiteral(BOOTLOAD_COMPANY)},
          {QStringLiteral("FileDescription"), QStringLiteral(BOOTLOAD_DESCRIPTION)},
          {QStringLiteral("FileVersion"), version},
          {QStringLiteral("InternalName"), QStringLiteral("Bootload")},
          {QStringLiteral("LegalCopyright"), QStringLiteral(BOOTLOAD_COPYRIGHT)},
          {QStringLiteral("OriginalFilename"), QStringLiteral("Bootload")},
          {QStringLiteral("ProductName"), QStringLiteral(BOOTLOAD_DESCRIPTION)},
          {QStringLiteral("ProductVersion"), version},
          {QStringLiteral("Comments"), QStringLiteral(BOOTLOAD_COMMENTS)}}});
    return content;
}

std::optional<TVersionInfoSource>& VersionSourceOverride() {
    static std::optional<TVersionInfoSource> source;
    return source;
}

void TVersionInfo::SetSource(std::optional<TVersionInfoSource> Source) {
    VersionSourceOverride() = std::move(Source);
}
