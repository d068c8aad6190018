// Readable Qt values in failure messages.
#pragma once

#include <QString>

#include <ostream>

inline void PrintTo(const QString& Text, std::ostream* Out) {
    *Out << '"' << Text.toStdString() << '"';
}
