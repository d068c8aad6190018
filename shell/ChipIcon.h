// The chip icon every window and dialog shows, in the title bar and the taskbar: the
// images of the program file's own icon (Chip.ico), so both look alike on every system.
#pragma once

#include <QIcon>

// Null when the icon in the program's resources cannot be read.
QIcon ChipIcon();
