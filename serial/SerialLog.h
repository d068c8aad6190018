// Trace of the serial line, off by default: QT_LOGGING_RULES="bootload.serial.debug=true".
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcSerial)

// "10 02 00 02 fe 10 03"
QString HexBytes(const uint8_t* Bytes, size_t Length);
