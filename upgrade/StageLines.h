// Log lines that both a stage and the bootloader command behind it write: the command
// keeps its progress percentage after the stage's line.
#pragma once

#include <QString>

inline const QString ErasingLine = QStringLiteral("Erasing Program Memory......");
inline const QString SendingLine = QStringLiteral("Sending New Program Data......");
