// The icon Windows shows for a window in its title bar and on the taskbar: the one set on
// the window (WM_GETICON), else its window class's.
#pragma once

#include <QString>

class QWidget;

// True when that icon is the window's own: neither none nor the system's default
// application icon. Detail says which handles were found.
bool ShowsOwnIcon(QWidget& Window, QString& Detail);
