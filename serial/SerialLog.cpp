#include "serial/SerialLog.h"

Q_LOGGING_CATEGORY(lcSerial, "bootload.serial", QtWarningMsg)

QString HexBytes(const uint8_t* Bytes, size_t Length) {
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(Bytes), static_cast<qsizetype>(Length))
            .toHex(' '));
}
