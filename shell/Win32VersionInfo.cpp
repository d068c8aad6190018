// The version information of a Windows program file: its VERSIONINFO resource, read and
// queried through version.dll (GetFileVersionInfoSizeW, GetFileVersionInfoW,
// VerQueryValueW). A block a test put in its place (TVersionInfo::SetSource) is answered
// as the compiled block is.
#include "shell/VersionBlock.h"

#include <QDir>

#include <windows.h>

#include <cstring>

namespace {

LPCWSTR Wide(const QString& Text) {
    return reinterpret_cast<LPCWSTR>(Text.utf16());
}

} // namespace

uint32_t TVersionInfo::BlockSize(const QString& FileName) {
    if (VersionSourceOverride()) {
        return static_cast<uint32_t>(VersionSourceOverride()->Block.size());
    }
    DWORD unused = 0;
    return ::GetFileVersionInfoSizeW(Wide(QDir::toNativeSeparators(FileName)), &unused);
}

bool TVersionInfo::ReadBlock(const QString& FileName, uint32_t Size, void* Data) {
    if (Data == nullptr) {
        return false;
    }
    if (VersionSourceOverride()) {
        const QByteArray& block = VersionSourceOverride()->Block;
        if (!VersionSourceOverride()->Readable || block.isEmpty() ||
            Size < static_cast<uint32_t>(block.size())) {
            return false;
        }
        std::memcpy(Data, block.constData(), static_cast<size_t>(block.size()));
        return true;
    }
    return ::GetFileVersionInfoW(Wide(QDir::toNativeSeparators(FileName)), 0, Size, Data) != FALSE;
}

bool TVersionInfo::QueryValue(std::span<const uint8_t> Block, const QString& SubBlock,
                              const uint8_t** Value, uint32_t* Length) {
    if (Value == nullptr || Length == nullptr || Block.empty()) {
        return false;
    }
    if (IsCompiledVersionBlock(Block)) {
        return QueryCompiledVersionBlock(Block, SubBlock, Value, Length);
    }
    // The system wants the path with its leading "\" ("\" alone is the fixed information).
    const QString path = SubBlock.startsWith(u'\\') ? SubBlock : u'\\' + SubBlock;
    void* found = nullptr;
    UINT units = 0;
    if (!::VerQueryValueW(Block.data(), Wide(path), &found, &units) || found == nullptr) {
        return false;
    }
    *Value = static_cast<const uint8_t*>(found);
    const bool isText = path.startsWith(QStringLiteral("\\StringFileInfo\\"), Qt::CaseInsensitive);
    if (!isText) {
        *Length = units; // bytes: the fixed information, the translation table
        return true;
    }
    // A string comes back as UTF-16 characters, counted with or without the zero after
    // them: given here as bytes, without it.
    const auto* text = reinterpret_cast<const wchar_t*>(found);
    UINT characters = units;
    while (characters > 0 && text[characters - 1] == L'\0') {
        --characters;
    }
    *Length = characters * static_cast<uint32_t>(sizeof(wchar_t));
    return true;
}

QString TVersionInfo::ValueText(std::span<const uint8_t> Block, const uint8_t* Value,
                                uint32_t Length) {
    if (IsCompiledVersionBlock(Block)) {
        return QString::fromUtf8(reinterpret_cast<const char*>(Value),
                                 static_cast<qsizetype>(Length));
    }
    return QString::fromWCharArray(reinterpret_cast<const wchar_t*>(Value),
                                   static_cast<qsizetype>(Length / sizeof(wchar_t)));
}
