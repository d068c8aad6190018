// Log lines of the upgrade stages that other parts write or look for too: the erase and
// write commands keep their progress percentage after the stage's line, and the command
// line tool follows the bootloader's identity line.
#pragma once

#include <QString>

inline const QString InfoLine = QStringLiteral("Retrieving Bootloader Info......");
inline const QString ErasingLine = QStringLiteral("Erasing Program Memory......");
inline const QString SendingLine = QStringLiteral("Sending New Program Data......");
