// The version information of a system that keeps none in a program's file: the block
// compiled into the program (ProgramContent), for the running program's own file only.
#include "shell/VersionBlock.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstring>

namespace {

QByteArray ActiveBlock() {
    if (VersionSourceOverride()) {
        return VersionSourceOverride()->Block;
    }
    static const QByteArray programBlock = TVersionInfo::BuildBlock(TVersionInfo::ProgramContent());
    return programBlock;
}

bool IsProgramFile(const QString& FileName) {
    const QString own = QCoreApplication::applicationFilePath();
    return !FileName.isEmpty() && !own.isEmpty() &&
           QFileInfo(FileName).canonicalFilePath() == QFileInfo(own).canonicalFilePath();
}

} // namespace

uint32_t TVersionInfo::BlockSize(const QString& FileName) {
    return IsProgramFile(FileName) ? static_cast<uint32_t>(ActiveBlock().size()) : 0;
}

bool TVersionInfo::ReadBlock(const QString& FileName, uint32_t Size, void* Data) {
    if (!IsProgramFile(FileName) || Data == nullptr ||
        (VersionSourceOverride() && !VersionSourceOverride()->Readable)) {
        return false;
    }
    const QByteArray block = ActiveBlock();
    if (block.isEmpty() || Size < static_cast<uint32_t>(block.size())) {
        return false;
    }
    std::memcpy(Data, block.constData(), static_cast<size_t>(block.size()));
    return true;
}

bool TVersionInfo::QueryValue(std::span<const uint8_t> Block, const QString& SubBlock,
                              const uint8_t** Value, uint32_t* Length) {
    return QueryCompiledVersionBlock(Block, SubBlock, Value, Length);
}

QString TVersionInfo::ValueText(std::span<const uint8_t>, const uint8_t* Value, uint32_t Length) {
    return QString::fromUtf8(reinterpret_cast<const char*>(Value), static_cast<qsizetype>(Length));
}
